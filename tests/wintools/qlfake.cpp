// The fake program of the launcher's tests.
//
// With QLFAKE_ECHO set it writes its raw command line, its current folder and
// the value of QLFAKE_VAR ("(unset)" without one) to that file, UTF-8, one a
// line, and ends with the code in QLFAKE_EXIT. Otherwise it carries out its
// arguments in order:
//   out FILE            appends each later result to FILE, one a line
//   code N              the exit code at the end (0 by default)
//   box CAPTION TEXT TYPE   a message box of that type: "box RESULT"
//   dialog              the folder dialog: "dialog RESULT folder=TEXT overwrite=N";
//                       its OK button shows a box "Files extracted." first
//   sleep MS, hang      waits that long, for ever
//   touch FILE          writes FILE
//   spawn ARG...        starts itself with the remaining arguments and goes on
//   spawnwait ARG...    the same, but waits and ends with the child's code
//   run PATH ARG...     starts PATH with the remaining arguments and ends
//   hold FILE MS        keeps FILE open for MS, as a running program's file
//                       is held (others may only read it)
//   click CAPTION ID    clicks button ID of the top-level window whose
//                       caption holds CAPTION (as a user would, meanwhile)
//   handover CAPTION W NAME  posts message 0x7E8 (wParam W, a global atom
//                       holding NAME) to that window, as the main archiver
//                       hands the wizard a Zip file: "handover" or
//                       "handover missing"
//   link LINK TARGET    makes LINK a symbolic link to the folder TARGET
//   exists PATH         "exists yes" or "exists no"
//   window CLASS CAPTION PROP STOPFILE
//                       a top-level window of the class CLASS (registered
//                       here) with that caption and, unless PROP is "-", the
//                       window property PROP set to 2; "window" once it is
//                       shown. It stays until STOPFILE exists (two minutes at
//                       most): a program of that class is running meanwhile
//   copytree FROM TO    copies the folder FROM with all below it to TO:
//                       "copytree yes|no"
//   version             "version MAJOR.MINOR PLATFORM", as Windows reports itself
// and, to drive a program through several steps (the robot answers each
// window once):
//   start PATH          starts PATH (no arguments) and goes on
//   waitfor CAPTION     waits up to a minute for a visible top-level window
//                       whose caption is exactly CAPTION: "waitfor yes|no"
//   waitenabled CAPTION waits up to a minute until the visible window whose
//                       caption holds CAPTION takes input again (no box over it)
//   shot FILE           the screen as a 24-bit BMP file
// With QLFAKE_LOG set it first appends one JSON line to that file: its raw
// command line and its current folder ("line", "folder"); it then carries
// out its arguments as above. Fake setup programs and the fake main archiver
// log this way to a place outside the folder they run in.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "tests/wintools/TestOutput.h"
#include "tests/wintools/qlfake.h"

namespace {

std::wstring resultsPath;

void result(const std::wstring& line)
{
    if (!resultsPath.empty())
        writeFile(resultsPath, line + L"\n", true);
}

std::wstring variable(const wchar_t* name, const wchar_t* missing)
{
    wchar_t value[4096];
    DWORD length = GetEnvironmentVariableW(name, value, 4096);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return missing;
    return std::wstring(value, length < 4096 ? length : 0);
}

int echo(const std::wstring& path)
{
    wchar_t folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    writeFile(path, std::wstring(GetCommandLineW()) + L"\n" + std::wstring(folder, length) + L"\n" +
                        variable(L"QLFAKE_VAR", L"(unset)") + L"\n",
              false);
    return _wtoi(variable(L"QLFAKE_EXIT", L"0").c_str());
}

std::wstring quote(const std::wstring& argument)
{
    // The tests pass plain words and paths here: blanks only need quotes.
    return argument.find(L' ') == std::wstring::npos ? argument : L"\"" + argument + L"\"";
}

DWORD spawn(int argc, wchar_t** argv, int first, bool wait, const wchar_t* program = nullptr)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (program) {
        GetFullPathNameW(program, MAX_PATH, self, nullptr);
    }
    std::wstring line = quote(self);
    for (int i = first; i < argc; ++i)
        line += L" " + quote(argv[i]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &child))
        return 99;
    DWORD code = 0;
    if (wait) {
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &code);
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return code;
}

void logStart(const std::wstring& path)
{
    wchar_t folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    writeFile(path, L"{\"line\":" + jsonString(GetCommandLineW()) + L",\"folder\":" +
                        jsonString(std::wstring(folder, length < MAX_PATH ? length : 0)) + L"}\n",
              true);
}

void hold(const std::wstring& path, DWORD ms)
{
    // Shared for reading only, as the loader holds a running program's file.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    result(file == INVALID_HANDLE_VALUE ? L"hold failed" : L"hold");
    Sleep(ms);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

struct ClickTarget {
    std::wstring caption;
    HWND found;
};

BOOL CALLBACK findCaption(HWND window, LPARAM data)
{
    ClickTarget* target = reinterpret_cast<ClickTarget*>(data);
    wchar_t caption[512];
    int length = GetWindowTextW(window, caption, 512);
    if (IsWindowVisible(window) && std::wstring(caption, length).find(target->caption) !=
                                       std::wstring::npos) {
        target->found = window;
        return FALSE;
    }
    return TRUE;
}

void click(const std::wstring& caption, int id)
{
    ClickTarget target = {caption, nullptr};
    EnumWindows(findCaption, reinterpret_cast<LPARAM>(&target));
    HWND button = target.found ? GetDlgItem(target.found, id) : nullptr;
    result(button ? L"click" : L"click missing");
    if (button)
        PostMessageW(button, BM_CLICK, 0, 0);
}

void handOver(const std::wstring& caption, int wparam, const std::wstring& name)
{
    ClickTarget target = {caption, nullptr};
    EnumWindows(findCaption, reinterpret_cast<LPARAM>(&target));
    ATOM atom = target.found ? GlobalAddAtomW(name.c_str()) : 0;
    result(atom ? L"handover" : L"handover missing");
    if (atom)
        PostMessageW(target.found, 0x7E8, (WPARAM)wparam, atom);
}

struct WindowQuery {
    std::wstring caption;
    bool exact;
    HWND found;
};

BOOL CALLBACK findWindow(HWND window, LPARAM data)
{
    WindowQuery* query = reinterpret_cast<WindowQuery*>(data);
    wchar_t caption[512];
    int length = GetWindowTextW(window, caption, 512);
    std::wstring text(caption, length);
    if (IsWindowVisible(window) &&
        (query->exact ? text == query->caption : text.find(query->caption) != std::wstring::npos)) {
        query->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND topWindow(const std::wstring& caption, bool exact)
{
    WindowQuery query = {caption, exact, nullptr};
    EnumWindows(findWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

// Polls for up to a minute; the program driven runs emulated and slowly.
bool waitUntil(const std::wstring& caption, bool exact, bool enabled)
{
    for (int tries = 0; tries < 600; ++tries) {
        HWND window = topWindow(caption, exact);
        if (window && (!enabled || IsWindowEnabled(window)))
            return true;
        Sleep(100);
    }
    return false;
}

void start(const std::wstring& path)
{
    std::wstring line = L"\"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        result(L"start failed");
        return;
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

void shot(const std::wstring& path)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                      &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    DWORD rowBytes = ((DWORD)width * 3 + 3) & ~3u;
    BITMAPFILEHEADER head = {};
    head.bfType = 0x4D42;
    head.bfOffBits = sizeof head + sizeof info;
    head.bfSize = head.bfOffBits + rowBytes * height;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, &head, sizeof head, &written, nullptr);
        WriteFile(file, &info, sizeof info, &written, nullptr);
        WriteFile(file, bits, rowBytes * height, &written, nullptr);
        CloseHandle(file);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// A copy of a folder's whole tree (a fake setup's way of showing what it
// was given); false when any part could not be copied.
bool copyTree(const std::wstring& from, const std::wstring& to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = copyTree(from + L"\\" + name, to + L"\\" + name) && ok;
        else
            ok = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) && ok;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return ok;
}

void link(const std::wstring& name, const std::wstring& target)
{
    // Not in XP's kernel32.
    typedef BOOLEAN(WINAPI * LinkFn)(LPCWSTR, LPCWSTR, DWORD);
    LinkFn makeLink = (LinkFn)(void*)GetProcAddress(GetModuleHandleW(L"kernel32"),
                                                    "CreateSymbolicLinkW");
    result(makeLink && makeLink(name.c_str(), target.c_str(), 1) ? L"link" : L"link failed");
}

void ownWindow(const std::wstring& className, const std::wstring& caption,
               const std::wstring& property, const std::wstring& stopFile)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className.c_str();
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(className.c_str(), caption.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 300,
                                200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!window) {
        result(L"window failed");
        return;
    }
    if (property != L"-")
        SetPropW(window, property.c_str(), (HANDLE)2);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    result(L"window");
    for (int ticks = 0; ticks < 1200 && GetFileAttributesW(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES;
         ++ticks) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    if (property != L"-")
        RemovePropW(window, property.c_str());
    DestroyWindow(window);
}

INT_PTR CALLBACK folderDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FOLDER:
            // OK only with a folder, as in the real dialog.
            if (HIWORD(wParam) == EN_CHANGE)
                EnableWindow(GetDlgItem(dialog, IDOK),
                             GetWindowTextLengthW(GetDlgItem(dialog, IDC_FOLDER)) > 0);
            return TRUE;
        case IDOK: {
            wchar_t folder[1024];
            int length = GetDlgItemTextW(dialog, IDC_FOLDER, folder, 1024);
            UINT overwrite = IsDlgButtonChecked(dialog, IDC_OVERWRITE);
            wchar_t done[256];
            LoadStringW(GetModuleHandleW(nullptr), IDS_DONE, done, 256);
            MessageBoxW(dialog, done, L"Fake Done", MB_OK | MB_ICONINFORMATION);
            result(L"dialog 1 folder=" + std::wstring(folder, length) +
                   L" overwrite=" + std::to_wstring(overwrite));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            result(L"dialog 2");
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    std::wstring echoPath = variable(L"QLFAKE_ECHO", L"");
    if (!echoPath.empty())
        return echo(echoPath);

    std::wstring logPath = variable(L"QLFAKE_LOG", L"");
    if (!logPath.empty())
        logStart(logPath);

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    int code = 0;
    for (int i = 1; argv && i < argc; ++i) {
        std::wstring action = argv[i];
        bool hasValue = i + 1 < argc;
        if (action == L"out" && hasValue) {
            resultsPath = argv[++i];
        } else if (action == L"code" && hasValue) {
            code = _wtoi(argv[++i]);
        } else if (action == L"box" && i + 3 < argc) {
            int answer = MessageBoxW(nullptr, argv[i + 2], argv[i + 1], (UINT)_wtoi(argv[i + 3]));
            result(L"box " + std::to_wstring(answer));
            i += 3;
        } else if (action == L"dialog") {
            DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FAKE), nullptr, folderDialog, 0);
        } else if (action == L"sleep" && hasValue) {
            Sleep((DWORD)_wtoi(argv[++i]));
        } else if (action == L"hang") {
            Sleep(INFINITE);
        } else if (action == L"touch" && hasValue) {
            writeFile(argv[++i], L"touched\n", false);
        } else if (action == L"hold" && i + 2 < argc) {
            hold(argv[i + 1], (DWORD)_wtoi(argv[i + 2]));
            i += 2;
        } else if (action == L"click" && i + 2 < argc) {
            click(argv[i + 1], _wtoi(argv[i + 2]));
            i += 2;
        } else if (action == L"handover" && i + 3 < argc) {
            handOver(argv[i + 1], _wtoi(argv[i + 2]), argv[i + 3]);
            i += 3;
        } else if (action == L"link" && i + 2 < argc) {
            link(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (action == L"copytree" && i + 2 < argc) {
            result(copyTree(argv[i + 1], argv[i + 2]) ? L"copytree yes" : L"copytree no");
            i += 2;
        } else if (action == L"exists" && hasValue) {
            result(GetFileAttributesW(argv[++i]) != INVALID_FILE_ATTRIBUTES ? L"exists yes"
                                                                              : L"exists no");
        } else if (action == L"window" && i + 4 < argc) {
            ownWindow(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]);
            i += 4;
        } else if (action == L"version") {
            OSVERSIONINFOW info = {};
            info.dwOSVersionInfoSize = sizeof info;
            GetVersionExW(&info);
            result(L"version " + std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion) +
                   L" " + std::to_wstring(info.dwPlatformId));
        } else if (action == L"start" && hasValue) {
            start(argv[++i]);
        } else if (action == L"waitfor" && hasValue) {
            result(waitUntil(argv[++i], true, false) ? L"waitfor yes" : L"waitfor no");
        } else if (action == L"waitenabled" && hasValue) {
            result(waitUntil(argv[++i], false, true) ? L"waitenabled yes" : L"waitenabled no");
        } else if (action == L"shot" && hasValue) {
            shot(argv[++i]);
        } else if (action == L"run" && hasValue) {
            spawn(argc, argv, i + 2, false, argv[i + 1]);
            break;
        } else if (action == L"spawn") {
            spawn(argc, argv, i + 1, false);
            break;
        } else if (action == L"spawnwait") {
            code = (int)spawn(argc, argv, i + 1, true);
            break;
        } else {
            result(L"unknown " + action);
            code = 98;
            break;
        }
    }
    LocalFree(argv);
    return code;
}
