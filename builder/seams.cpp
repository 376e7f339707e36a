// The seams: the least each caller needs until the real parts land; and the
// Start-menu helpers of the setup steps.
#include "builder/seams.h"

#include <shlobj.h>

#include "builder/setup/Win95.h"
#include "builder/sfxoptions.h"
#include "builder/ui/msgsink.h"
#include "common/QlMisc.h"

namespace {

const int kMsgStartMenuShortcut = 4780;

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
