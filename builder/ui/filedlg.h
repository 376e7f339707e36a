// The builder's open and save dialogs (the system's common file dialogs):
// the title "Browse", a filter from the string table and the current path as
// the proposed name. True when the user chose a file; the path is then the
// chosen one.
#pragma once

#include <windows.h>

#include "common/QlString.h"

bool browse_for_zip_file(HWND owner, QlStr& path);
bool browse_for_text_file(HWND owner, QlStr& path);
bool browse_for_icon_file(HWND owner, QlStr& path);
bool browse_for_text_file_to_save(HWND owner, QlStr& path);

// The filter of string id: its '|' characters become NULs. False (an internal
// error at line) when it is longer than 64 characters.
bool load_file_filter(int id, wchar_t* filter, int units, int line);
