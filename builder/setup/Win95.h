// Paths of shell special folders and of shortcut files in them.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "common/QlString.h"

enum Win95Line {
    kWin95ShortcutPathLong = 465,  // a folder path of more than 520 characters
    kWin95NoShellAllocator = 473,  // the shell's allocator is not there
};

// The folder of the item list + "\" + name + ".lnk"; the item list is freed
// with the shell's allocator. False (and an empty path) when the list has no
// file-system path.
bool make_shortcut_path(QlStr& out, LPITEMIDLIST items, const QlStr& name);
// The same for a special folder; an empty path when it does not exist here.
bool get_special_folder_shortcut_path(QlStr& out, int csidl, const QlStr& name);
// A known folder through "SHGetKnownFolderPath" (Windows Vista and later;
// E_FAIL elsewhere).
HRESULT get_known_folder_path(REFGUID folder, QlStr& out);
