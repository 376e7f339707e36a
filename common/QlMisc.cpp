// Shared services of the "misc" source.
#include "common/QlMisc.h"

#include <shlobj.h>

#include "common/QlHooks.h"

namespace {

const char kSource[] = "misc";
// Assertions of the shared helpers carry a "*" before the source name.
const char kSharedSource[] = "*misc";
const int kPathUnits = 2048;

HWND g_mainWindow = nullptr;
QlMiscBoxHook g_boxHook = nullptr;
QlMiscHelpHook g_helpHook = nullptr;

// The Help button of a box. Not every system calls the box's help callback
// (Wine's message box ignores the button), so the box is caught as it
// activates and its Help button and F1 go to the callback from here.
struct HelpBox {
    HHOOK hook = nullptr;
    HWND window = nullptr;
    WNDPROC procedure = nullptr;
    DWORD help_id = 0;
};
HelpBox g_helpBox;

LRESULT CALLBACK help_box_procedure(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    if ((message == WM_COMMAND && LOWORD(wparam) == IDHELP) || message == WM_HELP) {
        HELPINFO info = {};
        info.cbSize = sizeof info;
        info.iContextType = HELPINFO_WINDOW;
        info.hItemHandle = box;
        info.dwContextId = g_helpBox.help_id;
        GetCursorPos(&info.MousePos);
        qlMiscMsgBoxHelpCallback(&info);
        return message == WM_HELP ? TRUE : 0;
    }
    return CallWindowProcW(g_helpBox.procedure, box, message, wparam, lparam);
}

LRESULT CALLBACK help_box_activation(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HCBT_ACTIVATE && g_helpBox.window == nullptr) {
        g_helpBox.window = reinterpret_cast<HWND>(wparam);
        g_helpBox.procedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            g_helpBox.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(help_box_procedure)));
    }
    return CallNextHookEx(g_helpBox.hook, code, wparam, lparam);
}

}  // namespace

void qlMiscSetMessageBoxHook(QlMiscBoxHook hook)
{
    g_boxHook = hook;
}

void qlMiscSetHelpHook(QlMiscHelpHook hook)
{
    g_helpHook = hook;
}

void qlMiscSetMainWindow(HWND window)
{
    g_mainWindow = window;
}

HWND qlMiscGetMainWindow()
{
    return g_mainWindow;
}

HWND qlMiscGetMsgBoxOwner()
{
    return g_mainWindow ? GetLastActivePopup(g_mainWindow) : nullptr;
}

UINT qlMiscMessageBoxStyle(int help_id, UINT flags)
{
    flags |= MB_SETFOREGROUND;
    if (flags & MB_SYSTEMMODAL)
        flags = (flags & ~MB_SYSTEMMODAL) | MB_TOPMOST;
    if (help_id != 0 && help_id != 1)
        flags |= MB_HELP;
    else
        flags &= ~MB_HELP;
    return flags;
}

int qlMiscMessageBox(int help_id, HWND owner, const QlStr& text, const QlStr& caption, UINT flags)
{
    if (owner == nullptr)
        owner = qlMiscGetMsgBoxOwner();
    UINT style = qlMiscMessageBoxStyle(help_id, flags);
    if (g_boxHook)
        return g_boxHook(help_id, owner, text, caption, style);
    return qlMiscShowMessageBox(help_id, owner, text, caption, style);
}

int qlMiscShowMessageBox(int help_id, HWND owner, const QlStr& text, const QlStr& caption,
                         UINT style)
{
    if (style & MB_HELP) {
        // A box over a box keeps its own catch; the outer one is put back.
        HelpBox outer = g_helpBox;
        g_helpBox = HelpBox();
        g_helpBox.help_id = static_cast<DWORD>(help_id);
        g_helpBox.hook = SetWindowsHookExW(WH_CBT, help_box_activation, nullptr, GetCurrentThreadId());
        MSGBOXPARAMSW params = {};
        params.cbSize = sizeof params;
        params.hwndOwner = owner;
        params.hInstance = GetModuleHandleW(nullptr);
        params.lpszText = text.Text() ? text.Text() : L"";
        params.lpszCaption = caption.Text();
        params.dwStyle = style;
        params.dwContextHelpId = static_cast<DWORD_PTR>(help_id);
        params.lpfnMsgBoxCallback = qlMiscMsgBoxHelpCallback;
        params.dwLanguageId = 1024;
        int answer = MessageBoxIndirectW(&params);
        if (g_helpBox.hook != nullptr)
            UnhookWindowsHookEx(g_helpBox.hook);
        g_helpBox = outer;
        return answer;
    }
    return MessageBoxW(owner, text.Text() ? text.Text() : L"", caption.Text(), style);
}

void CALLBACK qlMiscMsgBoxHelpCallback(LPHELPINFO help_info)
{
    if (help_info == nullptr || help_info->dwContextId == 0)
        return;
    HWND window = WindowFromPoint(help_info->MousePos);
    if (!qlCheck(window != nullptr, kSource, kMiscHelpWindow))
        return;
    if (g_helpHook)
        g_helpHook(window, static_cast<DWORD>(help_info->dwContextId));
}

QlStringList& qlMiscErrorList()
{
    static QlStringList list;
    return list;
}

void qlMiscLogError(const QlStr& text)
{
    qlMiscErrorList().AddTail(text);
}

void qlMiscReportLastError()
{
    DWORD error = GetLastError();
    if (error == 0)
        return;
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ALLOCATE_BUFFER,
                             nullptr, error, 1024, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (n == 0 || text == nullptr)
        return;
    QlStr message(text);
    LocalFree(text);
    qlMiscLogError(message);
    qlMiscMessageBox(0, qlMiscGetMsgBoxOwner(), message, QlStr::CtorResource(40017),
                     MB_ICONINFORMATION);
}

bool qlMiscPidlToPath(QlStr& path_out, LPCITEMIDLIST id_list)
{
    path_out.Clear();
    wchar_t buffer[kPathUnits];
    if (!SHGetPathFromIDListW(id_list, buffer))
        return false;
    int length = lstrlenW(buffer);
    if (!qlCheck(length < kPathUnits, kSharedSource, kMiscPathTooLong))
        return false;
    path_out = QlStr(buffer, length);
    return true;
}

bool qlMiscGetSpecialFolderPath(QlStr& path_out, int csidl)
{
    path_out.Clear();
    LPITEMIDLIST id_list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(qlMiscGetMsgBoxOwner(), csidl, &id_list)))
        return false;
    qlMiscPidlToPath(path_out, id_list);
    CoTaskMemFree(id_list);
    return true;
}

bool QlFile::OpenExisting(bool at_end)
{
    if (!qlCheck(!IsOpen(), kSource, kMiscOpenTwice))
        return false;
    handle_ = CreateFileW(path_.Text(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (IsOpen() && at_end)
        SetFilePointer(handle_, 0, nullptr, FILE_END);
    return IsOpen();
}

bool QlFile::CreateAlways()
{
    if (!qlCheck(!IsOpen(), kSource, kMiscCreateTwice))
        return false;
    handle_ = CreateFileW(path_.Text(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsOpen();
}

void QlFile::Close()
{
    if (IsOpen())
        CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool QlFile::Flush()
{
    if (!qlCheck(IsOpen(), kSource, kMiscFlushClosed))
        return false;
    return FlushFileBuffers(handle_) != 0;
}

DWORD QlFile::Seek(LONG distance, DWORD method)
{
    qlCheck(method <= 2, kSource, kMiscSeekMethod);
    return SetFilePointer(handle_, distance, nullptr, method);
}

bool QlFile::Read(void* buffer, DWORD count, DWORD* read)
{
    if (!qlCheck(buffer != nullptr, kSource, kMiscReadBuffer) ||
        !qlCheck(count != 0, kSource, kMiscReadCount) ||
        !qlCheck(IsOpen(), kSource, kMiscReadClosed))
        return false;
    DWORD got = 0;
    bool ok = ReadFile(handle_, buffer, count, &got, nullptr) != 0;
    if (read)
        *read = got;
    return ok;
}

bool QlFile::Write(const void* buffer, DWORD count, DWORD* written)
{
    if (!qlCheck(buffer != nullptr, kSource, kMiscWriteBuffer) ||
        !qlCheck(count != 0, kSource, kMiscWriteCount) ||
        !qlCheck(IsOpen(), kSource, kMiscWriteClosed))
        return false;
    if (write_refused_) {
        if (written)
            *written = 0;
        return false;
    }
    DWORD done = 0;
    bool ok = WriteFile(handle_, buffer, count, &done, nullptr) != 0;
    if (ok && append_crlf_) {
        DWORD more = 0;
        ok = WriteFile(handle_, "\r\n", 2, &more, nullptr) != 0;
        done += more;
    }
    if (written)
        *written = done;
    if (ok && flush_after_write_)
        Flush();
    return ok;
}
