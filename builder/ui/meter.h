// The builder's progress bar: the window class "Meter", a two-tone bar with
// the percentage centred in it. Its two 16-bit window words hold the total
// (word 0) and the part done (word 1); callers scale their counts into that
// range (builder/progress.h). A new meter shows 50 of 100.
#pragma once

#include <windows.h>

const wchar_t kMeterClass[] = L"Meter";
const UINT kMeterSetTotal = WM_USER;      // wParam: total; answers 0
const UINT kMeterGetTotal = WM_USER + 1;  // answers the total
const UINT kMeterSetDone = WM_USER + 2;   // wParam: done; answers 0
const UINT kMeterGetDone = WM_USER + 3;   // answers the part done

// Registers the class for the module (start-up); the result is not needed:
// without the class no meter is shown, and the build goes on.
void register_meter_class(HINSTANCE module);
LRESULT CALLBACK meter_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// select: creates the meter's 6-point "Helv" font, selects it and returns
// the font it replaced; otherwise selects old back and deletes the font
// that comes out.
HFONT select_meter_font(HDC context, HFONT old, bool select);
