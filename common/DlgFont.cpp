// The substitute font of the dialogs.
#include "common/DlgFont.h"

#include "common/Dlg.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "DlgFont";
const int kLineFaceBuffer = 63;
const int kJapaneseCodePage = 932;
const int kStringFace = 71016;
const int kStringPoints = 71017;
// The size NONCLIENTMETRICSW had before Windows 6.0 added a field: the
// older size is accepted by every version.
const UINT kMetricsSize = 500;

QlDlgOsFlags g_os = {};
bool g_osKnown = false;

}  // namespace

const QlDlgOsFlags& qlDlgFontReadOsVersion()
{
    return g_os;
}

void qlDlgFontInitOsVersion()
{
    if (g_osKnown)
        return;
    g_osKnown = true;
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return;
    g_os.nt5_or_later = version.dwMajorVersion >= 5;
    g_os.nt51_or_later = (version.dwMajorVersion == 5 && version.dwMinorVersion != 0) ||
                         version.dwMajorVersion >= 6;
    g_os.nt6_or_later = version.dwMajorVersion >= 6;
}

void qlDlgFontGetMessageFont(LOGFONTW* font, int* points)
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = kMetricsSize;
    *font = LOGFONTW();
    *points = 0;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, kMetricsSize, &metrics, 0))
        return;
    *font = metrics.lfMessageFont;
    int height = font->lfHeight < 0 ? -font->lfHeight : font->lfHeight;
    font->lfHeight = height;
    *points = MulDiv(height, 72, qlDlgScreenPixelsPerInch());
}

int qlDlgScreenPixelsPerInch()
{
    HDC screen = GetDC(nullptr);
    int pixels = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return pixels > 0 ? pixels : 96;
}

bool qlDlgFontGetSubstitute(HINSTANCE module, wchar_t* face, int units, int* points)
{
    if (!qlCheck(face != nullptr && units >= kQlDlgMaxFaceUnits + 1, kSource, kLineFaceBuffer))
        return false;
    face[0] = 0;
    *points = 0;
    qlDlgFontInitOsVersion();
    if (GetACP() == kJapaneseCodePage) {
        LoadStringW(module, kStringFace, face, units);
        wchar_t digits[20] = {};
        LoadStringW(module, kStringPoints, digits, 20);
        for (const wchar_t* d = digits; *d >= L'0' && *d <= L'9'; ++d)
            *points = *points * 10 + (*d - L'0');
    }
    if (g_os.nt6_or_later && (face[0] == 0 || *points == 0)) {
        LOGFONTW font;
        qlDlgFontGetMessageFont(&font, points);
        lstrcpynW(face, font.lfFaceName, units < LF_FACESIZE ? units : LF_FACESIZE);
        face[kQlDlgMaxFaceUnits] = 0;
    }
    return face[0] != 0 && *points != 0;
}

bool qlDlgNeedsFontSubstitution(HINSTANCE module)
{
    wchar_t face[kQlDlgMaxFaceUnits + 2];
    int points = 0;
    return qlDlgFontGetSubstitute(module, face, kQlDlgMaxFaceUnits + 2, &points);
}
