// The narrow build's Windows calls: the stub's code calls the wide functions
// as in every other build, and this module takes their place in the import
// table with the "A" functions behind them, converting texts between UTF-16
// and the ANSI code page at this edge. So the image imports no wide function
// that the 9x family lacks (a test reads its import table); the few it has
// there (ExtTextOutW, GetTextExtentPoint32W, lstrlenW, FindResourceW, ...)
// stay as they are.
//
// Each function here defines the import slot the compiler calls through
// ("__imp__Name@bytes") and a direct entry for callers without it, in
// sections of their own, so that the linker keeps only the functions called
// and takes no import library member for them. Windows the stub creates are
// ANSI windows: the messages it sends carry no texts but WM_SETTEXT and
// WM_GETTEXT, which are converted.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstddef>
#include <type_traits>

namespace {

// The size of a stdcall function's arguments, as its import name has it.
template <class F>
struct ArgumentBytes;
template <class R, class... A>
struct ArgumentBytes<R __stdcall(A...)> {
    static constexpr int value = (0 + ... + static_cast<int>((sizeof(A) + 3) & ~size_t(3)));
};

bool is_resource_number(const void* text) { return (reinterpret_cast<ULONG_PTR>(text) >> 16) == 0; }

// The ANSI text of a wide text; a null pointer or a resource number passes
// as it is.
class Ansi {
public:
    explicit Ansi(LPCWSTR text)
    {
        if (text == nullptr || is_resource_number(text)) {
            m_text = reinterpret_cast<LPCSTR>(text);
            return;
        }
        int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
        char* target = bytes <= static_cast<int>(sizeof m_local)
                           ? m_local
                           : static_cast<char*>(LocalAlloc(LMEM_FIXED, bytes > 0 ? bytes : 1));
        if (target != m_local)
            m_heap = target;
        if (target == nullptr || bytes <= 0 || WideCharToMultiByte(CP_ACP, 0, text, -1, target, bytes, nullptr, nullptr) <= 0) {
            m_local[0] = 0;
            target = m_local;
        }
        m_text = target;
    }
    ~Ansi()
    {
        if (m_heap)
            LocalFree(m_heap);
    }
    Ansi(const Ansi&) = delete;
    Ansi& operator=(const Ansi&) = delete;
    operator LPCSTR() const { return m_text; }
    LPSTR Writable() const { return const_cast<LPSTR>(m_text); }

private:
    LPCSTR m_text = nullptr;
    char m_local[MAX_PATH * 2 + 2];
    char* m_heap = nullptr;
};

// ANSI text into a wide buffer of `units` units: the units written without
// the terminator, or -1 (and an empty text) when it does not fit.
int to_wide(LPCSTR text, LPWSTR out, int units)
{
    if (out == nullptr || units <= 0)
        return -1;
    int n = MultiByteToWideChar(CP_ACP, 0, text ? text : "", -1, out, units);
    if (n <= 0) {
        out[0] = 0;
        return -1;
    }
    return n - 1;
}

// The units the wide form of an ANSI text needs, with the terminator.
int wide_units(LPCSTR text)
{
    return MultiByteToWideChar(CP_ACP, 0, text ? text : "", -1, nullptr, 0);
}

// The convention of the path queries: the length without the terminator when
// it fits, else the units needed with it (0 stays a failure).
DWORD path_result(DWORD narrow_result, LPCSTR text, LPWSTR out, DWORD units)
{
    if (narrow_result == 0)
        return 0;
    int written = to_wide(text, out, static_cast<int>(units));
    return written >= 0 ? static_cast<DWORD>(written) : static_cast<DWORD>(wide_units(text));
}

void find_data_to_wide(const WIN32_FIND_DATAA& in, LPWIN32_FIND_DATAW out)
{
    out->dwFileAttributes = in.dwFileAttributes;
    out->ftCreationTime = in.ftCreationTime;
    out->ftLastAccessTime = in.ftLastAccessTime;
    out->ftLastWriteTime = in.ftLastWriteTime;
    out->nFileSizeHigh = in.nFileSizeHigh;
    out->nFileSizeLow = in.nFileSizeLow;
    out->dwReserved0 = in.dwReserved0;
    out->dwReserved1 = in.dwReserved1;
    to_wide(in.cFileName, out->cFileName, MAX_PATH);
    to_wide(in.cAlternateFileName, out->cAlternateFileName, 14);
}

}  // namespace

// The slot and the direct entry of one function; the checks make sure the
// replacement has the declared function's type and argument bytes.
#define QL_NARROW(name, bytes)                                                              \
    static_assert(ArgumentBytes<decltype(::name)>::value == bytes, #name ": argument bytes"); \
    static_assert(std::is_same<decltype(&::name), decltype(&ql_narrow_##name)>::value,     \
                  #name ": the replacement's type differs");                                \
    asm(".section .data$qlnarrow_" #name ",\"w\"\n"                                         \
        ".balign 4\n"                                                                       \
        ".globl __imp__" #name "@" #bytes "\n"                                              \
        "__imp__" #name "@" #bytes ":\n"                                                    \
        "\t.long _ql_narrow_" #name "@" #bytes "\n"                                         \
        ".section .text$qlnarrow_direct_" #name ",\"x\"\n"                                  \
        ".globl _" #name "@" #bytes "\n"                                                    \
        "_" #name "@" #bytes ":\n"                                                          \
        "\tjmp *__imp__" #name "@" #bytes "\n"                                              \
        ".text\n");

extern "C" {

// --- KERNEL32: files and folders

HANDLE WINAPI ql_narrow_CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE template_file)
{
    return CreateFileA(Ansi(name), access, share, security, disposition, flags, template_file);
}

DWORD WINAPI ql_narrow_GetFileAttributesW(LPCWSTR name) { return GetFileAttributesA(Ansi(name)); }
BOOL WINAPI ql_narrow_SetFileAttributesW(LPCWSTR name, DWORD attributes)
{
    return SetFileAttributesA(Ansi(name), attributes);
}
BOOL WINAPI ql_narrow_CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES security)
{
    return CreateDirectoryA(Ansi(name), security);
}
BOOL WINAPI ql_narrow_RemoveDirectoryW(LPCWSTR name) { return RemoveDirectoryA(Ansi(name)); }
BOOL WINAPI ql_narrow_DeleteFileW(LPCWSTR name) { return DeleteFileA(Ansi(name)); }
BOOL WINAPI ql_narrow_SetCurrentDirectoryW(LPCWSTR name) { return SetCurrentDirectoryA(Ansi(name)); }
BOOL WINAPI ql_narrow_CopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists)
{
    return CopyFileA(Ansi(from), Ansi(to), fail_if_exists);
}
BOOL WINAPI ql_narrow_MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    return MoveFileExA(Ansi(from), Ansi(to), flags);
}

HANDLE WINAPI ql_narrow_FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW found)
{
    WIN32_FIND_DATAA narrow;
    HANDLE find = FindFirstFileA(Ansi(pattern), &narrow);
    if (find != INVALID_HANDLE_VALUE)
        find_data_to_wide(narrow, found);
    return find;
}

BOOL WINAPI ql_narrow_FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW found)
{
    WIN32_FIND_DATAA narrow;
    if (!FindNextFileA(find, &narrow))
        return FALSE;
    find_data_to_wide(narrow, found);
    return TRUE;
}

DWORD WINAPI ql_narrow_GetCurrentDirectoryW(DWORD units, LPWSTR out)
{
    char narrow[MAX_PATH * 2];
    return path_result(GetCurrentDirectoryA(sizeof narrow, narrow), narrow, out, units);
}
DWORD WINAPI ql_narrow_GetTempPathW(DWORD units, LPWSTR out)
{
    char narrow[MAX_PATH * 2];
    return path_result(GetTempPathA(sizeof narrow, narrow), narrow, out, units);
}
UINT WINAPI ql_narrow_GetSystemDirectoryW(LPWSTR out, UINT units)
{
    char narrow[MAX_PATH * 2];
    return path_result(GetSystemDirectoryA(narrow, sizeof narrow), narrow, out, units);
}
UINT WINAPI ql_narrow_GetWindowsDirectoryW(LPWSTR out, UINT units)
{
    char narrow[MAX_PATH * 2];
    return path_result(GetWindowsDirectoryA(narrow, sizeof narrow), narrow, out, units);
}
DWORD WINAPI ql_narrow_GetLongPathNameW(LPCWSTR path, LPWSTR out, DWORD units)
{
    char narrow[MAX_PATH * 2];
    DWORD n = GetLongPathNameA(Ansi(path), narrow, sizeof narrow);
    return n < sizeof narrow ? path_result(n, narrow, out, units) : 0;
}
DWORD WINAPI ql_narrow_GetFullPathNameW(LPCWSTR path, DWORD units, LPWSTR out, LPWSTR* file_part)
{
    char narrow[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(Ansi(path), sizeof narrow, narrow, nullptr);
    DWORD result = n < sizeof narrow ? path_result(n, narrow, out, units) : 0;
    if (file_part != nullptr) {
        *file_part = nullptr;
        if (result > 0 && result < units)
            for (LPWSTR p = out; *p; ++p)
                if (*p == L'\\' && p[1] != 0)
                    *file_part = p + 1;
    }
    return result;
}
DWORD WINAPI ql_narrow_GetEnvironmentVariableW(LPCWSTR name, LPWSTR out, DWORD units)
{
    char narrow[4096];
    DWORD n = GetEnvironmentVariableA(Ansi(name), narrow, sizeof narrow);
    return n < sizeof narrow ? path_result(n, narrow, out, units) : 0;
}
DWORD WINAPI ql_narrow_GetModuleFileNameW(HMODULE module, LPWSTR out, DWORD units)
{
    char narrow[MAX_PATH * 2];
    DWORD n = GetModuleFileNameA(module, narrow, sizeof narrow);
    if (n == 0 || n >= sizeof narrow)
        return 0;
    int written = to_wide(narrow, out, static_cast<int>(units));
    if (written >= 0)
        return static_cast<DWORD>(written);
    // As the wide function: the buffer filled, the length of the buffer.
    if (units > 0) {
        MultiByteToWideChar(CP_ACP, 0, narrow, -1, out, static_cast<int>(units));
        out[units - 1] = 0;
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return units;
}
BOOL WINAPI ql_narrow_GetVolumeInformationW(LPCWSTR root, LPWSTR volume, DWORD volume_units, LPDWORD serial,
                                            LPDWORD longest, LPDWORD flags, LPWSTR system, DWORD system_units)
{
    char narrow_volume[MAX_PATH + 1] = {0};
    char narrow_system[MAX_PATH + 1] = {0};
    if (!GetVolumeInformationA(Ansi(root), narrow_volume, sizeof narrow_volume, serial, longest, flags,
                               narrow_system, sizeof narrow_system))
        return FALSE;
    if (volume != nullptr)
        to_wide(narrow_volume, volume, static_cast<int>(volume_units));
    if (system != nullptr)
        to_wide(narrow_system, system, static_cast<int>(system_units));
    return TRUE;
}

// --- KERNEL32: modules, processes, system

HMODULE WINAPI ql_narrow_GetModuleHandleW(LPCWSTR name) { return GetModuleHandleA(Ansi(name)); }
HMODULE WINAPI ql_narrow_LoadLibraryW(LPCWSTR name) { return LoadLibraryA(Ansi(name)); }
HMODULE WINAPI ql_narrow_LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags)
{
    return LoadLibraryExA(Ansi(name), file, flags);
}

BOOL WINAPI ql_narrow_GetVersionExW(LPOSVERSIONINFOW info)
{
    OSVERSIONINFOEXA narrow;
    ZeroMemory(&narrow, sizeof narrow);
    const bool extended = info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXW);
    narrow.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXA) : sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&narrow)))
        return FALSE;
    info->dwMajorVersion = narrow.dwMajorVersion;
    info->dwMinorVersion = narrow.dwMinorVersion;
    info->dwBuildNumber = narrow.dwBuildNumber;
    info->dwPlatformId = narrow.dwPlatformId;
    to_wide(narrow.szCSDVersion, info->szCSDVersion, 128);
    if (extended) {
        LPOSVERSIONINFOEXW more = reinterpret_cast<LPOSVERSIONINFOEXW>(info);
        more->wServicePackMajor = narrow.wServicePackMajor;
        more->wServicePackMinor = narrow.wServicePackMinor;
        more->wSuiteMask = narrow.wSuiteMask;
        more->wProductType = narrow.wProductType;
        more->wReserved = narrow.wReserved;
    }
    return TRUE;
}

BOOL WINAPI ql_narrow_CreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES process,
                                     LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                     LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information)
{
    Ansi narrow_application(application), line(command_line), narrow_folder(folder);
    Ansi desktop(startup->lpDesktop), title(startup->lpTitle);
    STARTUPINFOA narrow;
    CopyMemory(&narrow, startup, sizeof narrow);
    narrow.cb = sizeof narrow;
    narrow.lpReserved = nullptr;
    narrow.lpDesktop = desktop.Writable();
    narrow.lpTitle = title.Writable();
    return CreateProcessA(narrow_application, line.Writable(), process, thread, inherit, flags, environment,
                          narrow_folder, &narrow, information);
}

DWORD WINAPI ql_narrow_FormatMessageW(DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer,
                                      DWORD size, va_list* arguments)
{
    // The stub asks only for the system's texts, without inserts.
    LPSTR narrow = nullptr;
    DWORD n = FormatMessageA((flags & ~FORMAT_MESSAGE_FROM_STRING) | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             source, id, language, reinterpret_cast<LPSTR>(&narrow), 0, nullptr);
    if (n == 0 || narrow == nullptr)
        return 0;
    int units = wide_units(narrow);
    DWORD result = 0;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        LPWSTR wide = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, units * sizeof(WCHAR)));
        if (wide != nullptr && to_wide(narrow, wide, units) >= 0) {
            *reinterpret_cast<LPWSTR*>(buffer) = wide;
            result = static_cast<DWORD>(units - 1);
        } else if (wide != nullptr) {
            LocalFree(wide);
        }
    } else {
        int written = to_wide(narrow, buffer, static_cast<int>(size));
        result = written > 0 ? static_cast<DWORD>(written) : 0;
    }
    LocalFree(narrow);
    (void)arguments;
    return result;
}

LPWSTR WINAPI ql_narrow_lstrcpynW(LPWSTR out, LPCWSTR in, int units)
{
    if (units <= 0)
        return out;
    int i = 0;
    for (; i < units - 1 && in[i]; ++i)
        out[i] = in[i];
    out[i] = 0;
    return out;
}

QL_NARROW(CreateFileW, 28)
QL_NARROW(GetFileAttributesW, 4)
QL_NARROW(SetFileAttributesW, 8)
QL_NARROW(CreateDirectoryW, 8)
QL_NARROW(RemoveDirectoryW, 4)
QL_NARROW(DeleteFileW, 4)
QL_NARROW(SetCurrentDirectoryW, 4)
QL_NARROW(CopyFileW, 12)
QL_NARROW(MoveFileExW, 12)
QL_NARROW(FindFirstFileW, 8)
QL_NARROW(FindNextFileW, 8)
QL_NARROW(GetCurrentDirectoryW, 8)
QL_NARROW(GetTempPathW, 8)
QL_NARROW(GetSystemDirectoryW, 8)
QL_NARROW(GetWindowsDirectoryW, 8)
QL_NARROW(GetLongPathNameW, 12)
QL_NARROW(GetFullPathNameW, 16)
QL_NARROW(GetEnvironmentVariableW, 12)
QL_NARROW(GetModuleFileNameW, 12)
QL_NARROW(GetVolumeInformationW, 32)
QL_NARROW(GetModuleHandleW, 4)
QL_NARROW(LoadLibraryW, 4)
QL_NARROW(LoadLibraryExW, 12)
QL_NARROW(GetVersionExW, 4)
QL_NARROW(CreateProcessW, 40)
QL_NARROW(FormatMessageW, 28)
QL_NARROW(lstrcpynW, 12)

// --- USER32

int WINAPI ql_narrow_MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    return MessageBoxA(owner, Ansi(text), Ansi(caption), type);
}

// The strings of the own string table are read as they stand (UTF-16 in
// every build), so that no text is lost on the way. With no buffer size the
// answer is a pointer to the text in the resource, as the wide function's.
int WINAPI ql_narrow_LoadStringW(HINSTANCE module, UINT id, LPWSTR out, int units)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW((id >> 4) + 1), MAKEINTRESOURCEW(6));  // RT_STRING
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const WCHAR* entry = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (entry == nullptr) {
        if (out != nullptr && units > 0)
            out[0] = 0;
        return 0;
    }
    for (UINT skip = id & 15; skip > 0; --skip)
        entry += *entry + 1;
    int length = *entry;
    if (units == 0) {
        if (out != nullptr)
            *reinterpret_cast<const WCHAR**>(out) = entry + 1;
        return length;
    }
    if (out == nullptr || units < 0)
        return 0;
    int n = length < units - 1 ? length : units - 1;
    CopyMemory(out, entry + 1, n * sizeof(WCHAR));
    out[n] = 0;
    return n;
}

INT_PTR WINAPI ql_narrow_DialogBoxParamW(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC procedure,
                                         LPARAM parameter)
{
    return DialogBoxParamA(module, Ansi(name), owner, procedure, parameter);
}

ATOM WINAPI ql_narrow_RegisterClassW(const WNDCLASSW* wide)
{
    Ansi name(wide->lpszClassName), menu(wide->lpszMenuName);
    WNDCLASSA narrow;
    narrow.style = wide->style;
    narrow.lpfnWndProc = wide->lpfnWndProc;
    narrow.cbClsExtra = wide->cbClsExtra;
    narrow.cbWndExtra = wide->cbWndExtra;
    narrow.hInstance = wide->hInstance;
    narrow.hIcon = wide->hIcon;
    narrow.hCursor = wide->hCursor;
    narrow.hbrBackground = wide->hbrBackground;
    narrow.lpszMenuName = menu;
    narrow.lpszClassName = name;
    return RegisterClassA(&narrow);
}

LRESULT WINAPI ql_narrow_DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return DefWindowProcA(window, message, wparam, lparam);
}

// WM_SETTEXT and WM_GETTEXT carry texts; every other message the stub sends
// carries numbers and handles only.
LRESULT WINAPI ql_narrow_SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_SETTEXT) {
        Ansi text(reinterpret_cast<LPCWSTR>(lparam));
        return SendMessageA(window, message, wparam, reinterpret_cast<LPARAM>(static_cast<LPCSTR>(text)));
    }
    if (message == WM_GETTEXT) {
        int units = static_cast<int>(wparam);
        LPWSTR out = reinterpret_cast<LPWSTR>(lparam);
        if (units <= 0 || out == nullptr)
            return 0;
        char narrow[4096];
        SendMessageA(window, WM_GETTEXT, sizeof narrow, reinterpret_cast<LPARAM>(narrow));
        int written = to_wide(narrow, out, units);
        return written > 0 ? written : 0;
    }
    return SendMessageA(window, message, wparam, lparam);
}

LRESULT WINAPI ql_narrow_SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam)
{
    return ql_narrow_SendMessageW(GetDlgItem(dialog, id), message, wparam, lparam);
}

BOOL WINAPI ql_narrow_PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return PostMessageA(window, message, wparam, lparam);
}
BOOL WINAPI ql_narrow_PeekMessageW(LPMSG message, HWND window, UINT first, UINT last, UINT remove)
{
    return PeekMessageA(message, window, first, last, remove);
}
LRESULT WINAPI ql_narrow_DispatchMessageW(const MSG* message) { return DispatchMessageA(message); }
BOOL WINAPI ql_narrow_IsDialogMessageW(HWND dialog, LPMSG message) { return IsDialogMessageA(dialog, message); }
LONG WINAPI ql_narrow_GetWindowLongW(HWND window, int index) { return GetWindowLongA(window, index); }
LONG WINAPI ql_narrow_SetWindowLongW(HWND window, int index, LONG value)
{
    return SetWindowLongA(window, index, value);
}
HCURSOR WINAPI ql_narrow_LoadCursorW(HINSTANCE module, LPCWSTR name) { return LoadCursorA(module, Ansi(name)); }
HICON WINAPI ql_narrow_LoadIconW(HINSTANCE module, LPCWSTR name) { return LoadIconA(module, Ansi(name)); }

BOOL WINAPI ql_narrow_SetWindowTextW(HWND window, LPCWSTR text) { return SetWindowTextA(window, Ansi(text)); }
BOOL WINAPI ql_narrow_SetDlgItemTextW(HWND dialog, int id, LPCWSTR text)
{
    return SetDlgItemTextA(dialog, id, Ansi(text));
}
int WINAPI ql_narrow_GetWindowTextLengthW(HWND window)
{
    // The ANSI length in bytes is never below the length in units.
    return GetWindowTextLengthA(window);
}
int WINAPI ql_narrow_GetWindowTextW(HWND window, LPWSTR out, int units)
{
    if (out == nullptr || units <= 0)
        return 0;
    char narrow[4096];
    GetWindowTextA(window, narrow, sizeof narrow);
    int written = to_wide(narrow, out, units);
    if (written < 0) {
        MultiByteToWideChar(CP_ACP, 0, narrow, -1, out, units);
        out[units - 1] = 0;
        return units - 1;
    }
    return written;
}

QL_NARROW(MessageBoxW, 16)
QL_NARROW(LoadStringW, 16)
QL_NARROW(DialogBoxParamW, 20)
QL_NARROW(RegisterClassW, 4)
QL_NARROW(DefWindowProcW, 16)
QL_NARROW(SendMessageW, 16)
QL_NARROW(SendDlgItemMessageW, 20)
QL_NARROW(PostMessageW, 16)
QL_NARROW(PeekMessageW, 20)
QL_NARROW(DispatchMessageW, 4)
QL_NARROW(IsDialogMessageW, 8)
QL_NARROW(GetWindowLongW, 8)
QL_NARROW(SetWindowLongW, 12)
QL_NARROW(LoadCursorW, 8)
QL_NARROW(LoadIconW, 8)
QL_NARROW(SetWindowTextW, 8)
QL_NARROW(SetDlgItemTextW, 12)
QL_NARROW(GetWindowTextLengthW, 4)
QL_NARROW(GetWindowTextW, 12)

// --- GDI32

HDC WINAPI ql_narrow_CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR port, const DEVMODEW* mode)
{
    // The stub asks only for the display, without a device mode.
    (void)mode;
    return CreateDCA(Ansi(driver), Ansi(device), Ansi(port), nullptr);
}

HFONT WINAPI ql_narrow_CreateFontIndirectW(const LOGFONTW* wide)
{
    LOGFONTA narrow;
    CopyMemory(&narrow, wide, offsetof(LOGFONTA, lfFaceName));
    narrow.lfFaceName[0] = 0;
    WideCharToMultiByte(CP_ACP, 0, wide->lfFaceName, -1, narrow.lfFaceName, LF_FACESIZE, nullptr, nullptr);
    narrow.lfFaceName[LF_FACESIZE - 1] = 0;
    return CreateFontIndirectA(&narrow);
}

QL_NARROW(CreateDCW, 16)
QL_NARROW(CreateFontIndirectW, 4)

// --- SHELL32 and SHLWAPI

BOOL WINAPI ql_narrow_SHGetPathFromIDListW(PCIDLIST_ABSOLUTE items, LPWSTR out)
{
    char narrow[MAX_PATH * 2];
    if (!SHGetPathFromIDListA(items, narrow))
        return FALSE;
    return to_wide(narrow, out, MAX_PATH) >= 0;
}

BOOL WINAPI ql_narrow_ShellExecuteExW(SHELLEXECUTEINFOW* wide)
{
    Ansi verb(wide->lpVerb), file(wide->lpFile), parameters(wide->lpParameters), folder(wide->lpDirectory);
    Ansi class_name((wide->fMask & SEE_MASK_CLASSNAME) ? wide->lpClass : nullptr);
    SHELLEXECUTEINFOA narrow;
    CopyMemory(&narrow, wide, sizeof narrow);
    narrow.cbSize = sizeof narrow;
    narrow.lpVerb = verb;
    narrow.lpFile = file;
    narrow.lpParameters = parameters;
    narrow.lpDirectory = folder;
    narrow.lpClass = class_name;
    BOOL ok = ShellExecuteExA(&narrow);
    wide->hInstApp = narrow.hInstApp;
    wide->hProcess = narrow.hProcess;
    return ok;
}

BOOL WINAPI ql_narrow_PathFileExistsW(LPCWSTR path) { return PathFileExistsA(Ansi(path)); }

LPWSTR WINAPI ql_narrow_PathFindFileNameW(LPCWSTR path)
{
    LPCWSTR name = path;
    for (LPCWSTR p = path; p && *p; ++p)
        if ((*p == L'\\' || *p == L'/' || *p == L':') && p[1] != 0 && p[1] != L'\\' && p[1] != L'/')
            name = p + 1;
    return const_cast<LPWSTR>(name);
}

QL_NARROW(SHGetPathFromIDListW, 8)
QL_NARROW(ShellExecuteExW, 4)
QL_NARROW(PathFileExistsW, 4)
QL_NARROW(PathFindFileNameW, 4)

}  // extern "C"
