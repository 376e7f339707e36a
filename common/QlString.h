// QlStr: the one string type of the system.
//
// A handle to a QlStrBody (common/QlGutz.h) with value semantics: copies share
// long texts until one of them changes. A null string (no text) differs from
// an empty one: IsNotNull is true for empty, IsEmpty is false for null. The
// default constructor gives an empty string; CtorNull a null one.
//
// Narrow selectors: 0 OEM, 1 ANSI, 3 UTF-8 (2 is reported and taken as ANSI).
// Invalid arguments are reported through qlHostAssert and then leave the
// string unchanged or give an empty result; failed conversions are reported
// through qlHostWin32Error. A full heap throws QlBadAlloc ("Out of memory").
#pragma once

#include <cstdarg>
#include <cstdint>

#include "common/QlGutz.h"

// Lines named in the reports of the QlString source.
enum QlStringLine {
    kStringCharAt = 118,        // CharAt outside 0..length, or on a null string
    kStringAppendNull = 164,    // appending from a null pointer
    kStringCompareCount = 392,  // comparing a negative number of units
};

class QlStr {
public:
    // --- construction
    QlStr();                                        // empty
    QlStr(const QlStr& other);                      // shares heap text
    QlStr(QlStr&& other);
    QlStr(const QlChar* text);                      // null pointer gives null
    QlStr(const QlChar* text, int count);           // count units; null pointer gives null
    QlStr(const char* text, int selector);          // NUL-terminated narrow text
    QlStr(const char* text, int byteCount, int selector);  // byteCount -1: NUL-terminated
    explicit QlStr(int32_t value, int radix);
    explicit QlStr(uint32_t value, int radix);
    ~QlStr();

    static QlStr CtorEmpty();
    static QlStr CtorNull();
    static QlStr CtorCopy(const QlStr& other) { return QlStr(other); }
    static QlStr CtorCopyOrEmpty(const QlStr& other);
    static QlStr CtorText(const QlChar* text) { return QlStr(text); }
    static QlStr CtorNarrow(const char* text, int selector) { return QlStr(text, selector); }
    static QlStr CtorRepeat(QlChar unit, int count);  // count <= 0 gives null
    static QlStr CtorRepeatNarrow(char unit, int count, int selector);
#ifdef _WIN32
    static QlStr CtorResource(int id);
#endif

    // --- assignment and state
    QlStr& operator=(const QlStr& other) { return Assign(other); }
    QlStr& operator=(QlStr&& other);
    QlStr& operator=(const QlChar* text) { return AssignText(text); }
    QlStr& Assign(const QlStr& other);
    QlStr& AssignText(const QlChar* text);
    QlStr& AssignAnsi(const char* text);
    QlStr& SetNull();
    QlStr& Clear();
    void Dtor() { SetNull(); }  // releases the text early; the string stays usable
    void Swap(QlStr& other);
    // Resizes, keeping the leading units; new units read as 0 until written.
    QlStr& SetLength(int count);
    // The text made private for writing (null for a null string).
    QlChar* Buffer();
#ifdef _WIN32
// windows.h maps LoadString to LoadStringW; both names reach the same member.
#pragma push_macro("LoadString")
#undef LoadString
    QlStr& LoadString(int id);
    QlStr& LoadStringW(int id) { return LoadString(id); }
#pragma pop_macro("LoadString")
#endif

    // --- queries
    const QlChar* Text() const { return m_body->text; }
    int Length() const { return m_body->length; }
    int ByteLength() const { return m_body->length * 2; }
    bool IsNull() const { return m_body->text == nullptr; }
    bool IsNotNull() const { return m_body->text != nullptr; }
    bool IsEmpty() const { return m_body->text != nullptr && m_body->length == 0; }
    bool HasText() const { return m_body->length > 0; }
    bool HasNonAscii() const { return m_body->HasNonAscii(); }
    QlChar CharAt(int index) const;
    QlChar FirstChar() const;
    QlChar LastChar() const;
    const QlStrBody* Body() const { return m_body; }

    // --- conversions
    int AnsiLength() const { return m_body->NarrowLength(1); }
    int OemLength() const { return m_body->NarrowLength(0); }
    int Utf8Length() const { return m_body->NarrowLength(3); }
    // Narrow views in six rotating buffers shared by both: a pointer stays
    // valid for the next five calls of either. Null gives "".
    const char* ToAnsi() const { return m_body->ToAnsi(); }
    const char* ToUtf8Static() const { return m_body->ToUtf8Static(); }
    char FirstNarrowChar(int selector) const { return m_body->FirstNarrowChar(selector); }

#ifdef _WIN32
    // --- formatting (msvcrt: "%s" in a wide format is wide text)
    QlStr& Format(const QlChar* format, ...);
    QlStr& FormatV(const QlChar* format, va_list args);
    QlStr& FormatAnsi(const char* format, ...);
#endif

    // --- numbers: 0x80000000 when the text is not a number
    int32_t ToInt() const { return m_body->ToInt(); }

    // --- appending
    QlStr& Add(const QlStr& other) { return Append(other); }
    QlStr& Append(const QlStr& other);
    QlStr& AddText(const QlChar* text) { return AppendText(text); }
    QlStr& AppendText(const QlChar* text);
    QlStr& AddNarrow(const char* text, int selector);
    QlStr& AppendAnsi(const char* text) { return AddNarrow(text, 1); }
    QlStr& AppendChar(QlChar unit);
    QlStr& operator+=(const QlStr& other) { return Append(other); }
    QlStr& operator+=(const QlChar* text) { return AppendText(text); }
    QlStr& operator+=(QlChar unit) { return AppendChar(unit); }
    QlStr ConcatText(const QlChar* text) const;
    QlStr ConcatChar(QlChar unit) const;

    // --- comparison and search (path-aware: '\' equals '/', case ignored)
    bool Equals(const QlStr& other) const { return m_body->Equals(*other.m_body); }
    bool EqualsNoCase(const QlChar* text) const { return m_body->EqualsNoCaseText(text); }
    bool EqualsNoCaseAnsi(const char* text) const;
    // Mode 0: starts with other, 1: ends with it, 2: contains it.
    bool MatchNoCase(const QlStr& other, int mode) const
    {
        return m_body->MatchNoCase(*other.m_body, mode);
    }
    int Find(const QlChar* pattern, int start = 0) const { return m_body->Find(pattern, start); }
    int FindNarrow(const char* pattern, int start, int selector) const;
    int FindLastChar(QlChar unit, int position) const
    {
        return m_body->FindLastChar(unit, position);
    }
    bool ContainsChar(QlChar unit) const { return m_body->ContainsChar(unit); }
    bool ContainsAnyOf(const QlChar* set) const { return m_body->ContainsAnyOf(set); }
    bool HasBlank() const { return m_body->HasBlank(); }
    bool IsAllUpper() const { return m_body->IsAllUpper(); }
    bool IsDotEntry() const { return m_body->IsDotEntry(); }
    bool IsSlash() const { return m_body->IsSlash(); }
    bool IsDriveSpec() const { return m_body->IsDriveSpec(); }
    bool IsUncRoot() const { return m_body->IsUncRoot(); }
    bool IsQuoted() const { return m_body->IsQuoted(); }

    // --- in-place changes
    QlStr& MakeUpper() { m_body->MakeUpper(); return *this; }
    QlStr& MakeLower() { m_body->MakeLower(); return *this; }
    QlStr& FixCase(bool enable, bool onlyWhenAllUpper, bool keepFirst)
    {
        m_body->FixCase(enable, onlyWhenAllUpper, keepFirst);
        return *this;
    }
    QlStr& TrimLeft() { m_body->TrimLeft(); return *this; }
    QlStr& TrimRight() { m_body->TrimRight(); return *this; }
    QlStr& DropFirst() { m_body->DropFirst(); return *this; }
    QlStr& DropLast() { m_body->DropLast(); return *this; }
    QlStr& KeepRange(int start, int count) { m_body->KeepRange(start, count); return *this; }
    QlStr& AddTrailingSlash() { m_body->AddTrailingSlash(); return *this; }
    QlStr& StripTrailingSlash(const QlChar* root)
    {
        m_body->StripTrailingSlash(root);
        return *this;
    }
    // Keeps the slash when the text is its own PathRoot ("C:\", "\\srv\share\").
    QlStr& StripTrailingSlash();
    QlStr& Quote() { m_body->Quote(); return *this; }
    QlStr& Unquote() { m_body->Unquote(); return *this; }
    QlStr& ReplaceChar(QlChar from, QlChar to) { m_body->ReplaceChar(from, to); return *this; }
    QlStr& TranslateChars(const QlChar* from, const QlChar* to)
    {
        m_body->TranslateChars(from, to);
        return *this;
    }
    QlStr& ToBackslashes() { m_body->ToBackslashes(); return *this; }

    // --- new strings from parts
    QlStr Left(int count, QlChar fill = QL(' ')) const;
    // The fill is a narrow unit of code page 0 or 1.
    QlStr Mid(int start, int count, char fill = ' ', int selector = 1) const;
    QlStr MidFrom(int start) const;
    // Mode 0: this keeps the text before the unit, second the rest from it;
    // 1: this keeps up to and including the unit, second the rest after it;
    // 2: this keeps the text before, second the text after (unit dropped).
    bool SplitAt(QlStr& second, QlChar unit, int mode)
    {
        return m_body->SplitAt(*second.m_body, unit, mode);
    }
    bool PopPathElement(QlStr& second) { return m_body->PopPathElement(*second.m_body); }

    // --- parts of the text parsed as a path (common/fileid.cpp); a text that
    // does not parse gives an empty string
    bool IsValidPath() const;
    QlStr PathDrive() const;
    QlStr PathDriveDir() const;   // drive + directory
    QlStr PathFolder() const;     // drive + directory + '\' (the drive alone without a directory)
    QlStr PathName() const;
    QlStr PathExtension() const;
    QlStr PathFileName() const;   // name.ext
    QlStr PathRoot() const;       // drive + '\'

private:
    struct NullTag {};
    explicit QlStr(NullTag);

    QlStrBody* m_body;  // never null
};

// --- comparisons
int qlStrCompare(const QlStr& a, const QlStr& b);                 // -1, 0, 1
int qlStrCompareNoCase(const QlStr& a, const QlStr& b);           // _wcsicmp
int qlStrCompareNoCaseN(const QlStr& a, const QlStr& b, int count);
int qlGutzCompareStrNoCaseSlashN(const QlStr& a, const QlStr& b, int count);
inline bool qlStrNotEqual(const QlStr& a, const QlStr& b) { return !a.Equals(b); }
bool qlStrEqualNoCase(const QlStr& a, const QlStr& b);
inline bool qlStrNotEqualNoCase(const QlStr& a, const QlStr& b) { return !qlStrEqualNoCase(a, b); }

inline bool operator==(const QlStr& a, const QlStr& b) { return a.Equals(b); }
inline bool operator!=(const QlStr& a, const QlStr& b) { return !a.Equals(b); }
inline bool operator==(const QlStr& a, const QlChar* b) { return a.Body()->EqualsText(b); }
inline bool operator!=(const QlStr& a, const QlChar* b) { return !a.Body()->EqualsText(b); }
inline bool operator==(const QlChar* a, const QlStr& b) { return b.Body()->EqualsText(a); }
inline bool operator!=(const QlChar* a, const QlStr& b) { return !b.Body()->EqualsText(a); }

// --- concatenation
QlStr qlStrConcat(const QlStr& a, const QlStr& b);
// n units of a followed by m units of b.
QlStr qlGutzJoin(const QlChar* a, int n, const QlChar* b, int m);
inline QlStr operator+(const QlStr& a, const QlStr& b) { return qlStrConcat(a, b); }
inline QlStr operator+(const QlStr& a, const QlChar* b) { return a.ConcatText(b); }
inline QlStr operator+(const QlStr& a, QlChar b) { return a.ConcatChar(b); }
inline QlStr operator+(const QlChar* a, const QlStr& b) { return qlStrConcat(QlStr(a), b); }

// A wide copy of a narrow text (null for a null text; empty after a failed
// conversion).
class QlStrWide {
public:
    QlStrWide(const char* text, int selector);
    static QlStrWide Ctor(const char* text, int selector) { return QlStrWide(text, selector); }
    ~QlStrWide();
    QlStrWide(const QlStrWide&) = delete;
    QlStrWide& operator=(const QlStrWide&) = delete;
    const QlChar* Text() const { return m_text; }
    int Length() const;

private:
    QlChar* m_text;
};

// A narrow copy of a string in the code page of selector 0, 1 or 3 (null for
// a null string; empty after a failed conversion or with another selector).
class QlStrNarrow {
public:
    QlStrNarrow(const QlStr& text, int selector);
    static QlStrNarrow Ctor(const QlStr& text, int selector) { return QlStrNarrow(text, selector); }
    ~QlStrNarrow();
    QlStrNarrow(const QlStrNarrow&) = delete;
    QlStrNarrow& operator=(const QlStrNarrow&) = delete;
    const char* Text() const { return m_text; }
    int Length() const { return m_length; }

private:
    char* m_text;
    int m_length;
};
