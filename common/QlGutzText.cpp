// Text utilities of the string body: path-aware comparison, search, tests,
// case changes, trimming and quoting, parts and replacement.
//
// In-place changes follow copy on write: they look for something to change
// first and make a shared text private only when they find it.
#include <climits>
#include <cstring>

#include "common/QlGutz.h"
#include "common/QlHooks.h"
#include "common/QlOutOfMemory.h"
#include "common/QlString.h"

namespace {

const char kSource[] = "QlGutz";

const QlChar kBackslash = QL('\\');
const QlChar kBlank = QL(' ');
const QlChar kQuote = QL('"');

// Two units are path-equal when they are the same, both separators, or the
// same after towlower.
bool PathEqual(QlChar a, QlChar b)
{
    return a == b || (qlGutzIsSeparator(a) && qlGutzIsSeparator(b)) ||
           qlGutzPlatformToLower(a) == qlGutzPlatformToLower(b);
}

bool PathEqualUnits(const QlChar* a, const QlChar* b, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!PathEqual(a[i], b[i]))
            return false;
    }
    return true;
}

int PathFind(const QlChar* text, int length, const QlChar* pattern, int patternLength)
{
    for (int i = 0; i + patternLength <= length; ++i) {
        if (PathEqualUnits(text + i, pattern, patternLength))
            return i;
    }
    return -1;
}

int PathDifference(QlChar a, QlChar b)
{
    return static_cast<int>(qlGutzPlatformToLower(a)) - static_cast<int>(qlGutzPlatformToLower(b));
}

int LeadingBlanks(const QlStrBody& body)
{
    int count = 0;
    while (count < body.length && body.text[count] == kBlank)
        ++count;
    return count;
}

// The end of the text without its trailing blanks.
int EndWithoutBlanks(const QlStrBody& body)
{
    int end = body.length;
    while (end > 0 && body.text[end - 1] == kBlank)
        --end;
    return end;
}

}  // namespace

bool qlGutzIsSeparator(QlChar unit)
{
    return unit == QL('\\') || unit == QL('/');
}

// ---------------------------------------------------------------------------
// Comparison

int qlGutzCompareNoCaseSlash(const QlChar* a, const QlChar* b)
{
    if (a == nullptr || b == nullptr) {
        qlHostAssert(kSource, kGutzCompareNull);
        return a != nullptr ? 1 : (b != nullptr ? -1 : 0);
    }
    for (;; ++a, ++b) {
        if (!PathEqual(*a, *b))
            return PathDifference(*a, *b);
        if (*a == 0)
            return 0;
    }
}

int qlGutzCompareNoCaseSlashN(const QlChar* a, const QlChar* b, int count)
{
    if (!qlCheck(count >= 0, kSource, kGutzCompareCount) || count == 0)
        return 0;
    if (a == nullptr || b == nullptr) {
        qlHostAssert(kSource, kGutzCompareNull);
        return a != nullptr ? 1 : (b != nullptr ? -1 : 0);
    }
    for (int i = 0; i < count; ++i) {
        if (!PathEqual(a[i], b[i]))
            return PathDifference(a[i], b[i]);
        if (a[i] == 0)
            return 0;
    }
    return 0;
}

int qlGutzCompareStrNoCaseSlashN(const QlStr& a, const QlStr& b, int count)
{
    if (a.IsNull() || b.IsNull())
        return a.IsNotNull() ? 1 : (b.IsNotNull() ? -1 : 0);
    return qlGutzCompareNoCaseSlashN(a.Text(), b.Text(), count);
}

int qlGutzFindNoCase(const QlChar* text, const QlChar* pattern)
{
    if (!qlCheck(text != nullptr && pattern != nullptr, kSource, kGutzFindNull))
        return -1;
    return PathFind(text, static_cast<int>(qlGutzStrLen(text)), pattern,
                    static_cast<int>(qlGutzStrLen(pattern)));
}

bool QlStrBody::Equals(const QlStrBody& other) const
{
    if (text == nullptr || other.text == nullptr)
        return text == other.text;
    return length == other.length &&
           std::memcmp(text, other.text, static_cast<size_t>(length) * sizeof(QlChar)) == 0;
}

bool QlStrBody::EqualsText(const QlChar* chars) const
{
    if (text == nullptr || chars == nullptr)
        return text == chars;
    return qlGutzStrLen(chars) == static_cast<size_t>(length) &&
           std::memcmp(text, chars, static_cast<size_t>(length) * sizeof(QlChar)) == 0;
}

bool QlStrBody::EqualsNoCase(const QlStrBody& other) const
{
    if (text == other.text)
        return true;
    if (text == nullptr || other.text == nullptr)
        return false;
    return length == other.length && PathEqualUnits(text, other.text, length);
}

bool QlStrBody::EqualsNoCaseText(const QlChar* chars) const
{
    if (text == nullptr || chars == nullptr)
        return text == chars;
    return qlGutzStrLen(chars) == static_cast<size_t>(length) &&
           PathEqualUnits(text, chars, length);
}

bool QlStrBody::MatchNoCase(const QlStrBody& other, int mode) const
{
    if (!qlCheck(mode >= 0 && mode <= 2, kSource, kGutzMatchMode))
        return false;
    if (other.text == nullptr)
        return true;
    if (text == nullptr || length < other.length)
        return false;
    switch (mode) {
    case 0:
        return PathEqualUnits(text, other.text, other.length);
    case 1:
        return PathEqualUnits(text + length - other.length, other.text, other.length);
    default:
        return PathFind(text, length, other.text, other.length) >= 0;
    }
}

// ---------------------------------------------------------------------------
// Search and tests

int QlStrBody::Find(const QlChar* pattern, int start) const
{
    if (!qlCheck(start >= 0, kSource, kGutzFindStart) || text == nullptr)
        return -1;
    if (pattern == nullptr || pattern[0] == 0)
        return start < length ? start : -1;
    int patternLength = static_cast<int>(qlGutzStrLen(pattern));
    for (int i = start; i <= length - patternLength; ++i) {
        if (std::memcmp(text + i, pattern, static_cast<size_t>(patternLength) * sizeof(QlChar)) == 0)
            return i;
    }
    return -1;
}

int QlStrBody::FindLastChar(QlChar unit, int position) const
{
    if (!qlCheck(position >= 0, kSource, kGutzFindLastPosition) || length == 0)
        return -1;
    for (int i = position < length ? position : length - 1; i >= 0; --i) {
        if (text[i] == unit)
            return i;
    }
    return -1;
}

bool QlStrBody::ContainsChar(QlChar unit) const
{
    for (int i = 0; i < length; ++i) {
        if (text[i] == unit)
            return true;
    }
    return false;
}

bool QlStrBody::ContainsAnyOf(const QlChar* set) const
{
    if (set == nullptr)
        return false;
    for (int i = 0; i < length; ++i) {
        if (text[i] != 0 && qlGutzStrChr(set, text[i]) != nullptr)
            return true;
    }
    return false;
}

bool QlStrBody::HasNonAscii() const
{
    for (int i = 0; i < length; ++i) {
        if (text[i] > 127)
            return true;
    }
    return false;
}

// A letter without case (iswalpha but not iswupper) fails the test too.
bool QlStrBody::IsAllUpper() const
{
    if (length == 0)
        return false;
    for (int i = 0; i < length; ++i) {
        if (qlGutzPlatformIsAlpha(text[i]) && !qlGutzPlatformIsUpper(text[i]))
            return false;
    }
    return true;
}

bool QlStrBody::IsDotEntry() const
{
    return (length == 1 && text[0] == '.') || (length == 2 && text[0] == '.' && text[1] == '.');
}

bool QlStrBody::IsSlash() const
{
    return length == 1 && qlGutzIsSeparator(text[0]);
}

bool QlStrBody::IsDriveSpec() const
{
    if (length != 2 || text[1] != ':')
        return false;
    QlChar letter = text[0];
    return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

// \\server\share: exactly one '\' after the leading two, no separator at the end.
bool QlStrBody::IsUncRoot() const
{
    if (length <= 4 || text[0] != kBackslash || text[1] != kBackslash ||
        qlGutzIsSeparator(text[length - 1]))
        return false;
    int backslashes = 0;
    for (int i = 2; i < length; ++i) {
        if (text[i] == kBackslash)
            ++backslashes;
    }
    return backslashes == 1;
}

bool QlStrBody::IsQuoted() const
{
    int start = LeadingBlanks(*this);
    int end = EndWithoutBlanks(*this);
    return end - start >= 2 && text[start] == kQuote && text[end - 1] == kQuote;
}

// ---------------------------------------------------------------------------
// In-place changes

void QlStrBody::MakeUpper()
{
    for (int i = 0; i < length; ++i) {
        if (qlGutzPlatformToUpper(text[i]) != text[i]) {
            MakePrivate();
            qlGutzPlatformUpper(text + i, static_cast<size_t>(length - i) + 1);
            return;
        }
    }
}

void QlStrBody::MakeLower()
{
    for (int i = 0; i < length; ++i) {
        if (qlGutzPlatformToLower(text[i]) != text[i]) {
            MakePrivate();
            qlGutzPlatformLower(text + i, static_cast<size_t>(length - i) + 1);
            return;
        }
    }
}

void QlStrBody::FixCase(bool enable, bool onlyWhenAllUpper, bool keepFirst)
{
    if (!enable || (onlyWhenAllUpper && !IsAllUpper()))
        return;
    for (int i = keepFirst ? 1 : 0; i < length; ++i) {
        if (qlGutzPlatformToLower(text[i]) != text[i]) {
            MakePrivate();
            qlGutzPlatformLower(text + i, static_cast<size_t>(length - i) + 1);
            return;
        }
    }
}

void QlStrBody::TrimLeft()
{
    int blanks = LeadingBlanks(*this);
    if (blanks > 0)
        KeepRange(blanks, length - blanks);
}

void QlStrBody::TrimRight()
{
    int end = EndWithoutBlanks(*this);
    if (end < length)
        KeepRange(0, end);
}

void QlStrBody::TrimBoth()
{
    TrimRight();
    TrimLeft();
}

void QlStrBody::DropFirst()
{
    if (length > 0)
        KeepRange(1, length - 1);
}

void QlStrBody::DropLast()
{
    if (length > 0)
        KeepRange(0, length - 1);
}

// Works on the units in place (AssignChars reads them before it lets the old
// block go); a result of up to 12 units moves inline.
void QlStrBody::KeepRange(int start, int count)
{
    if (!qlCheck(count >= 0 && count <= length && start >= 0 && start <= length - count, kSource,
                 kGutzKeepRange))
        return;
    if (count == length)
        return;
    if (count == 0)
        SetEmpty();
    else
        AssignChars(text + start, count);
}

void QlStrBody::AddTrailingSlash()
{
    if (length == 0)
        AssignChars(&kBackslash, 1);
    else if (!qlGutzIsSeparator(text[length - 1]))
        AppendChars(&kBackslash, 1);
}

void QlStrBody::StripTrailingSlash(const QlChar* root)
{
    if (length == 0 || !qlGutzIsSeparator(text[length - 1]))
        return;
    if (root != nullptr && EqualsNoCaseText(root))
        return;
    KeepRange(0, length - 1);
}

void QlStrBody::Quote()
{
    if (IsQuoted())
        return;
    QlScopedBody quoted;
    quoted.body.SetLength(length + 2);
    quoted.body.text[0] = kQuote;
    for (int i = 0; i < length; ++i)
        quoted.body.text[i + 1] = text[i];
    quoted.body.text[length + 1] = kQuote;
    TakeFrom(quoted.body);
}

void QlStrBody::Unquote()
{
    if (!IsQuoted())
        return;
    TrimBoth();
    KeepRange(1, length - 2);
}

void QlStrBody::ReplaceChar(QlChar from, QlChar to)
{
    if (from == to)
        return;
    for (int i = 0; i < length; ++i) {
        if (text[i] == from) {
            MakePrivate();
            for (; i < length; ++i) {
                if (text[i] == from)
                    text[i] = to;
            }
            return;
        }
    }
}

// Pairs apply one after the other, so a later pair sees earlier replacements.
void QlStrBody::TranslateChars(const QlChar* from, const QlChar* to)
{
    if (!qlCheck(from != nullptr && to != nullptr && qlGutzStrLen(from) == qlGutzStrLen(to),
                 kSource, kGutzTranslateSets))
        return;
    for (size_t i = 0; from[i] != 0; ++i)
        ReplaceChar(from[i], to[i]);
}

// ---------------------------------------------------------------------------
// Parts

void QlStrBody::Left(QlStrBody& out, int count, QlChar fill) const
{
    if (!qlCheck(count >= 0, kSource, kGutzLeftCount) || count == 0) {
        out.SetEmpty();
        return;
    }
    if (count == length) {
        out.Assign(*this);
        return;
    }
    if (count < length) {
        out.AssignChars(text, count);
        return;
    }
    QlScopedBody padded;
    padded.body.SetLength(count);
    for (int i = 0; i < count; ++i)
        padded.body.text[i] = i < length ? text[i] : fill;
    out.TakeFrom(padded.body);
}

void QlStrBody::Mid(QlStrBody& out, int start, int count, QlChar fill) const
{
    if (!qlCheck(start >= 0 && count >= 0, kSource, kGutzMidRange)) {
        out.SetEmpty();
        return;
    }
    if (start == 0 && count == length) {
        out.Assign(*this);
        return;
    }
    if (start >= length) {
        // Nothing of the text: fill only (an empty or a null string for none).
        if (count > 0)
            out.AssignRepeat(fill, count);
        else if (start == length)
            out.SetEmpty();
        else
            out.ReleaseText();
        return;
    }
    if (count <= length - start) {
        out.AssignChars(text + start, count);
        return;
    }
    QlScopedBody padded;
    padded.body.SetLength(count);
    for (int i = 0; i < count; ++i)
        padded.body.text[i] = i < length - start ? text[start + i] : fill;
    out.TakeFrom(padded.body);
}

void QlStrBody::MidFrom(QlStrBody& out, int start) const
{
    if (!qlCheck(start >= 0, kSource, kGutzMidFromStart) || (start > 0 && start >= length)) {
        out.SetEmpty();
        return;
    }
    if (start == 0)
        out.Assign(*this);
    else
        out.AssignChars(text + start, length - start);
}

// Both parts are built before either string changes, so second may even be
// this string (which then keeps its own part).
bool QlStrBody::SplitAt(QlStrBody& second, QlChar unit, int mode)
{
    if (!qlCheck(mode >= 0 && mode <= 2, kSource, kGutzSplitMode)) {
        second.SetEmpty();
        return false;
    }
    int at = 0;
    while (at < length && text[at] != unit)
        ++at;
    if (at >= length) {
        second.SetEmpty();
        return false;
    }
    int headLength = mode == 1 ? at + 1 : at;
    int tailStart = mode == 0 ? at : at + 1;
    QlScopedBody head, tail;
    head.body.AssignChars(text, headLength);
    tail.body.AssignChars(text + tailStart, length - tailStart);
    second.TakeFrom(tail.body);
    TakeFrom(head.body);
    return true;
}

// Built like SplitAt: second may be this string, which then keeps the rest.
bool QlStrBody::PopPathElement(QlStrBody& second)
{
    if (length == 0) {
        second.SetEmpty();
        return false;
    }
    QlScopedBody head, rest;
    if (qlGutzIsSeparator(text[0])) {
        head.body.AssignChars(&kBackslash, 1);
        rest.body.AssignChars(text + 1, length - 1);
    } else {
        int end = 0;
        while (end < length && !qlGutzIsSeparator(text[end]))
            ++end;
        if (end == length) {
            head.body.CopyFrom(*this);
            rest.body.SetEmpty();
        } else {
            head.body.AssignChars(text, end);
            rest.body.AssignChars(text + end + 1, length - end - 1);
        }
    }
    second.TakeFrom(head.body);
    TakeFrom(rest.body);
    return true;
}

QlStr qlGutzJoin(const QlChar* a, int n, const QlChar* b, int m)
{
    QlStr joined;
    if (!qlCheck(n >= 0 && m >= 0 && (a != nullptr || n == 0) && (b != nullptr || m == 0), kSource,
                 kGutzJoinCount))
        return joined;
    if (static_cast<int64_t>(n) + m > INT_MAX)
        qlThrowOutOfMemory();
    QlChar* units = joined.SetLength(n + m).Buffer();
    if (n > 0)
        std::memcpy(units, a, static_cast<size_t>(n) * sizeof(QlChar));
    if (m > 0)
        std::memcpy(units + n, b, static_cast<size_t>(m) * sizeof(QlChar));
    return joined;
}
