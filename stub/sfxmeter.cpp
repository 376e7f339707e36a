// The status line and the meter as the engine moves them.
#include <windows.h>
#include <commctrl.h>

#include "stub/sfxres.h"
#include "stub/sfxstub.h"

void sfx_show_unzipping(const QlStr& output_name)
{
    if (g_sfx.meter_in_use || g_sfx.silent || !g_sfx.main_window)
        return;
    int slash = output_name.FindLastChar(L'\\', output_name.Length());
    QlStr name = slash < 0 ? output_name : output_name.MidFrom(slash + 1);
    QlStr text;
    text.Format(sfx_text(1045).Text(), name.Text());
    SetDlgItemTextW(g_sfx.main_window, IDC_SFX_STATUS, text.Text());
}

void sfx_show_progress(uint32_t percent)
{
    if (!g_sfx.meter_in_use || g_sfx.silent || !g_sfx.main_window)
        return;
    HWND meter = GetDlgItem(g_sfx.main_window, 201);
    SendMessageW(meter, WM_USER + 2, percent, 0);
    UpdateWindow(g_sfx.main_window);
}
