// What the user sees while the engine extracts: the status line, the
// "Meter" progress bar that carries the same text, and the password dialog
// that the engine's encrypted entries need first.
#include <windows.h>

#include "stub/engine/unzip.h"
#include "stub/sfxdialog.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"

namespace {

constexpr int kLinePasswordCopy = 4433;

QlStr g_unzipping_name;    // name part of the current output file
uint32_t g_percent = 0;    // as the engine last reported it

LRESULT paint_meter(HWND meter)
{
    uint32_t range = static_cast<uint16_t>(GetWindowWord(meter, 0));
    uint32_t position = static_cast<uint16_t>(GetWindowWord(meter, 2));
    if (range == 0) {
        range = 1;
        position = 0;
    }
    if (position > range)
        position = range;
    QlChar text[kSfxStatusUnits + 1];
    format_unzipping_text(text, kSfxStatusUnits + 1);
    int length = lstrlenW(text);

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(meter, &paint);
    HGDIOBJ old_font = select_meter_font(dc, nullptr, 1);
    // The filled part in highlight colours, the rest the other way round:
    // the text changes colour where the bar ends.
    SetTextAlign(dc, TA_CENTER);
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    RECT client;
    GetClientRect(meter, &client);
    int width = client.right, height = client.bottom;
    RECT filled = {0, 0, MulDiv(static_cast<int>(position), width, static_cast<int>(range)), height};
    SIZE extent;
    int y = 0;
    if (GetTextExtentPoint32W(dc, L"X", 1, &extent))
        y = (height - extent.cy) / 4;
    ExtTextOutW(dc, width / 2, y, ETO_CLIPPED | ETO_OPAQUE, &filled, text, length, nullptr);
    RECT rest = {filled.right, 0, width, height};
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    ExtTextOutW(dc, width / 2, y, ETO_CLIPPED | ETO_OPAQUE, &rest, text, length, nullptr);
    select_meter_font(dc, old_font, 0);
    EndPaint(meter, &paint);
    return 0;
}

LRESULT CALLBACK meter_window_proc(HWND meter, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        SendMessageW(meter, kMeterSetRange, 100, 0);
        SendMessageW(meter, kMeterSetPosition, 50, 0);
        return 0;
    case kMeterSetRange:
    case kMeterSetPosition:
        SetWindowWord(meter, message == kMeterSetRange ? 0 : 2, LOWORD(wparam));
        InvalidateRect(meter, nullptr, FALSE);
        UpdateWindow(meter);
        return 0;
    case kMeterGetRange:
        return static_cast<uint16_t>(GetWindowWord(meter, 0));
    case kMeterGetPosition:
        return static_cast<uint16_t>(GetWindowWord(meter, 2));
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_PAINT:
        return paint_meter(meter);
    }
    return DefWindowProcW(meter, message, wparam, lparam);
}

// The password as the ciphers read it: narrow (ANSI) bytes with their zero,
// sized by the conversion itself (one wide unit may take two bytes).
void store_password(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    char* block = size > 0 ? static_cast<char*>(GlobalAlloc(GPTR, size)) : nullptr;
    if (block == nullptr ||
        WideCharToMultiByte(CP_ACP, 0, text, -1, block, size, nullptr, nullptr) != size)
        internal_error(kSfxHeadSource, kLinePasswordCopy);
    free_password();
    g_sfx.password = block;
}

INT_PTR CALLBACK password_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        centre_on_screen(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK: {
            HWND edit = GetDlgItem(dialog, IDC_SFX_PASSWORD);
            int length = GetWindowTextLengthW(edit);
            if (length <= 0)
                return TRUE;  // an empty password is not taken
            wchar_t* text = static_cast<wchar_t*>(LocalAlloc(LPTR, (length + 1) * sizeof(wchar_t)));
            if (text == nullptr)
                out_of_memory_exit();
            GetWindowTextW(edit, text, length + 1);
            store_password(text);
            SecureZeroMemory(text, (length + 1) * sizeof(wchar_t));
            LocalFree(text);
            EndDialog(dialog, 1);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

HGDIOBJ select_meter_font(HDC dc, HGDIOBJ old_font, int flag)
{
    if (flag == 0) {
        HGDIOBJ ours = SelectObject(dc, old_font);
        if (ours != nullptr)
            DeleteObject(ours);
        return nullptr;
    }
    HDC display = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    int pixels = display ? GetDeviceCaps(display, LOGPIXELSY) : 96;
    if (display)
        DeleteDC(display);
    LOGFONTW font;
    ZeroMemory(&font, sizeof font);
    font.lfHeight = -(pixels * 8 / 72);
    lstrcpynW(font.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    HFONT created = CreateFontIndirectW(&font);
    return SelectObject(dc, created ? static_cast<HGDIOBJ>(created) : GetStockObject(DEFAULT_GUI_FONT));
}

bool register_meter_class(HINSTANCE instance)
{
    WNDCLASSW meter;
    ZeroMemory(&meter, sizeof meter);
    meter.style = CS_HREDRAW | CS_VREDRAW;
    meter.lpfnWndProc = meter_window_proc;
    meter.cbWndExtra = 4;
    meter.hInstance = instance;
    meter.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    meter.lpszClassName = L"Meter";
    return RegisterClassW(&meter) != 0;
}

void format_unzipping_text(QlChar* buffer, int capacity)
{
    if (capacity <= 0)
        return;
    QlStr format = sfx_text(kSfxTextUnzipping);
    QlStr name = g_unzipping_name;
    QlStr text;
    text.Format(format.Text(), name.Text());
    // A deep or long name must not cost the extraction: the status line
    // shows its start and an ellipsis.
    if (text.Length() >= capacity) {
        int keep = name.Length() - (text.Length() - (capacity - 1)) - 3;
        name = keep > 0 ? name.Left(keep) + L"..." : QlStr(L"...");
        text.Format(format.Text(), name.Text());
    }
    lstrcpynW(buffer, text.Text(), capacity);
}

uint32_t sfx_meter_percent()
{
    return g_percent;
}

void sfx_reset_meter_text()
{
    g_unzipping_name.Clear();
    g_percent = 0;
}

void sfx_show_unzipping(const QlStr& output_name)
{
    int slash = output_name.FindLastChar(L'\\', output_name.Length());
    g_unzipping_name = slash < 0 ? output_name : output_name.MidFrom(slash + 1);
    if (g_sfx.silent || !g_sfx.main_window)
        return;
    if (g_sfx.meter_in_use) {
        InvalidateRect(GetDlgItem(g_sfx.main_window, IDC_SFX_METER), nullptr, FALSE);
        return;
    }
    QlChar text[kSfxStatusUnits + 1];
    format_unzipping_text(text, kSfxStatusUnits + 1);
    SetDlgItemTextW(g_sfx.main_window, IDC_SFX_STATUS, text);
}

void sfx_show_progress(uint32_t percent)
{
    g_percent = percent > 100 ? 100 : percent;
    if (!g_sfx.meter_in_use || g_sfx.silent || !g_sfx.main_window)
        return;
    HWND meter = GetDlgItem(g_sfx.main_window, IDC_SFX_METER);
    SendMessageW(meter, kMeterSetPosition, g_percent, 0);
    UpdateWindow(g_sfx.main_window);
}

bool ask_password()
{
    // Bit 0 of the entry flags: the archive is marked encrypted.
    if (!(g_sfx.entry_flags & 1))
        return true;
    return DialogBoxParamW(g_sfx.instance, MAKEINTRESOURCEW(IDD_SFX_PASSWORD), g_sfx.main_window,
                           password_dialog_proc, 0) == 1;
}

void free_password()
{
    if (g_sfx.password == nullptr)
        return;
    SecureZeroMemory(g_sfx.password, lstrlenA(g_sfx.password));
    GlobalFree(g_sfx.password);
    g_sfx.password = nullptr;
}

