// Native stand-ins for the Win32 side of the string library, so that the
// portable code gives the same answers natively as on Windows set up like
// the test prefix: OEM is code page 437, ANSI code page 1252, and case rules
// are msvcrt's in the C locale (towlower and towupper change only A-Z and
// a-z; iswalpha and iswupper know Latin-1).
#include <cstring>

#include "common/QlGutz.h"

namespace {

const uint16_t* TableOf(QlCodePage cp)
{
    return cp == kQlCodePageOem ? kQlCodePage437 : kQlCodePage1252;
}

}  // namespace

int qlGutzPlatformToWide(QlCodePage cp, const char* source, int sourceBytes, QlChar* target,
                         int targetUnits, bool* shortBuffer)
{
    if (cp == kQlCodePageUtf8)
        return qlGutzUtf8ToWide(source, sourceBytes, target, targetUnits, shortBuffer);
    *shortBuffer = false;
    if (source == nullptr || sourceBytes == 0 || sourceBytes < -1 || targetUnits < 0)
        return 0;
    int count = sourceBytes == -1 ? static_cast<int>(std::strlen(source)) + 1 : sourceBytes;
    if (targetUnits == 0)
        return count;
    if (targetUnits < count) {
        *shortBuffer = true;
        return 0;
    }
    const uint16_t* table = TableOf(cp);
    for (int i = 0; i < count; ++i)
        target[i] = static_cast<QlChar>(table[static_cast<unsigned char>(source[i])]);
    return count;
}

// Without best fit and without a default character of our own, a unit that
// the code page lacks becomes '?'.
int qlGutzPlatformToNarrow(QlCodePage cp, const QlChar* source, int sourceUnits, char* target,
                           int targetBytes, bool* shortBuffer)
{
    if (cp == kQlCodePageUtf8)
        return qlGutzWideToUtf8(source, sourceUnits, target, targetBytes, shortBuffer);
    *shortBuffer = false;
    if (source == nullptr || sourceUnits == 0 || sourceUnits < -1 || targetBytes < 0)
        return 0;
    int count = sourceUnits == -1 ? static_cast<int>(qlGutzStrLen(source)) + 1 : sourceUnits;
    if (targetBytes == 0)
        return count;
    if (targetBytes < count) {
        *shortBuffer = true;
        return 0;
    }
    const uint16_t* table = TableOf(cp);
    for (int i = 0; i < count; ++i) {
        int byte = qlGutzSingleByteOf(table, source[i]);
        target[i] = static_cast<char>(byte < 0 ? '?' : byte);
    }
    return count;
}

QlChar qlGutzPlatformToLower(QlChar unit)
{
    return unit >= 'A' && unit <= 'Z' ? static_cast<QlChar>(unit + ('a' - 'A')) : unit;
}

QlChar qlGutzPlatformToUpper(QlChar unit)
{
    return unit >= 'a' && unit <= 'z' ? static_cast<QlChar>(unit - ('a' - 'A')) : unit;
}

// Latin-1 letters without their signs (U+00D7, U+00F7); ª, µ and º are not
// letters to msvcrt.
bool qlGutzPlatformIsAlpha(QlChar unit)
{
    return (unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z') ||
           (unit >= 0xC0 && unit <= 0xFF && unit != 0xD7 && unit != 0xF7);
}

bool qlGutzPlatformIsUpper(QlChar unit)
{
    return (unit >= 'A' && unit <= 'Z') || (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7);
}

int qlGutzPlatformCompareNoCase(const QlChar* a, const QlChar* b)
{
    for (;; ++a, ++b) {
        int difference = qlGutzPlatformToLower(*a) - qlGutzPlatformToLower(*b);
        if (difference != 0 || *a == 0)
            return difference;
    }
}

int qlGutzPlatformCompareNoCaseN(const QlChar* a, const QlChar* b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        int difference = qlGutzPlatformToLower(a[i]) - qlGutzPlatformToLower(b[i]);
        if (difference != 0 || a[i] == 0)
            return difference;
    }
    return 0;
}

void qlGutzPlatformUpper(QlChar* text, size_t unitsWithNul)
{
    for (size_t i = 0; i < unitsWithNul && text[i] != 0; ++i)
        text[i] = qlGutzPlatformToUpper(text[i]);
}

void qlGutzPlatformLower(QlChar* text, size_t unitsWithNul)
{
    for (size_t i = 0; i < unitsWithNul && text[i] != 0; ++i)
        text[i] = qlGutzPlatformToLower(text[i]);
}
