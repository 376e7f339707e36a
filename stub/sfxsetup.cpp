// The waits of the stub, which keep the dialog alive, and the installation
// mode's setup command: how it is started and how the stub knows that it
// has finished.
#include <windows.h>
#include <shellapi.h>

#include "stub/sfxdialog.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"

bool pump_pending_messages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        // Tab, Enter and Esc keep working in the dialog while it waits.
        if (g_sfx.main_window && IsDialogMessageW(g_sfx.main_window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

bool wait_pumping(DWORD ms, HANDLE object, bool (*stop)())
{
    DWORD begin = GetTickCount();
    for (;;) {
        if (stop())
            return false;
        DWORD spent = GetTickCount() - begin;
        if (spent >= ms)
            return true;
        DWORD count = object ? 1 : 0;
        DWORD woke = MsgWaitForMultipleObjects(count, object ? &object : nullptr, FALSE, ms - spent,
                                               QS_ALLINPUT);
        if (object && woke == WAIT_OBJECT_0)
            return true;
        if (!pump_pending_messages())
            return false;
    }
}

#if QL_SFX_INSTALL

namespace {

// The first word of a command line, without its quotes.
QlStr first_token(const QlStr& line)
{
    QlStr rest(line);
    rest.TrimLeft();
    if (rest.FirstChar() == L'"') {
        QlStr token = rest.MidFrom(1);
        int quote = token.Find(L"\"");
        return quote < 0 ? token : token.Left(quote);
    }
    int blank = rest.Find(L" ");
    return blank < 0 ? rest : rest.Left(blank);
}

bool is_file(const QlStr& path)
{
    DWORD attributes = GetFileAttributesW(path.Text());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void show_system_error(DWORD error)
{
    LPWSTR text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                       FORMAT_MESSAGE_ALLOCATE_BUFFER,
                   nullptr, error, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    sfx_box(g_sfx.main_window, QlStr(text ? text : L""), MB_OK);
    if (text)
        LocalFree(text);
}

}  // namespace

QlStr program_in_current_folder(const QlStr& command_line)
{
    QlStr program = first_token(command_line);
    QlChar first = program.FirstChar();
    if (!program.HasText() || first == L'\\' || first == L'/' ||
        (program.Length() >= 2 && program.CharAt(1) == L':'))
        return QlStr();
    wchar_t folder[MAX_PATH + 1] = {0};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH)
        return QlStr();
    QlStr path(folder);
    path.AddTrailingSlash();
    path.Append(program);
    if (is_file(path))
        return path;
    // CreateProcessW adds ".exe" to a name without an extension.
    int slash = program.FindLastChar(L'\\', program.Length());
    if (program.MidFrom(slash + 1).ContainsChar(L'.'))
        return QlStr();
    path.AppendText(L".exe");
    return is_file(path) ? path : QlStr();
}

HANDLE start_process(const QlStr& command_line)
{
    // CreateProcessW looks in the application's folder first, which holds the
    // stub itself: a program that the archive brought is named in full.
    QlStr application = program_in_current_folder(command_line);
    QlStr line(command_line);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessW(application.HasText() ? application.Text() : nullptr, line.Buffer(), nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int run_setup_command(const QlStr& command, const QlStr& arguments, HANDLE* process)
{
    *process = nullptr;
    QlStr line(command);
    if (arguments.HasText()) {
        line.AppendChar(L' ');
        line.Append(arguments);
    }
    int value = 0;
    uint32_t flags = g_sfx.header.flags;
    if ((flags & kSfxFlagCommandSplit) && (flags & kSfxFlagInstallInf)) {
        // The "Install" verb of an .inf takes the file alone.
        SHELLEXECUTEINFOW info;
        ZeroMemory(&info, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
        info.hwnd = g_sfx.main_window;
        info.lpVerb = L"Install";
        info.lpFile = command.Text();
        info.nShow = SW_SHOWNORMAL;
        ShellExecuteExW(&info);
        value = static_cast<int>(reinterpret_cast<INT_PTR>(info.hInstApp));
        *process = info.hProcess;
    } else {
        *process = start_process(line);
        if (*process == nullptr) {
            show_system_error(GetLastError());
            return 0;
        }
        value = 33;
    }
    if (value <= 32) {
        if (*process)
            CloseHandle(*process);
        *process = nullptr;
        QlStr text;
        text.Format(sfx_text(IDS_RUN_ERROR).Text(), value, command.Text());
        sfx_box(g_sfx.main_window, text, MB_OK);
        return 0;
    }
    return value;
}

bool program_in_use(const QlStr& name)
{
    QlStr file = name + L".exe";
    HANDLE shared = CreateFileW(file.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (shared == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(shared);
    HANDLE alone = CreateFileW(file.Text(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (alone == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(alone);
    return false;
}

void wait_until_program_free(bool (*stop)())
{
    char narrow[sizeof g_sfx.header.wait_name + 1] = {0};
    CopyMemory(narrow, g_sfx.header.wait_name, sizeof g_sfx.header.wait_name);
    QlStr name(narrow, 1);
    // Nothing tells when the program lets go: look again every second, and
    // whenever a message arrives.
    while (!stop() && program_in_use(name)) {
        if (!wait_pumping(1000, nullptr, stop))
            return;
    }
}

#endif
