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
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "tests/wintools/qlfake.h"

namespace {

std::wstring resultsPath;

std::string utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], size, nullptr,
                            nullptr);
    return bytes;
}

void writeFile(const std::wstring& path, const std::wstring& text, bool append)
{
    HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string bytes = utf8(text);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

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

DWORD spawn(int argc, wchar_t** argv, int first, bool wait)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
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
