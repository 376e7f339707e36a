// The output's icon: the images of the user's icon file take the place of the
// stub's group 1, through the Windows resource-update functions.
#pragma once

#include <cstdint>

#include <windows.h>

#include "common/QlString.h"

// Builder messages of the icon and manifest replacement (builder/build_en.rc).
enum ResourceUpdateMessage {
    kMsgIconUpdate = 1108,
    kMsgAdminManifestRead = 1109,
    kMsgAdminManifestSwitch = 1110,
    kMsgIconNotRecognised = 6050,
};

// Set by replace_icon when the icon file holds no usable icon directory; the
// build then says so (6050) and the stub keeps its own icon.
extern bool icon_not_recognised;

// The three resource-update functions, looked up by name in "Kernel32.dll"
// (they are missing from some systems, where the update is simply not made).
struct ResourceUpdateApi {
    HANDLE(WINAPI* begin)(LPCWSTR, BOOL) = nullptr;
    BOOL(WINAPI* update)(HANDLE, LPCWSTR, LPCWSTR, WORD, LPVOID, DWORD) = nullptr;
    BOOL(WINAPI* end)(HANDLE, BOOL) = nullptr;
};
bool bind_resource_update(ResourceUpdateApi* api);

// The system's text for a Win32 error code in the given language (the
// system's own language when it has none in that one), without the line end.
QlStr system_error_text(DWORD error, WORD language);
// The language of the builder's interface (string 1000): German, French,
// Spanish, Japanese, else English.
WORD interface_language_id();

// The number of icons in the RT_GROUP_ICON resource group_id of exe_path and,
// given ids_out, the ids of the first `capacity` of them (sum_out: the sum of
// their sizes); 0 when the file or the group cannot be loaded.
uint16_t read_icon_group(const wchar_t* exe_path, uint16_t capacity, uint16_t* ids_out, uint32_t* sum_out,
                         uint16_t group_id);

// Gives exe_path the icons of icon_path as group group_id; with allow_more
// the group may grow beyond the stub's number of images. False when nothing
// was changed (a failed update of the file has shown 1108).
bool replace_icon(const wchar_t* exe_path, const wchar_t* icon_path, uint16_t group_id, bool allow_more);
