// The seams: the least each caller needs until the real parts land.
#include "builder/seams.h"

#include <shlobj.h>

#include "builder/setup/Win95.h"
#include "builder/sfxoptions.h"
#include "builder/ui/msgsink.h"
#include "common/QlMisc.h"

namespace {

const int kMsgCaptionProperty = 1001;
const int kMsgStartMenuShortcut = 4780;

struct InstanceSearch {
    QlStr property;
    HWND found;
};

BOOL CALLBACK find_instance(HWND window, LPARAM data)
{
    InstanceSearch* search = reinterpret_cast<InstanceSearch*>(data);
    if (GetPropW(window, search->property.Text()) == nullptr)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND find_other_instance()
{
    InstanceSearch search = {load_message(kMsgCaptionProperty), nullptr};
    if (!search.property.HasText())
        return nullptr;
    EnumWindows(find_instance, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool explorer_shows_full_path()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\CabinetState",
                      0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool full = false;
    if (g_os.nt_family) {
        DWORD value = 0, size = sizeof value, type = 0;
        full = RegQueryValueExW(key, L"FullPath", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                &size) == ERROR_SUCCESS && value != 0;
    } else {
        DWORD words[2] = {0, 0}, size = sizeof words, type = 0;
        full = RegQueryValueExW(key, L"Settings", nullptr, &type, reinterpret_cast<BYTE*>(words),
                                &size) == ERROR_SUCCESS && size >= sizeof words && (words[1] & 1) != 0;
    }
    RegCloseKey(key);
    return full;
}

}  // namespace

int run_wizard()
{
    message_box_id(kMsgWizardNotYet, load_message(kMsgWizardNotYet), MB_OK | MB_ICONINFORMATION);
    return 0;
}

bool activate_other_instance(const QlStr&)
{
    return false;
}

void register_meter_class(HINSTANCE)
{
}

void help_start(const QlStr&)
{
}

void help_stop()
{
}

bool raise_other_instance()
{
    HWND other = find_other_instance();
    if (other == nullptr)
        return false;
    BringWindowToTop(other);
    HWND popup = GetLastActivePopup(other);
    if (popup && popup != other)
        BringWindowToTop(popup);
    return true;
}

int remove_folder(const QlStr& path)
{
    wchar_t current[1024];
    DWORD n = GetCurrentDirectoryW(1024, current);
    if (n > 0 && n < 1024 && QlStr(current, int(n)).EqualsNoCase(path.Text()) &&
        !SetCurrentDirectoryW(L".."))
        return -1;
    return RemoveDirectoryW(path.Text()) ? 0 : int(GetLastError());
}

bool delete_folder_contents(const QlStr& path)
{
    if (path.Length() < 4)
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + QL("\\*.*")).Text(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool all = true;
    do {
        QlStr name(found.cFileName);
        if (name == QL(".") || name == QL(".."))
            continue;
        QlStr entry = path + QL("\\") + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            all = delete_folder_contents(entry) && remove_folder(entry) == 0;
        } else {
            SetFileAttributesW(entry.Text(), FILE_ATTRIBUTE_NORMAL);
            all = DeleteFileW(entry.Text()) != 0;
        }
    } while (all && FindNextFileW(search, &found));
    FindClose(search);
    return all;
}

bool delete_start_menu_shortcut()
{
    QlStr name = load_message(kMsgStartMenuShortcut);
    bool deleted = false;
    for (int csidl : {CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU}) {
        QlStr link;
        if (get_special_folder_shortcut_path(link, csidl, name)) {
            SetFileAttributesW(link.Text(), FILE_ATTRIBUTE_NORMAL);
            deleted = DeleteFileW(link.Text()) || deleted;
        }
    }
    return deleted;
}

void wait_for_folder_window_close(const QlStr& folder_name, const QlStr& window_class)
{
    DWORD deadline = GetTickCount() + 5000;
    QlStr title = folder_name;
    if (explorer_shows_full_path()) {
        QlStr programs;
        if (qlMiscGetSpecialFolderPath(programs, g_os.nt_family ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS))
            title = programs + QL("\\") + folder_name;
    }
    while (FindWindowW(window_class.Text(), title.Text()) != nullptr &&
           int(deadline - GetTickCount()) > 0)
        Sleep(333);
}
