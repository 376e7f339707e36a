// The helper library's callbacks and the progress display.
#include "builder/callbacks.h"

#include <cstdlib>

#include "builder/progress.h"
#include "builder/qlse32api.h"
#include "builder/services.h"
#include "builder/sfxoptions.h"
#include "builder/stubvariants.h"
#include "builder/trace.h"
#include "builder/ui/meter.h"
#include "builder/ui/msgsink.h"
#include "builder/winsfx.h"
#include "common/zipname.h"

bool g_diskPromptSeen = false;
uint16_t g_nameFeatures = 0;

namespace {

const char kSource[] = "callbacks";
const int kLineUnzipInitUnbound = 153;
const int kMsgLibraryError = 1080;
const int kMsgWriteTo = 6130;

HWND g_progressWindow = nullptr;
HWND g_meterWindow = nullptr;
bool g_cancelRequested = false;
uint32_t g_progressTotal = 0;
MeterRule g_meterRule;
// For tests: QL_TEST_CANCEL_AT=<percent> requests the cancel once a step
// reaches that share of the total, as the wizard's Stop would.
int g_cancelAtPercent = -1;

const wchar_t kOutOfMemory[] =
    L"There is not enough memory available for Quolla to continue.\n\nPlease close some of your "
    L"other applications or free up some memory another way before trying to run Quolla again.";

HWND meter_control()
{
    return g_progressWindow ? GetDlgItem(g_progressWindow, kProgressMeterControl) : nullptr;
}

// The range and position go to control 4002, or else to the Meter child.
HWND meter_target()
{
    HWND control = meter_control();
    return control ? control : g_meterWindow;
}

void show_meter()
{
    HWND control = meter_control();
    if (control) {
        ShowWindow(control, SW_SHOW);
    } else if (g_meterWindow && g_progressWindow) {
        ShowWindow(GetDlgItem(g_progressWindow, kProgressMeterPlace), SW_SHOW);
        ShowWindow(g_meterWindow, SW_SHOW);
    }
}

void read_test_cancel_point()
{
    wchar_t value[16];
    DWORD n = GetEnvironmentVariableW(L"QL_TEST_CANCEL_AT", value, 16);
    g_cancelAtPercent = n > 0 && n < 16 ? _wtoi(value) : -1;
}

int QLSE_API cb_zero() { return 0; }
int QLSE_API cb_one() { return 1; }
int QLSE_API cb_two() { return 2; }
int QLSE_API cb_five() { return 5; }

int QLSE_API cb_status_text(int, const QlseChar* text)
{
    if (g_progressWindow && text)
        SetDlgItemTextW(g_progressWindow, kProgressStatusLine, text);
    process_pending_messages();
    return 1;
}

int QLSE_API cb_error(int code, const QlseChar* text)
{
    show_error_format(kMsgLibraryError, code, text ? text : L"");
    return 1;
}

int QLSE_API cb_message(const QlseChar* text, int quiet)
{
    if (!quiet && text)
        message_box_id(kMsgLibraryError, QlStr(text), MB_OK | MB_ICONERROR);
    return 1;
}

int QLSE_API cb_poll_cancel()
{
    process_pending_messages();
    return g_cancelRequested ? 1 : 0;
}

int QLSE_API cb_progress_start(uint32_t total)
{
    g_progressTotal = total;
    g_meterRule.start(total, GetTickCount());
    HWND target = meter_target();
    if (target) {
        SendMessageW(target, kMeterSetDone, 0, 0);
        SendMessageW(target, kMeterSetTotal, meter_range(total), 0);
        if (target == g_meterWindow && g_options.spanning) {
            g_meterRule.decide_now();
            show_meter();
        }
    }
    process_pending_messages();
    return 0;
}

int QLSE_API cb_progress_step(uint32_t position)
{
    HWND target = meter_target();
    if (target)
        SendMessageW(target, kMeterSetDone, meter_position(position, g_progressTotal), 0);
    if (g_progressTotal != 0) {
        bool undecided = g_meterRule.verdict() == kMeterUndecided;
        if (undecided && g_meterRule.step(position, GetTickCount()) == kMeterShow) {
            show_meter();
            if (g_progressWindow)
                RedrawWindow(g_progressWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        }
        if (g_cancelAtPercent >= 0 &&
            static_cast<uint64_t>(position) * 100 >= static_cast<uint64_t>(g_cancelAtPercent) * g_progressTotal)
            request_cancel();
    }
    process_pending_messages();
    return 0;
}

int QLSE_API cb_message_box(void* owner, const QlseChar* text, const QlseChar* caption, uint32_t type)
{
    HWND o = owner ? static_cast<HWND>(owner) : g_progressWindow ? g_progressWindow : GetActiveWindow();
    int answer = sink_message_box(0, o, QlStr(text ? text : L""), QlStr(caption ? caption : L""), type);
    if (o)
        UpdateWindow(o);
    return answer;
}

int QLSE_API cb_status_name(int append)
{
    // The builder keeps no entry name of its own: the line is emptied or kept.
    if (g_progressWindow && !append)
        SetDlgItemTextW(g_progressWindow, kProgressStatusLine, L"");
    return 0;
}

// The disk prompts belong to spanning, which this builder refuses before
// the library is called: a prompt that comes all the same is cancelled.
int QLSE_API cb_disk_prompt(int, const QlseChar*, const QlseChar*)
{
    g_diskPromptSeen = true;
    return 2;
}
int QLSE_API cb_disk_prompt_text(const QlseChar*) { return 2; }

int QLSE_API cb_write_error(const QlseChar* name)
{
    message_box_id(kMsgWriteTo, format_message(kMsgWriteTo, name ? name : L""), MB_OK | MB_ICONERROR,
                   g_progressWindow);
    if (g_progressWindow)
        UpdateWindow(g_progressWindow);
    return 5;
}

int QLSE_API cb_check_name(int, const QlseChar* name, int, const QlseChar* other)
{
    if (name == nullptr)
        return 0;
    QlStr n(name), o(other ? other : L"");
    if (qlZipNameCheck(n.Text(), n.Length()) == kQlZipNameOk && (n.HasNonAscii() || o.HasNonAscii()))
        g_nameFeatures |= kFeatureUnicode;
    return 0;
}

void QLSE_API cb_assert(const QlseChar* file, int line) { on_library_assert(file, line); }
void QLSE_API cb_win32_error(const QlseChar* file, int line) { on_library_win32_error(file, line); }

}  // namespace

void set_progress_window(HWND window)
{
    g_progressWindow = window;
}

HWND progress_window()
{
    return g_progressWindow;
}

void request_cancel()
{
    g_cancelRequested = true;
}

bool cancel_requested()
{
    return g_cancelRequested;
}

void clear_cancel_request()
{
    g_cancelRequested = false;
}

void create_meter_window(HWND, HWND frame)
{
    if (frame == nullptr)
        return;
    RECT area;
    GetClientRect(frame, &area);
    g_meterWindow = CreateWindowExW(0, kMeterClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, area.right,
                                    area.bottom, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
}

void destroy_meter_window(HWND page)
{
    if (g_meterWindow == nullptr)
        return;
    if (page)
        ShowWindow(GetDlgItem(page, kProgressMeterPlace), SW_HIDE);
    DestroyWindow(g_meterWindow);
    g_meterWindow = nullptr;
}

HWND meter_window()
{
    return g_meterWindow;
}

void init_zip_callbacks()
{
    g_diskPromptSeen = false;
    read_test_cancel_point();
    QlseZipCallbacks t = {};
    t.unused_1 = cb_zero;
    t.unused_2 = cb_zero;
    t.status_text = cb_status_text;
    t.error = cb_error;
    t.message = cb_message;
    t.poll_cancel = cb_poll_cancel;
    t.progress_start = cb_progress_start;
    t.progress_step = cb_progress_step;
    t.idle = cb_zero;
    t.message_box = cb_message_box;
    t.status_name = cb_status_name;
    t.disk_prompt = cb_disk_prompt;
    t.disk_prompt_text = cb_disk_prompt_text;
    t.write_error = cb_write_error;
    t.unused_18 = cb_zero;
    t.out_of_memory = kOutOfMemory;
    g_helper->zip_init(t);
}

void init_unzip_callbacks()
{
    if (!g_helper || !g_helper->unzip_init) {
        report_assertion(kSource, kLineUnzipInitUnbound);
        return;
    }
    QlseUnzipCallbacks t = {};
    t.none_1 = cb_zero;
    t.none_2 = cb_zero;
    t.check_name = cb_check_name;
    t.error = cb_error;
    t.none_5 = cb_one;
    t.none_6 = cb_zero;
    t.message_box = cb_message_box;
    t.on_assert = cb_assert;
    t.on_win32_error = cb_win32_error;
    t.disk_prompt = cb_disk_prompt;
    t.none_11 = cb_one;
    t.none_12 = cb_five;
    t.none_13 = cb_five;
    t.none_14 = cb_zero;
    t.none_15 = cb_zero;
    t.none_16 = cb_one;
    t.none_17 = cb_zero;
    t.none_18 = cb_two;
    t.out_of_memory = kOutOfMemory;
    g_helper->unzip_init(t);
}
