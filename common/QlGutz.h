// QlStrBody: the storage behind every QlStr, and the helpers it is built on.
//
// A body holds a null string (no text), an empty string, or a text. Texts of
// up to 12 units live in the body's own inline buffer; longer texts live in a
// heap block that begins with a 16-bit share count and is shared between
// copies until one of them changes (copy on write). Bodies themselves are
// recycled through a process-wide pool while the program runs.
//
// The portable part (storage, numbers, comparisons, text utilities) uses no
// Windows header. Code-page conversions and case mapping go through the small
// platform interface at the end of this file: QlGutzWin.cpp on Windows,
// QlGutzNative.cpp (exact stand-ins for code pages 437, 1252 and UTF-8) in the
// native build. Invalid arguments are reported through the assertion hook and
// then leave the string unchanged, or give an empty result.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "common/QlTypes.h"

// Lines named in the reports of the QlGutz source.
enum QlGutzLine {
    kGutzShareLimit = 131,      // a share count would pass 0x7FFF
    kGutzReleaseCount = 158,    // releasing a block whose count is already 0
    kGutzNegativeLength = 204,  // a negative unit count
    kGutzNullChars = 211,       // units asked for from a null pointer
    kGutzNarrowCount = 233,     // a narrow byte count below -1
    kGutzBadSelector = 262,     // selector 2 (taken as ANSI)
    kGutzMeasureWide = 281,     // narrow-to-wide measure failed (Win32 error)
    kGutzConvertWide = 297,     // narrow-to-wide conversion failed (Win32 error)
    kGutzMeasureNarrow = 318,   // wide-to-narrow measure failed (Win32 error)
    kGutzViewTooLong = 342,     // a narrow view of more than 5000 units
    kGutzViewConvert = 351,     // a narrow view failed (Win32 error)
    kGutzViewResult = 356,      // a narrow view of more than 5000 bytes
    kGutzWideConvert = 384,     // QlStrWide conversion failed (Win32 error)
    kGutzWideFit = 391,         // QlStrWide result larger than its room
    kGutzNarrowSelector = 412,  // QlStrNarrow with a selector other than 0, 1, 3
    kGutzNarrowConvert = 425,   // QlStrNarrow conversion failed (Win32 error)
    kGutzCharSelector = 447,    // one-unit conversion with a selector other than 0, 1
    kGutzCharConvert = 452,     // one-unit conversion failed (Win32 error)
    kGutzRadix = 488,           // number to text with a radix outside 2..36
    kGutzCopyUnits = 512,       // a counted copy larger than its target
    kGutzFormatNull = 540,      // formatting with a null format
    kGutzFormatBad = 547,       // a format that msvcrt refuses
    kGutzResourceId = 571,      // a negative string-table id
    kGutzResourceMissing = 580, // no string-table entry (Win32 error)
    kGutzCompareNull = 611,     // comparing a null text
    kGutzCompareCount = 618,    // comparing a negative number of units
    kGutzFindNull = 640,        // searching with or in a null text
    kGutzMatchMode = 662,       // a match mode other than 0, 1, 2
    kGutzFindStart = 689,       // a negative search start
    kGutzFindLastPosition = 712,// a negative position for FindLastChar
    kGutzKeepRange = 745,       // a kept range outside the text
    kGutzTranslateSets = 781,   // translation sets missing or of unequal length
    kGutzLeftCount = 806,       // a negative count for Left
    kGutzMidRange = 828,        // a negative start or count for Mid
    kGutzMidFromStart = 851,    // a negative start for MidFrom
    kGutzJoinCount = 874,       // a join part with a negative count or no text
    kGutzSplitMode = 903,       // a split mode other than 0, 1, 2
};

// Texts of up to this many units need no heap block.
const int kQlStrInlineUnits = 12;
// A heap block's share count never passes this.
const int kQlStrShareMax = 0x7FFF;
// The rotating narrow views hold up to this many bytes (plus the NUL).
const int kQlStrViewBytes = 5000;

// The code pages behind the narrow selectors.
enum QlCodePage { kQlCodePageOem, kQlCodePageAnsi, kQlCodePageUtf8 };

// Narrow selector to code page: 0 OEM, 3 UTF-8, everything else ANSI
// (2 is reported first).
QlCodePage qlGutzCodePage(int selector);

struct QlStrBody {
    int32_t length;                       // units, without the NUL
    QlChar* text;                         // null for a null string
    QlChar inlineText[kQlStrInlineUnits + 1];

    // --- state
    void InitNull() { length = 0; text = nullptr; }
    bool IsNull() const { return text == nullptr; }
    bool IsInline() const { return text == inlineText; }
    bool IsHeap() const { return text != nullptr && text != inlineText; }
    // 0 for null, 1 for inline text, else the heap block's count.
    int ShareCount() const;

    // --- storage
    void ReleaseText();                         // back to null
    void SetNull() { ReleaseText(); }
    void SetEmpty();
    void CopyFrom(const QlStrBody& other);      // into a null body: copy construction
    void TakeFrom(QlStrBody& other);            // moves the text here; other becomes null
    void Assign(const QlStrBody& other);
    void AssignChars(const QlChar* chars, int count);
    void AssignText(const QlChar* chars);       // NUL-terminated; null gives null
    // byteCount -1: NUL-terminated. A null pointer gives null.
    void AssignNarrow(const char* chars, int byteCount, int selector);
    void AssignRepeat(QlChar unit, int count);  // count <= 0 gives null
    void SetLength(int count);
    void MakePrivate();
    void AppendChars(const QlChar* chars, int count);
    void Append(const QlStrBody& other);

    // --- conversions
    int NarrowLength(int selector) const;  // bytes without the NUL; 0 for null
    const char* ToAnsi() const;            // rotating views
    const char* ToUtf8Static() const;
    char FirstNarrowChar(int selector) const;

    // --- numbers
    int32_t ToInt() const;
    void AssignNumber(int32_t value, int radix);
    void AssignUnsigned(uint32_t value, int radix);

#ifdef _WIN32
    // --- Windows only: msvcrt formatting and the program's string table
    void FormatV(const QlChar* format, va_list args);
    void LoadResource(int id);
#endif

    // --- comparison and search
    bool Equals(const QlStrBody& other) const;
    bool EqualsText(const QlChar* chars) const;
    bool EqualsNoCase(const QlStrBody& other) const;
    bool EqualsNoCaseText(const QlChar* chars) const;
    bool MatchNoCase(const QlStrBody& other, int mode) const;
    int Find(const QlChar* pattern, int start) const;
    int FindLastChar(QlChar unit, int position) const;
    bool ContainsChar(QlChar unit) const;
    bool ContainsAnyOf(const QlChar* set) const;
    bool HasBlank() const { return ContainsChar(QL(' ')); }
    bool HasNonAscii() const;
    bool IsAllUpper() const;
    bool IsDotEntry() const;
    bool IsSlash() const;
    bool IsDriveSpec() const;
    bool IsUncRoot() const;
    bool IsQuoted() const;

    // --- in-place changes
    void MakeUpper();
    void MakeLower();
    void FixCase(bool enable, bool onlyWhenAllUpper, bool keepFirst);
    void TrimLeft();
    void TrimRight();
    void TrimBoth();
    void DropFirst();
    void DropLast();
    void KeepRange(int start, int count);
    void AddTrailingSlash();
    void StripTrailingSlash(const QlChar* root);
    void Quote();
    void Unquote();
    void ReplaceChar(QlChar from, QlChar to);
    void TranslateChars(const QlChar* from, const QlChar* to);
    void ToBackslashes() { ReplaceChar(QL('/'), QL('\\')); }

    // --- parts into another (null) body
    void Left(QlStrBody& out, int count, QlChar fill) const;
    void Mid(QlStrBody& out, int start, int count, QlChar fill) const;
    void MidFrom(QlStrBody& out, int start) const;
    bool SplitAt(QlStrBody& second, QlChar unit, int mode);
    bool PopPathElement(QlStrBody& second);
};

// A body on the stack for intermediate results; releases its text on exit.
struct QlScopedBody {
    QlStrBody body;
    QlScopedBody() { body.InitNull(); }
    ~QlScopedBody() { body.ReleaseText(); }
    QlScopedBody(const QlScopedBody&) = delete;
    QlScopedBody& operator=(const QlScopedBody&) = delete;
};

// --- the body pool
// Blocks of the body size are kept for reuse while the pool is on; any other
// size, and every block freed while the pool is off, goes to the heap.
void* qlGutzPoolAlloc(size_t size);  // null when the heap is exhausted
void qlGutzPoolFree(void* block, size_t size);
bool qlGutzEnablePool();   // true when it was already on
bool qlGutzDisablePool();  // true when it was on
void qlGutzFreePool();     // frees every pooled block
void qlGutzDrainPool();
int qlGutzPoolCount();

// --- heap text blocks: a 16-bit share count, then count + 1 units
QlChar* qlGutzAllocText(int count);  // share count 1; throws QlBadAlloc

// --- numbers
// Optional sign and at most 9 decimal digits (a lone sign passes).
bool qlGutzIsNumber(const QlChar* text);

// --- comparisons over texts (path-aware: '\' equals '/', case ignored)
int qlGutzCompareNoCaseSlash(const QlChar* a, const QlChar* b);
int qlGutzCompareNoCaseSlashN(const QlChar* a, const QlChar* b, int count);
int qlGutzFindNoCase(const QlChar* text, const QlChar* pattern);
bool qlGutzIsSeparator(QlChar unit);

// --- small text functions
size_t qlGutzStrLen(const QlChar* text);
const QlChar* qlGutzStrChr(const QlChar* text, QlChar unit);  // wcschr
// memcpy_s counted in units: false (target cleared, reported) when count
// exceeds the target's room.
bool qlGutzCopyUnits(QlChar* target, size_t targetUnits, const QlChar* source, size_t count);
// One unit between narrow and wide, selectors 0 and 1 only (others give 0).
QlChar qlGutzCharToWide(char unit, int selector);
char qlGutzCharToNarrow(QlChar unit, int selector);

// --- platform interface (QlGutzWin.cpp / QlGutzNative.cpp)
// Both conversions work like MultiByteToWideChar / WideCharToMultiByte with
// the flags of the code page: a source count of -1 takes the NUL-terminated
// text including its NUL; a target room of 0 only measures. They return the
// units or bytes written (or needed), or 0 on failure with *shortBuffer set
// when only the room was too small.
int qlGutzPlatformToWide(QlCodePage cp, const char* source, int sourceBytes,
                         QlChar* target, int targetUnits, bool* shortBuffer);
int qlGutzPlatformToNarrow(QlCodePage cp, const QlChar* source, int sourceUnits,
                           char* target, int targetBytes, bool* shortBuffer);
// msvcrt's case rules: towlower, towupper, iswalpha, iswupper, _wcsicmp,
// _wcsnicmp, _wcsupr_s and _wcslwr_s.
QlChar qlGutzPlatformToLower(QlChar unit);
QlChar qlGutzPlatformToUpper(QlChar unit);
bool qlGutzPlatformIsAlpha(QlChar unit);
bool qlGutzPlatformIsUpper(QlChar unit);
int qlGutzPlatformCompareNoCase(const QlChar* a, const QlChar* b);
int qlGutzPlatformCompareNoCaseN(const QlChar* a, const QlChar* b, size_t count);
void qlGutzPlatformUpper(QlChar* text, size_t unitsWithNul);
void qlGutzPlatformLower(QlChar* text, size_t unitsWithNul);

// --- the native stand-in's code pages (QlGutzCodePage.cpp, portable)
// Byte to unit of code pages 437 and 1252 as Windows converts them
// (MB_PRECOMPOSED; control bytes stay control units).
extern const uint16_t kQlCodePage437[256];
extern const uint16_t kQlCodePage1252[256];
// The byte of a unit in a single-byte table, or -1 when it has none.
int qlGutzSingleByteOf(const uint16_t* table, QlChar unit);
// UTF-8 both ways with Windows' replacement rules (U+FFFD for every invalid
// sequence and for lone surrogates); same count conventions as above.
int qlGutzUtf8ToWide(const char* source, int sourceBytes, QlChar* target, int targetUnits,
                     bool* shortBuffer);
int qlGutzWideToUtf8(const QlChar* source, int sourceUnits, char* target, int targetBytes,
                     bool* shortBuffer);
