// The builder's own registry services: deleting a key tree, deleting a key
// that is empty, the machine-wide record of the installed builder version,
// and the plain-text report of everything the maker's programs keep under
// the current user's registry (the "dump" switch).
#pragma once

#include <windows.h>

#include "common/QlString.h"

// Keys of the builder and its maker (under HKCU for the user's settings,
// under HKLM for the machine's).
extern const wchar_t kBuilderRegistryKey[];  // "SOFTWARE\Ostrel Zivevevoz\Quolla Self-Extractor"
extern const wchar_t kMakerRegistryKey[];    // "SOFTWARE\Ostrel Zivevevoz"

enum QlseOptsLine {
    kQlseOptsReportPath = 477,  // a report asked for without a path
};

// The key with everything below it; the Win32 result (0 = done). A subkey
// that cannot be deleted stops it: its result is returned and the key stays.
LONG delete_key_tree(HKEY parent, const QlStr& path);
// The key only when it holds no value and no subkey (else 5, access denied).
LONG delete_key_if_empty(HKEY parent, const QlStr& path);

// The installed-version record: the default value of HKLM builder key\"Ver."
// (REG_SZ, such as "4.0"). The buffer of 260 bytes gets the narrow text,
// empty when there is none; the length.
int read_installed_version(char* buffer260);
// 0 on success, 1 on failure; the key is created when missing.
int write_installed_version(const QlStr& text);

// The path with its extension replaced by "txt".
QlStr settings_report_path(const QlStr& path);
// Writes the report to the path with its extension replaced by "txt" (ANSI,
// CR LF line ends). Answers the file written; an empty text when it could
// not be made (nothing is shown).
QlStr dump_settings_report(const QlStr& path);
