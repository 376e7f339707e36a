// Dialog services of the builder.
#include "builder/ui/dlg.h"

#include "builder/ui/help.h"
#include "builder/ui/msgsink.h"
#include "common/QlHooks.h"
#include "common/QlMisc.h"

namespace {

const char kSourceDlg[] = "dlg";
const char kSourceMisc[] = "misc";
const int kLineModalDialog = 200;
const int kLineNoOwner = 353;
const int kLineBusyCount = 712;
const int kMsgErrorCaption = 311;

// The next message box is centred over this owner when it activates.
bool g_boxPending = false;
HWND g_boxOwner = nullptr;

int g_busyCount = 0;
bool g_busyFlag = false;
HCURSOR g_savedCursor = nullptr;
bool g_topmostDropped = false;

HINSTANCE program_module() { return GetModuleHandleW(nullptr); }

void mark_main_window(int value)
{
    HWND main = main_window();
    if (main == nullptr)
        return;
    SetPropW(main, instance_marker_name().Text(),
             reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)));
}

// Around a modal dialog: the busy state is lifted while the dialog runs and
// put back as it was. The token is the count plus one, 0 when not busy.
int suspend_busy()
{
    if (!g_busyFlag && g_busyCount == 0)
        return 0;
    int token = g_busyCount + 1;
    g_busyCount = 1;
    end_busy();
    return token;
}

void resume_busy(int token)
{
    if (token <= 0)
        return;
    begin_busy();
    g_busyCount = token - 1;
}

}  // namespace

void dialog_services_start()
{
    QlDlgHost host = {};
    host.common_handler = dialog_common_handler;
    host.suspend_busy = suspend_busy;
    host.resume_busy = resume_busy;
    qlDlgSetHost(host);
}

INT_PTR run_modal_dialog(HINSTANCE module, int template_id, HWND owner, DLGPROC procedure,
                         LPARAM init)
{
    INT_PTR result = qlDlgDialogBoxParam(module ? module : program_module(),
                                         MAKEINTRESOURCEW(template_id), owner, procedure, init);
    if (result == -1)
        qlHostWin32Error(kSourceDlg, kLineModalDialog);
    return result;
}

bool dialog_common_handler(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, int help_id)
{
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wparam) == WA_INACTIVE && g_boxPending) {
            g_boxPending = false;
            HWND box = reinterpret_cast<HWND>(lparam);
            if (box != nullptr)
                center_window_over(box, g_boxOwner, nullptr, nullptr, true);
        }
        return false;
    case WM_COMMAND:
        if (LOWORD(wparam) != 9)
            return false;
        // The Help button asks what F1 asks.
        // fall through
    case WM_HELP:
        if (help_id == kQlDlgNoHelp)
            return false;
        if (help_id != 0 && !help_disabled())
            show_help(dialog, kHelpContext, help_id);
        return true;
    default:
        return false;
    }
}

void center_window(HWND window, const SIZE* size, POINT* position, bool move)
{
    HWND owner = qlMiscGetMsgBoxOwner();
    if (window == nullptr) {
        if (!qlCheck(owner != nullptr, kSourceDlg, kLineNoOwner))
            return;
        window = owner;
    }
    HWND reference = owner;
    if (window == owner)
        reference = GetParent(window);
    center_window_over(window, reference, size, position, move);
}

int show_message_box_now(int help_id, HWND owner, const QlStr& text, const QlStr& caption,
                         UINT flags)
{
    if (owner == nullptr)
        owner = qlMiscGetMsgBoxOwner();
    g_boxOwner = owner;
    g_boxPending = owner != nullptr;
    bool busy = g_busyFlag;
    g_busyFlag = false;
    int answer = qlMiscShowMessageBox(help_id, owner, text, caption,
                                      qlMiscMessageBoxStyle(help_id, flags));
    g_busyFlag = busy;
    g_boxPending = false;
    return answer;
}

int message_box_with_help(int help_id, HWND owner, const QlStr& text, const QlStr& caption,
                          UINT flags, int text_id)
{
    return sink_message_box(text_id, owner, text, caption, flags, help_id);
}

int error_box_with_help(int help_id, HWND owner, const QlStr& text, int text_id)
{
    QlStr shown = text;
    QlChar last = shown.HasText() ? shown.LastChar() : 0;
    if (last != QL('.') && last != QL('?'))
        shown += QL('.');
    return message_box_with_help(help_id, owner, shown, load_message(kMsgErrorCaption), MB_ICONHAND,
                                 text_id);
}

void set_main_window(HWND window)
{
    qlMiscSetMainWindow(window);
}

HWND main_window()
{
    return qlMiscGetMainWindow();
}

void drop_main_window_topmost()
{
    HWND main = main_window();
    if (g_topmostDropped || main == nullptr)
        return;
    g_topmostDropped = true;
    SetWindowPos(main, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

int primary_mouse_button()
{
    static int button = GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON;
    return button;
}

QlStr instance_marker_name()
{
    return load_message(kMsgCaption);
}

void begin_busy()
{
    if (!qlCheck(g_busyCount >= 0, kSourceMisc, kLineBusyCount))
        g_busyCount = 0;
    ++g_busyCount;
    HWND main = main_window();
    if (main != nullptr) {
        mark_main_window(1);
        if (GetActiveWindow() == main)
            g_savedCursor = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    }
    g_busyFlag = true;
}

void end_busy()
{
    if (g_busyCount > 0)
        --g_busyCount;
    if (g_busyCount != 0)
        return;
    HWND main = main_window();
    if (main != nullptr) {
        mark_main_window(2);
        if (GetActiveWindow() == main)
            SetCursor(g_savedCursor ? g_savedCursor : LoadCursorW(nullptr, IDC_ARROW));
    }
    g_savedCursor = nullptr;
    g_busyFlag = false;
}

bool is_busy()
{
    return g_busyFlag;
}

void set_busy_flag(bool on)
{
    g_busyFlag = on;
}
