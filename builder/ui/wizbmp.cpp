// The side picture and the etched lines.
#include "builder/ui/wizbmp.h"

#include <cstdint>
#include <cstdlib>

#include "builder/trace.h"

namespace {

const char kSource[] = "wizbmp";
const int kLineNoPicture = 121;
const int kLineNoControl = 126;

struct SideBitmap {
    HBITMAP bitmap = nullptr;
    HPALETTE palette = nullptr;
    HDC memory = nullptr;
    HGDIOBJ old_bitmap = nullptr;
    HPALETTE old_palette = nullptr;
    HBRUSH brush = nullptr;
    int width = 0;
    int height = 0;
    bool loaded = false;
    bool loading = false;  // no painting while the picture is being (re)built
    bool palette_mode = true;
};

SideBitmap g_side;

int display_bits()
{
    HDC display = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    int bits = display ? GetDeviceCaps(display, BITSPIXEL) : 8;
    if (display)
        DeleteDC(display);
    return bits;
}

// A packed DIB resource as a bitmap drawn through a palette made from its
// colour table; false when there is no such resource or no colour table.
bool load_picture(const wchar_t* name)
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(2));  // RT_BITMAP
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    if (bytes == nullptr || size < sizeof(BITMAPINFOHEADER))
        return false;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == nullptr)
        return false;
    void* copy = GlobalLock(block);
    memcpy(copy, bytes, size);
    const BITMAPINFO* info = static_cast<const BITMAPINFO*>(copy);
    const BITMAPINFOHEADER& head = info->bmiHeader;
    bool ok = false;
    if (head.biBitCount <= 8 && head.biSize >= sizeof(BITMAPINFOHEADER)) {
        int colours = 1 << head.biBitCount;
        DWORD table = head.biSize + colours * sizeof(RGBQUAD);
        if (table <= size) {
            LOGPALETTE* logical = static_cast<LOGPALETTE*>(
                malloc(sizeof(LOGPALETTE) + colours * sizeof(PALETTEENTRY)));
            logical->palVersion = 0x300;
            logical->palNumEntries = static_cast<WORD>(colours);
            const RGBQUAD* quads = reinterpret_cast<const RGBQUAD*>(static_cast<const uint8_t*>(copy) + head.biSize);
            for (int i = 0; i < colours; ++i) {
                logical->palPalEntry[i].peRed = quads[i].rgbRed;
                logical->palPalEntry[i].peGreen = quads[i].rgbGreen;
                logical->palPalEntry[i].peBlue = quads[i].rgbBlue;
                logical->palPalEntry[i].peFlags = 0;
            }
            g_side.palette = CreatePalette(logical);
            free(logical);
            HDC screen = GetDC(nullptr);
            HPALETTE old = g_side.palette ? SelectPalette(screen, g_side.palette, FALSE) : nullptr;
            RealizePalette(screen);
            g_side.bitmap = CreateDIBitmap(screen, &head, CBM_INIT, static_cast<const uint8_t*>(copy) + table,
                                           info, DIB_RGB_COLORS);
            if (old)
                SelectPalette(screen, old, FALSE);
            ReleaseDC(nullptr, screen);
            g_side.width = head.biWidth;
            g_side.height = head.biHeight < 0 ? -head.biHeight : head.biHeight;
            ok = g_side.bitmap != nullptr;
        }
    }
    GlobalUnlock(block);
    GlobalFree(block);
    if (!ok)
        release_side_bitmap();
    return ok;
}

}  // namespace

bool load_side_bitmap(HWND frame, int control_id)
{
    HWND control = GetDlgItem(frame, control_id);
    if (control == nullptr) {
        report_assertion(kSource, kLineNoControl);
        return false;
    }
    release_side_bitmap();
    g_side.loading = true;
    RECT client;
    GetClientRect(control, &client);
    bool ok;
    if (display_bits() > 7) {
        ok = load_picture(L"WIZ_DEFAULT_BMP256B");
        if (ok && (g_side.width > client.right + 2 || g_side.height > client.bottom + 2)) {
            release_side_bitmap();
            ok = load_picture(L"WIZ_DEFAULT_BMP");
        }
    } else {
        ok = load_picture(L"WIZ_DEFAULT_BMP16");
    }
    if (!ok) {
        g_side.loading = false;
        report_assertion(kSource, kLineNoPicture);
        return false;
    }
    // The control shrinks around the picture, on its own centre, keeping a
    // one-pixel margin.
    if (g_side.width + 2 <= client.right && g_side.height + 2 <= client.bottom) {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
        int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
        int w = g_side.width + 2, h = g_side.height + 2;
        MoveWindow(control, cx - w / 2, cy - h / 2, w, h, TRUE);
    }
    HDC screen = GetDC(nullptr);
    g_side.memory = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (g_side.palette) {
        g_side.old_palette = SelectPalette(g_side.memory, g_side.palette, TRUE);
        SelectPalette(g_side.memory, g_side.palette, FALSE);
        RealizePalette(g_side.memory);
    }
    g_side.old_bitmap = SelectObject(g_side.memory, g_side.bitmap);
    g_side.brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    g_side.loaded = true;
    g_side.loading = false;
    return true;
}

bool side_bitmap_loaded()
{
    return g_side.loaded;
}

void realize_side_bitmap_palette(HWND frame)
{
    if (!g_side.palette)
        return;
    HDC dc = GetDC(frame);
    HPALETTE old = SelectPalette(dc, g_side.palette, FALSE);
    RealizePalette(dc);
    SelectPalette(dc, old, FALSE);
    ReleaseDC(frame, dc);
}

void paint_side_bitmap(HWND control)
{
    if (!g_side.loaded || g_side.loading || control == nullptr)
        return;
    RECT client;
    GetClientRect(control, &client);
    int w = g_side.width < client.right - 2 ? g_side.width : client.right - 2;
    int h = g_side.height < client.bottom - 2 ? g_side.height : client.bottom - 2;
    if (w <= 0 || h <= 0)
        return;
    int x = (client.right - w) / 2;
    HDC dc = GetDC(control);
    if (g_side.width < client.right - 2 || g_side.height < client.bottom - 2)
        FillRect(dc, &client, g_side.brush);
    HPALETTE old = g_side.palette ? SelectPalette(dc, g_side.palette, FALSE) : nullptr;
    RealizePalette(dc);
    BitBlt(dc, x, 1, w, h, g_side.memory, 0, 0, SRCCOPY);
    if (old)
        SelectPalette(dc, old, FALSE);
    ReleaseDC(control, dc);
}

void release_side_bitmap()
{
    if (g_side.memory) {
        if (g_side.old_bitmap)
            SelectObject(g_side.memory, g_side.old_bitmap);
        if (g_side.old_palette)
            SelectPalette(g_side.memory, g_side.old_palette, FALSE);
        DeleteDC(g_side.memory);
    }
    if (g_side.bitmap)
        DeleteObject(g_side.bitmap);
    if (g_side.palette)
        DeleteObject(g_side.palette);
    if (g_side.brush)
        DeleteObject(g_side.brush);
    g_side = SideBitmap();
    g_side.palette_mode = true;
}

LRESULT CALLBACK etched_line_proc(HWND control, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != WM_PAINT)
        return DefWindowProcW(control, message, wparam, lparam);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(control, &ps);
    RECT client;
    GetClientRect(control, &client);
    RECT shadow = {0, 0, client.right, 1};
    RECT light = {0, 1, client.right, 2};
    FillRect(dc, &shadow, GetSysColorBrush(COLOR_BTNSHADOW));
    FillRect(dc, &light, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
    EndPaint(control, &ps);
    return 0;
}
