// The builder's small services.
#include "builder/services.h"

#include <cstdio>

#include <shlwapi.h>

#include "builder/sfxoptions.h"
#include "builder/ui/dlg.h"
#include "builder/ui/msgsink.h"
#include "common/Dlg.h"
#include "common/QlHooks.h"
#include "common/fileid.h"

namespace {

const char kSource[] = "services";
const int kLineLanguageString = 61;
const int kLineCurrentFolder = 118;
const int kLineFolderRoot = 153;
const int kLineConfirmIds = 287;

const int kMsgUiLanguage = 1000;
const int kMsgAboutText = 1005;
const int kMsgBusy = 4070;
const int kMsgTestNow = 4650;
const int kMsgCreated = 4660;
const int kMsgBitness = 5010;
const int kMsgDeleteFailed = 361;
const int kMsgPropertyLeft = 1079;

const wchar_t kBuilderVersion[] = L"4.0";
const wchar_t kBuilderBuild[] = L"12218";
const int kFolderUnits = 520;
const wchar_t kProcLow[] = L"OrgWndProc";
const wchar_t kProcHigh[] = L"OrgWndProc2";

HCURSOR wait_cursor()
{
    static HCURSOR cursor = LoadCursorW(nullptr, IDC_WAIT);
    return cursor;
}

HCURSOR arrow_cursor()
{
    static HCURSOR cursor = LoadCursorW(nullptr, IDC_ARROW);
    return cursor;
}

QlStr normalised(const QlStr& path)
{
    QlFileId id(path);
    return id.IsSet() ? id.GetPath() : path;
}

BOOL CALLBACK find_marked_window(HWND window, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || GetPropW(window, instance_marker_name().Text()) == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void bring_forward(HWND window)
{
    BringWindowToTop(window);
    SetForegroundWindow(window);
}

// --- busy cursor: the children's procedure while busy

WNDPROC previous_procedure(HWND window)
{
    HANDLE low = GetPropW(window, kProcLow);
    HANDLE high = GetPropW(window, kProcHigh);
    if (low == nullptr || high == nullptr)
        return nullptr;
    ULONG_PTR value = (reinterpret_cast<ULONG_PTR>(low) & 0xFFFF) |
                      ((reinterpret_cast<ULONG_PTR>(high) & 0xFFFF) << 16);
    return reinterpret_cast<WNDPROC>(value);
}

LRESULT CALLBACK busy_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_SETCURSOR)
        return update_cursor();
    WNDPROC previous = previous_procedure(window);
    return previous ? CallWindowProcW(previous, window, message, wparam, lparam) : 0;
}

// The halves are kept as 16-bit values: a property holds a handle-sized
// value, and a value of 0 would read as "no property".
BOOL CALLBACK subclass_child(HWND child, LPARAM)
{
    if (GetPropW(child, kProcLow) != nullptr || GetPropW(child, kProcHigh) != nullptr) {
        show_error_id(kMsgPropertyLeft);
        return FALSE;
    }
    ULONG_PTR procedure = static_cast<ULONG_PTR>(GetWindowLongPtrW(child, GWLP_WNDPROC));
    SetPropW(child, kProcLow, reinterpret_cast<HANDLE>((procedure & 0xFFFF) | 0x10000));
    SetPropW(child, kProcHigh, reinterpret_cast<HANDLE>(((procedure >> 16) & 0xFFFF) | 0x10000));
    SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(busy_procedure));
    return TRUE;
}

BOOL CALLBACK restore_child(HWND child, LPARAM)
{
    WNDPROC previous = previous_procedure(child);
    RemovePropW(child, kProcLow);
    RemovePropW(child, kProcHigh);
    if (previous != nullptr)
        SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return TRUE;
}

// --- the confirmation dialog

class ConfirmDialog : public CDlg {
public:
    ConfirmDialog(HWND owner, int text_id, int help_id)
        : CDlg(kConfirmDialog, owner, 0, true, help_id), text_id_(text_id)
    {
    }
    BOOL OnInitDialog() override
    {
        SendDlgItemMessageW(Window(), kConfirmIcon, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconW(nullptr, IDI_HAND)), 0);
        SetItemText(kConfirmText, load_message(text_id_).Text());
        CDlg::OnInitDialog();
        SetFocus(Item(kConfirmOther));
        return FALSE;
    }
    bool OnCommandId(int id) override
    {
        if (id != kConfirmOther)
            return false;
        EndDialog(Window(), kConfirmOther);
        return true;
    }
    // Esc and the close box choose the cautious button.
    void OnCancel() override { EndDialog(Window(), kConfirmOther); }

private:
    int text_id_;
};

}  // namespace

void process_pending_messages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

HWND find_other_instance()
{
    HWND found = nullptr;
    EnumWindows(find_marked_window, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool activate_other_instance(const QlStr& command_line)
{
    HWND other = find_other_instance();
    if (other == nullptr)
        return false;
    bring_forward(other);
    HWND popup = GetLastActivePopup(other);
    ULONG_PTR marker = reinterpret_cast<ULONG_PTR>(GetPropW(other, instance_marker_name().Text()));
    // A window that a modal dialog disabled is not idle either, also where
    // the dialog never became its active popup (a desktop without input).
    if (popup != other || marker != 2 || !IsWindowEnabled(other)) {
        HWND owner = popup ? popup : other;
        bring_forward(owner);
        sink_message_box(kMsgBusy, owner, load_message(kMsgBusy), QlStr::CtorNull(),
                         MB_OK | MB_TASKMODAL | MB_ICONERROR);
        return true;
    }
    // An empty command line has nothing to hand over; the first builder
    // keeps what it holds and only comes to the front.
    QlStr line = command_line;
    line.TrimLeft();
    line.TrimRight();
    if (!line.HasText())
        return true;
    ATOM atom = GlobalAddAtomW(line.Text());
    if (atom != 0)
        PostMessageW(other, kMsgHandOver, 1, atom);
    return true;
}

bool raise_other_instance()
{
    HWND other = find_other_instance();
    if (other == nullptr)
        return false;
    BringWindowToTop(other);
    HWND popup = GetLastActivePopup(other);
    if (popup != nullptr && popup != other)
        BringWindowToTop(popup);
    return true;
}

bool ask_test_after_build()
{
    if (g_settings.from_command_line)
        return false;
    QlStr output = g_options.output_name;
    QlStr zip = g_options.zip_name;
    output.MakeUpper();
    zip.MakeUpper();
    if (LOWORD(GetVersion()) == 0x0A03) {
        message_box_id(kMsgCreated, format_message(kMsgCreated, output.Text(), zip.Text()), MB_OK);
        return false;
    }
    return message_box_id(kMsgTestNow, format_message(kMsgTestNow, output.Text(), zip.Text()),
                          MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void show_about_box(HWND owner)
{
    QlStr caption = load_message(kMsgCaption) + load_message(kMsgBitness);
    sink_message_box(kMsgAboutText, owner, format_message(kMsgAboutText, kBuilderVersion, kBuilderBuild),
                     caption, MB_OK);
}

bool is_ui_language(int code)
{
    static const wchar_t* const kCodes[] = {L"EN", L"FR", L"DE", L"ES", L"JP"};
    QlStr language = load_message(kMsgUiLanguage);
    if (!qlCheck(language.Length() == 2, kSource, kLineLanguageString))
        return false;
    if (code < 1 || code > 5)
        return false;
    return language == kCodes[code - 1];
}

QlStr get_builder_version()
{
    return QlStr(kBuilderVersion);
}

int read_common_controls_version()
{
    typedef HRESULT(CALLBACK * DllGetVersionFn)(DLLVERSIONINFO*);
    HMODULE controls = LoadLibraryW(L"comctl32.dll");
    if (controls == nullptr)
        return 0;
    auto get_version = reinterpret_cast<DllGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(controls, "DllGetVersion")));
    int version = 0;
    DLLVERSIONINFO info = {};
    info.cbSize = sizeof info;
    if (get_version != nullptr && SUCCEEDED(get_version(&info)))
        version = static_cast<int>(info.dwMajorVersion * 100 + info.dwMinorVersion);
    FreeLibrary(controls);
    return version;
}

bool get_current_folder(QlStr& path)
{
    wchar_t buffer[kFolderUnits + 1];
    DWORD n = GetCurrentDirectoryW(kFolderUnits + 1, buffer);
    if (!qlCheck(n > 0 && n <= kFolderUnits, kSource, kLineCurrentFolder)) {
        path.Clear();
        return false;
    }
    path = normalised(QlStr(buffer, static_cast<int>(n)));
    return true;
}

bool set_current_folder(const QlStr& path)
{
    return SetCurrentDirectoryW(normalised(path).Text()) != 0;
}

bool set_current_folder_failed(const QlStr& path)
{
    return SetCurrentDirectoryW(path.Text()) == 0;
}

int remove_folder(const QlStr& path)
{
    QlStr current;
    if (get_current_folder(current) && qlStrEqualNoCase(normalised(path), current) &&
        !SetCurrentDirectoryW(L".."))
        return -1;
    return RemoveDirectoryW(path.Text());
}

bool delete_folder_contents(const QlStr& path)
{
    if (!qlCheck(path.Length() >= 4, kSource, kLineFolderRoot))
        return false;
    QlStr folder = path;
    folder.AddTrailingSlash();
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"*.*").Text(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return true;
    bool ok = true;
    do {
        QlStr name(found.cFileName);
        if (name == L"." || name == L"..")
            continue;
        QlStr entry = folder + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A link is removed, never entered.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !delete_folder_contents(entry)) {
                ok = false;
                break;
            }
            remove_folder(entry);
        } else {
            SetFileAttributesW(entry.Text(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileW(entry.Text())) {
                builder_message_buffer() = format_message(kMsgDeleteFailed, path.Text());
                ok = false;
                break;
            }
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return ok;
}

void make_full_path(QlStr& path)
{
    QlFileId id(path);
    if (id.IsSet() && id.MakeFullPath())
        path = id.GetPath();
}

QlStr& builder_message_buffer()
{
    static QlStr buffer;
    return buffer;
}

int delete_named_file(const QlStr& path)
{
    return _wremove(path.Text());
}

void set_busy(bool on, HWND window)
{
    if (on == is_busy())
        return;
    set_busy_flag(on);
    if (window != nullptr)
        EnumChildWindows(window, on ? subclass_child : restore_child, 0);
    POINT at;
    if (GetCursorPos(&at))
        SetCursorPos(at.x, at.y);
    update_cursor();
    process_pending_messages();
}

int update_cursor()
{
    SetCursor(is_busy() ? wait_cursor() : arrow_cursor());
    return 1;
}

bool suppress_auto_caution()
{
    return false;
}

int confirm_dialog(HWND owner, int text_id, int help_id)
{
    if (!qlCheck(text_id != 0 && help_id != 0, kSource, kLineConfirmIds))
        return 0;
    ConfirmDialog dialog(owner, text_id, help_id);
    return static_cast<int>(dialog.DoModal());
}
