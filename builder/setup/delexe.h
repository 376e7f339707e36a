// Deletion at restart: the builder's files that are in use while it
// uninstalls itself, and their folder, are scheduled for deletion when
// Windows next starts; installing anew over a pending uninstall cancels the
// schedule. Windows 9x keeps it in "wininit.ini" ("[rename]"), the NT family
// in the registry through MoveFileExW. No message is shown: every failure is
// the false result.
#pragma once

#include "common/QlString.h"

// Source and lines named in internal-error reports.
enum DelexeLine {
    kDelexeWindowsFolder = 433,  // no Windows folder for "wininit.ini"
    kDelexeReopen = 449,         // "wininit.ini" read but not writable
};

// Schedules the file, and with also_folder its folder unless that is a root.
// A marker names a global atom that is added first when it does not exist.
bool schedule_delete_at_restart(const QlStr& path, bool also_folder, const QlStr& marker);
// Cancels the entry of the file and, unless it is a root, of its folder.
bool cancel_delete_at_restart(const QlStr& path);

// The registry keys of the NT family's schedule.
extern const wchar_t kSessionManagerKey[];       // "SYSTEM\...\Session Manager"
extern const wchar_t kFileRenameOperationsKey[];  // its "FileRenameOperations" subkey
extern const wchar_t kPendingRenamesValue[];      // "PendingFileRenameOperations"
