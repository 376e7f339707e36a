// The Win32 side of the string library: code-page conversions, msvcrt's case
// rules, formatting and the program's string table.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include "common/QlGutz.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "QlGutz";

struct CodePageInfo {
    UINT codePage;
    DWORD toWideFlags;
    DWORD toNarrowFlags;
};

// UTF-8 takes no flags at all (Windows refuses them).
CodePageInfo InfoOf(QlCodePage cp)
{
    switch (cp) {
    case kQlCodePageOem:
        return {CP_OEMCP, MB_PRECOMPOSED, WC_NO_BEST_FIT_CHARS};
    case kQlCodePageUtf8:
        return {CP_UTF8, 0, 0};
    default:
        return {CP_ACP, MB_PRECOMPOSED, WC_NO_BEST_FIT_CHARS};
    }
}

// String-table ids have 16 bits; a chain of continued entries ends there.
const int kLastStringId = 0xFFFF;
const int kResourceUnits = 1025;

}  // namespace

int qlGutzPlatformToWide(QlCodePage cp, const char* source, int sourceBytes, QlChar* target,
                         int targetUnits, bool* shortBuffer)
{
    CodePageInfo info = InfoOf(cp);
    int units = MultiByteToWideChar(info.codePage, info.toWideFlags, source, sourceBytes, target,
                                    targetUnits);
    *shortBuffer = units == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    return units;
}

int qlGutzPlatformToNarrow(QlCodePage cp, const QlChar* source, int sourceUnits, char* target,
                           int targetBytes, bool* shortBuffer)
{
    CodePageInfo info = InfoOf(cp);
    int bytes = WideCharToMultiByte(info.codePage, info.toNarrowFlags, source, sourceUnits, target,
                                    targetBytes, nullptr, nullptr);
    *shortBuffer = bytes == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    return bytes;
}

QlChar qlGutzPlatformToLower(QlChar unit)
{
    return towlower(unit);
}

QlChar qlGutzPlatformToUpper(QlChar unit)
{
    return towupper(unit);
}

bool qlGutzPlatformIsAlpha(QlChar unit)
{
    return iswalpha(unit) != 0;
}

bool qlGutzPlatformIsUpper(QlChar unit)
{
    return iswupper(unit) != 0;
}

int qlGutzPlatformCompareNoCase(const QlChar* a, const QlChar* b)
{
    return _wcsicmp(a, b);
}

int qlGutzPlatformCompareNoCaseN(const QlChar* a, const QlChar* b, size_t count)
{
    return _wcsnicmp(a, b, count);
}

void qlGutzPlatformUpper(QlChar* text, size_t unitsWithNul)
{
    _wcsupr_s(text, unitsWithNul);
}

void qlGutzPlatformLower(QlChar* text, size_t unitsWithNul)
{
    _wcslwr_s(text, unitsWithNul);
}

// Measured first, written into a temporary, then taken over: the arguments
// may be this string's own text.
void QlStrBody::FormatV(const QlChar* format, va_list args)
{
    if (!qlCheck(format != nullptr, kSource, kGutzFormatNull))
        return;
    va_list measure;
    va_copy(measure, args);
    int count = _vscwprintf(format, measure);
    va_end(measure);
    if (!qlCheck(count >= 0, kSource, kGutzFormatBad)) {
        SetEmpty();
        return;
    }
    QlScopedBody formatted;
    formatted.body.SetEmpty();
    formatted.body.SetLength(count);
    if (count > 0 && !qlCheck(vswprintf_s(formatted.body.text, static_cast<size_t>(count) + 1,
                                          format, args) >= 0,
                              kSource, kGutzFormatBad)) {
        SetEmpty();
        return;
    }
    TakeFrom(formatted.body);
}

// A message longer than one entry is a chain of ids: every entry but the last
// begins with '!', which is dropped, and the next id's text follows directly.
void QlStrBody::LoadResource(int id)
{
    if (!qlCheck(id >= 0, kSource, kGutzResourceId)) {
        SetEmpty();
        return;
    }
    // The library's own module handle is never set: the program's module it is.
    HMODULE module = GetModuleHandleW(nullptr);
    QlScopedBody loaded;
    loaded.body.SetEmpty();
    for (int next = id; next <= kLastStringId; ++next) {
        WCHAR entry[kResourceUnits];
        int count = LoadStringW(module, static_cast<UINT>(next), entry, kResourceUnits);
        if (count <= 0) {
            qlHostWin32Error(kSource, kGutzResourceMissing);
            break;
        }
        bool continues = entry[0] == L'!';
        loaded.body.AppendChars(entry + (continues ? 1 : 0), count - (continues ? 1 : 0));
        if (!continues)
            break;
    }
    TakeFrom(loaded.body);
}
