// For tests: the builder opens one of its dialogs after start-up in place of
// reading its switches, so that the robot can answer it, and writes what came
// of it to a file.
#include "builder/testhooks.h"

#include <string>

#include "builder/build.h"
#include "builder/callbacks.h"
#include "builder/services.h"
#include "builder/sfxoptions.h"
#include "builder/ui/dlg.h"
#include "builder/ui/filedlg.h"
#include "builder/ui/meter.h"
#include "builder/ui/msgsink.h"
#include "help/helpids.h"

namespace {

const int kMsgAsked = 4650;  // a question with a Help button
const int kMsgConfirmed = 4840;  // the question of the confirmation dialog
const UINT_PTR kStopTimer = 1;
const UINT kStopPollMs = 100;
// A stand-in main window gives up after this long without a stop.
const DWORD kStandInLimitMs = 120000;

std::wstring g_resultPath;
DWORD g_standInStart = 0;
bool g_readyWritten = false;
bool g_readyNeedsDialog = false;

std::wstring environment(const wchar_t* name)
{
    wchar_t value[2048];
    DWORD n = GetEnvironmentVariableW(name, value, 2048);
    return n > 0 && n < 2048 ? std::wstring(value, n) : std::wstring();
}

void write_result(const std::wstring& line)
{
    if (!g_resultPath.empty())
        append_utf8_line(g_resultPath, line);
}

bool stop_asked()
{
    return GetFileAttributesW((g_resultPath + L".stop").c_str()) != INVALID_FILE_ATTRIBUTES ||
           GetTickCount() - g_standInStart > kStandInLimitMs;
}

// The stand-in of the wizard frame for the single-instance tests: it carries
// the instance marker, takes the hand-over message, and ends when it got one
// or when the test asks it to stop.
LRESULT CALLBACK stand_in_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case kMsgHandOver: {
        wchar_t text[262] = {};
        ATOM atom = static_cast<ATOM>(lparam);
        GlobalGetAtomNameW(atom, text, 261);
        GlobalDeleteAtom(atom);
        write_result(L"handed " + std::to_wstring(wparam) + L" " + text);
        DestroyWindow(window);
        return 0;
    }
    case WM_TIMER:
        // Ready once the window is as the test wants it: with its dialog
        // open when it asked for one.
        if (!g_readyWritten && (!g_readyNeedsDialog || GetLastActivePopup(window) != window)) {
            g_readyWritten = true;
            write_result(L"ready");
        }
        if (stop_asked()) {
            HWND popup = GetLastActivePopup(window);
            if (popup != window)
                EndDialog(popup, 0);
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

int run_stand_in(const std::wstring& state)
{
    WNDCLASSW type = {};
    type.lpfnWndProc = stand_in_procedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = L"QuollaSelfExtractorStandIn";
    RegisterClassW(&type);
    HWND window = CreateWindowExW(0, type.lpszClassName, L"Quolla Self-Extractor (first builder)",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 200, nullptr, nullptr,
                                  type.hInstance, nullptr);
    if (window == nullptr)
        return 1;
    set_main_window(window);
    g_standInStart = GetTickCount();
    SetTimer(window, kStopTimer, kStopPollMs, nullptr);
    if (state == L"busy")
        begin_busy();
    else
        end_busy();
    g_readyNeedsDialog = state == L"dialog";
    if (state == L"dialog")
        write_result(L"confirm " + std::to_wstring(confirm_dialog(window, kMsgConfirmed, IDH_DIALOG_TYPE2)));
    MSG message;
    while (IsWindow(window) && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    set_main_window(nullptr);
    return 0;
}

// The stand-in of the wizard's build page: its status line 4001 and the
// place 4003 of the meter, shown by the build only when it turns out slow.
int run_build_page(const QlStr& zip)
{
    WNDCLASSW type = {};
    type.lpfnWndProc = DefWindowProcW;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = L"QuollaBuildPageStandIn";
    RegisterClassW(&type);
    HWND page = CreateWindowExW(0, type.lpszClassName, L"Quolla Self-Extractor (build page)",
                                WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 100, 100, 420, 120, nullptr, nullptr,
                                type.hInstance, nullptr);
    if (page == nullptr)
        return 1;
    CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, 390, 16, page,
                    reinterpret_cast<HMENU>(kProgressStatusLine), type.hInstance, nullptr);
    HWND place = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 10, 40, 390, 20, page,
                                 reinterpret_cast<HMENU>(kProgressMeterPlace), type.hInstance, nullptr);
    create_meter_window(page, place);
    HWND meter = meter_window();
    g_options.zip_name = zip;
    g_settings.prompts_off = true;
    int built = build_sfx_guarded(page);
    write_result(L"built " + std::to_wstring(built) + L" range " +
                 std::to_wstring(SendMessageW(meter, kMeterGetTotal, 0, 0)) + L" done " +
                 std::to_wstring(SendMessageW(meter, kMeterGetDone, 0, 0)));
    destroy_meter_window(page);
    write_result(std::wstring(L"meter ") + (IsWindow(meter) ? L"kept" : L"gone") + L", place " +
                 (IsWindowVisible(place) ? L"shown" : L"hidden"));
    DestroyWindow(page);
    return built == 1 ? 1 : 2;
}

void report_chosen(bool chosen, const QlStr& path)
{
    write_result(chosen ? L"chosen " + std::wstring(path.Text()) : std::wstring(L"none"));
}

}  // namespace

bool run_test_dialog_if_asked(int* exit_code)
{
    std::wstring asked = environment(L"QL_TEST_DIALOG");
    if (asked.empty())
        return false;
    g_resultPath = environment(L"QL_TEST_RESULT");
    size_t colon = asked.find(L':');
    std::wstring name = asked.substr(0, colon);
    QlStr argument(colon == std::wstring::npos ? L"" : asked.c_str() + colon + 1);
    *exit_code = 0;
    if (name == L"about") {
        show_about_box(nullptr);
        write_result(L"about");
    } else if (name == L"confirm") {
        write_result(L"confirm " + std::to_wstring(confirm_dialog(nullptr, kMsgConfirmed, IDH_DIALOG_TYPE2)));
    } else if (name == L"box") {
        QlStr text = format_message(kMsgAsked, L"TEST.EXE", L"TEST.ZIP");
        int answer = message_box_with_help(IDH_DIALOG_TYPE3, nullptr, text, load_message(kMsgCaption),
                                           MB_YESNO | MB_ICONQUESTION, kMsgAsked);
        write_result(L"box " + std::to_wstring(answer));
    } else if (name == L"browse-zip") {
        report_chosen(browse_for_zip_file(nullptr, argument), argument);
    } else if (name == L"browse-text") {
        report_chosen(browse_for_text_file(nullptr, argument), argument);
    } else if (name == L"browse-icon") {
        report_chosen(browse_for_icon_file(nullptr, argument), argument);
    } else if (name == L"save-text") {
        report_chosen(browse_for_text_file_to_save(nullptr, argument), argument);
    } else if (name == L"build-page") {
        *exit_code = run_build_page(argument);
    } else if (name == L"main") {
        *exit_code = run_stand_in(argument.Text());
    } else {
        write_result(L"unknown " + name);
        *exit_code = 1;
    }
    return true;
}
