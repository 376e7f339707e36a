// A stand-in for the HTML Help control "hhctrl.ocx", for the builder's help
// tests (not shipped): every call is appended to the file named by
// QL_HELP_LOG as one UTF-8 line "<command>\t<data>\t<file>" (data in
// decimal; for HH_INITIALIZE the cookie it hands out). A request for a topic
// or the contents opens a small viewer window, class "HH Parent", caption
// "Help stand-in <data>", as the real control opens its viewer; the robot
// can wait for it. Placed beside the builder and chosen with a DLL override,
// it shows that a help request reached HtmlHelpW with the right file and id.
#include <windows.h>

#include <string>

namespace {

const UINT kHhDisplayToc = 0x0001;
const UINT kHhHelpContext = 0x000F;
const UINT kHhInitialize = 0x001C;
const DWORD kCookie = 0x5151;
HINSTANCE g_module = nullptr;

HWND open_viewer(DWORD_PTR data)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSW viewer = {};
        viewer.lpfnWndProc = DefWindowProcW;
        viewer.hInstance = g_module;
        viewer.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        viewer.lpszClassName = L"HH Parent";
        registered = RegisterClassW(&viewer) != 0;
    }
    std::wstring caption = L"Help stand-in " + std::to_wstring(data);
    return CreateWindowExW(0, L"HH Parent", caption.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 40, 300,
                           160, nullptr, nullptr, g_module, nullptr);
}

void append_line(const std::wstring& line)
{
    wchar_t path[1024];
    DWORD n = GetEnvironmentVariableW(L"QL_HELP_LOG", path, 1024);
    if (n == 0 || n >= 1024)
        return;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                    nullptr, nullptr);
    std::string utf8(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], bytes, nullptr,
                        nullptr);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" HWND WINAPI HtmlHelpW(HWND, LPCWSTR file, UINT command, DWORD_PTR data)
{
    DWORD_PTR shown = data;
    if (command == kHhInitialize && data != 0) {
        *reinterpret_cast<DWORD*>(data) = kCookie;
        shown = kCookie;
    }
    append_line(std::to_wstring(command) + L"\t" + std::to_wstring(shown) + L"\t" + (file ? file : L"") +
                L"\n");
    if (command == kHhHelpContext || command == kHhDisplayToc)
        return open_viewer(data);
    return nullptr;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD, LPVOID)
{
    g_module = module;
    return TRUE;
}
