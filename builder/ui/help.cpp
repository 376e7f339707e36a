// Help through the HTML Help control.
#include "builder/ui/help.h"

#include "builder/textfile.h"
#include "builder/ui/dlg.h"
#include "common/QlHooks.h"
#include "common/QlMisc.h"

namespace {

const char kSource[] = "help";
const int kLineHelpOnHelp = 261;
const int kLinePartialKey = 297;
const int kLineClassName = 420;

// The old help engine's commands that this builder never asks for.
const int kKindHelpOnHelp = 4;
const int kKindPartialKey = 261;

// HTML Help commands.
const UINT kHhDisplayToc = 0x0001;
const UINT kHhInitialize = 0x001C;
const UINT kHhUninitialize = 0x001D;
const UINT kHhPretranslateMessage = 0x00FD;

const int kClassNameUnits = 300;

typedef HWND(WINAPI* HtmlHelpFn)(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data);

struct HelpState {
    bool load_tried = false;
    HtmlHelpFn html_help = nullptr;
    bool init_tried = false;
    bool initialised = false;
    DWORD_PTR cookie = 0;
    HWND viewer = nullptr;
    bool disabled = false;
    QlStr builder_file;
    // The two alternate files and their selectors: nothing in this builder
    // sets them.
    QlStr alternate_1, alternate_2;
    bool select_1 = false, select_2 = false;
    HHOOK hook = nullptr;
};
HelpState g_help;

// The control is loaded at its first use, so that a build from the command
// line never loads it.
HtmlHelpFn html_help()
{
    if (!g_help.load_tried) {
        g_help.load_tried = true;
        HMODULE control = LoadLibraryW(L"hhctrl.ocx");
        if (control != nullptr)
            g_help.html_help = reinterpret_cast<HtmlHelpFn>(
                reinterpret_cast<void*>(GetProcAddress(control, "HtmlHelpW")));
    }
    return g_help.html_help;
}

// The Help button of a message box.
void message_box_help(HWND window, DWORD context)
{
    show_help(window, kHelpContext, static_cast<int>(context));
}

}  // namespace

void help_start(const QlStr& help_file)
{
    g_help.builder_file = help_file;
    g_help.hook = SetWindowsHookExW(WH_MSGFILTER, help_message_hook, nullptr, GetCurrentThreadId());
    qlMiscSetHelpHook(message_box_help);
}

void help_stop()
{
    if (g_help.hook != nullptr)
        UnhookWindowsHookEx(g_help.hook);
    g_help.hook = nullptr;
    qlMiscSetHelpHook(nullptr);
    help_close(true);
}

QlStr help_file_for(int kind, int id)
{
    QlStr file;
    if (kind == kHelpContext && id >= 16000 && id <= 16999)
        file = g_help.select_2 ? g_help.alternate_2
                               : g_help.select_1 ? g_help.alternate_1 : g_help.builder_file;
    else if (kind == kHelpContext && id >= 15000 && id <= 15999)
        file = g_help.select_1 ? g_help.alternate_1 : g_help.builder_file;
    if (!file.HasText()) {
        if (id >= 14000 && id <= 14999)
            file = g_help.alternate_2;
        else if (id < 20000)
            file = g_help.builder_file;
        else
            file = g_help.alternate_1;
    }
    return file;
}

bool show_help(HWND window, int kind, int id)
{
    if (kind == kKindHelpOnHelp) {
        qlHostAssert(kSource, kLineHelpOnHelp);
        return false;
    }
    if (kind == kKindPartialKey) {
        qlHostAssert(kSource, kLinePartialKey);
        return false;
    }
    QlStr file = help_file_for(kind, id);
    if (!file.HasText())
        return false;
    // The viewer resolves the file's links against the current folder.
    wchar_t saved[MAX_PATH * 2];
    DWORD n = GetCurrentDirectoryW(MAX_PATH * 2, saved);
    bool restore = n > 0 && n < MAX_PATH * 2;
    QlStr folder = folder_of(g_help.builder_file);
    if (folder.HasText())
        SetCurrentDirectoryW(folder.Text());
    bool shown = id == 1 ? help_open(window, file, kHhDisplayToc, 0)
                         : help_open(window, file, static_cast<UINT>(kind), static_cast<DWORD_PTR>(id));
    if (restore)
        SetCurrentDirectoryW(saved);
    return shown;
}

bool help_open(HWND window, const QlStr& file, UINT command, DWORD_PTR data)
{
    help_initialize();
    HtmlHelpFn help = html_help();
    if (help == nullptr)
        return false;
    HWND viewer = help(window, file.Text(), command, data);
    if (viewer != nullptr)
        g_help.viewer = viewer;
    return viewer != nullptr;
}

void help_initialize()
{
    if (g_help.init_tried)
        return;
    g_help.init_tried = true;
    HtmlHelpFn help = html_help();
    if (help == nullptr)
        return;
    DWORD cookie = 0;
    help(nullptr, nullptr, kHhInitialize, reinterpret_cast<DWORD_PTR>(&cookie));
    g_help.cookie = cookie;
    g_help.initialised = cookie != 0;
}

void help_close(bool uninitialise)
{
    if (g_help.initialised && g_help.viewer != nullptr && IsWindow(g_help.viewer) &&
        GetForegroundWindow() == g_help.viewer) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(g_help.viewer, WM_CLOSE, 0, 0, SMTO_BLOCK, 2000, &ignored);
    }
    if (uninitialise && g_help.initialised && g_help.html_help != nullptr)
        g_help.html_help(nullptr, nullptr, kHhUninitialize, g_help.cookie);
    if (uninitialise) {
        g_help.initialised = false;
        g_help.init_tried = false;
    }
    g_help.viewer = nullptr;
    g_help.cookie = uninitialise ? 0 : g_help.cookie;
}

bool is_help_viewer_active()
{
    HWND viewer = g_help.viewer;
    if (viewer == nullptr || !IsWindow(viewer) || GetForegroundWindow() != viewer)
        return false;
    wchar_t name[kClassNameUnits];
    int n = GetClassNameW(viewer, name, kClassNameUnits);
    if (!qlCheck(n < kClassNameUnits - 1, kSource, kLineClassName))
        return false;
    return lstrcmpW(name, L"HH Parent") == 0;
}

LRESULT CALLBACK help_message_hook(int code, WPARAM wparam, LPARAM lparam)
{
    if (code >= 0 && lparam != 0) {
        MSG* message = reinterpret_cast<MSG*>(lparam);
        bool key = message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN;
        if (key && g_help.initialised && g_help.html_help != nullptr && is_help_viewer_active() &&
            g_help.html_help(nullptr, nullptr, kHhPretranslateMessage,
                             reinterpret_cast<DWORD_PTR>(message)) != nullptr)
            return 1;
        if (code == MSGF_MENU && message->message == WM_KEYDOWN && message->wParam == VK_F1) {
            HWND main = main_window();
            if (main != nullptr)
                PostMessageW(main, kMsgMenuHelp, static_cast<WPARAM>(code),
                             reinterpret_cast<LPARAM>(message->hwnd));
        }
    }
    return CallNextHookEx(g_help.hook, code, wparam, lparam);
}

void set_help_disabled(bool disabled)
{
    g_help.disabled = disabled;
}

bool help_disabled()
{
    return g_help.disabled;
}
