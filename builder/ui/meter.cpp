// The "Meter" window class.
#include "builder/ui/meter.h"

#include <cwchar>

#include "common/DlgFont.h"
#include "common/QlHooks.h"

namespace {

const char kSource[] = "meter";
const int kLineText = 146;
const int kWordTotal = 0;
const int kWordDone = 2;
const int kTextUnits = 10;

void paint(HWND window)
{
    unsigned total = static_cast<WORD>(GetWindowWord(window, kWordTotal));
    unsigned done = static_cast<WORD>(GetWindowWord(window, kWordDone));
    if (total == 0) {
        total = 1;
        done = 0;
    }
    wchar_t text[kTextUnits + 8];
    int length = swprintf(text, kTextUnits + 8, L"%u%%", done * 100 / total);
    if (!qlCheck(length > 0 && length < kTextUnits, kSource, kLineText))
        length = 0;

    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    HFONT old = select_meter_font(dc, nullptr, true);
    COLORREF background = SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    COLORREF foreground = SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    UINT align = SetTextAlign(dc, TA_CENTER);
    RECT client;
    GetClientRect(window, &client);
    int width = client.right;
    int height = client.bottom;
    int edge = static_cast<int>(static_cast<long long>(done) * width / total);
    // The done part: highlight background, highlight-text letters.
    SetBkColor(dc, SetTextColor(dc, GetBkColor(dc)));
    SIZE letter;
    int y = 0;
    if (GetTextExtentPoint32W(dc, L"X", 1, &letter))
        y = (height - letter.cy) >> 2;
    RECT part = {0, 0, edge, height};
    ExtTextOutW(dc, width / 2, y, ETO_OPAQUE | ETO_CLIPPED, &part, text, length, nullptr);
    // The rest in the colours swapped back, the same text at the same point,
    // so the letters change colour where the bar's edge crosses them.
    RECT rest = {edge, 0, width, height};
    SetBkColor(dc, SetTextColor(dc, GetBkColor(dc)));
    ExtTextOutW(dc, width / 2, y, ETO_OPAQUE | ETO_CLIPPED, &rest, text, length, nullptr);
    SetTextAlign(dc, align);
    SetTextColor(dc, foreground);
    SetBkColor(dc, background);
    select_meter_font(dc, old, false);
    EndPaint(window, &ps);
}

void store(HWND window, int word, WPARAM value)
{
    SetWindowWord(window, word, static_cast<WORD>(value));
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
}

}  // namespace

void register_meter_class(HINSTANCE module)
{
    WNDCLASSW meter = {};
    meter.style = CS_HREDRAW | CS_VREDRAW;
    meter.lpfnWndProc = meter_window_proc;
    meter.cbWndExtra = 4;
    meter.hInstance = module;
    meter.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    meter.lpszClassName = kMeterClass;
    RegisterClassW(&meter);
}

HFONT select_meter_font(HDC context, HFONT old, bool select)
{
    if (!select) {
        HGDIOBJ font = SelectObject(context, old);
        if (font != nullptr)
            DeleteObject(font);
        return nullptr;
    }
    HFONT font = CreateFontW(-(qlDlgScreenPixelsPerInch() * 6 / 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Helv");
    return static_cast<HFONT>(SelectObject(context, font));
}

LRESULT CALLBACK meter_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case kMeterSetTotal:
        store(window, kWordTotal, wparam);
        return 0;
    case kMeterGetTotal:
        return static_cast<WORD>(GetWindowWord(window, kWordTotal));
    case kMeterSetDone:
        store(window, kWordDone, wparam);
        return 0;
    case kMeterGetDone:
        return static_cast<WORD>(GetWindowWord(window, kWordDone));
    case WM_CREATE:
        SendMessageW(window, kMeterSetTotal, 100, 0);
        SendMessageW(window, kMeterSetDone, 50, 0);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_PAINT:
        paint(window);
        return 0;
    default:
        // wParam goes on whole: it carries handles (WM_ERASEBKGND's context,
        // WM_SETCURSOR's window) that a 16-bit cut would break.
        return DefWindowProcW(window, message, wparam, lparam);
    }
}
