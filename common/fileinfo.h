// QlFileInfo: what the system asks about a path without opening it: does it
// exist (file, folder or drive root), is it a root, its attributes, size,
// times and stat-style mode bits.
//
// Roots and mode bits are pure code (fileinfo.cpp); the lookups go through
// FindFirstFileW, and a drive root, which FindFirstFileW cannot describe,
// through GetDriveTypeW (fileinfoWin.cpp).
#pragma once

#include <cstdint>

#include "common/QlString.h"
#include "common/datetime.h"

// Mode bits.
enum QlFileMode : uint16_t {
    kFileModeDirectory = 0x4000,
    kFileModeRegular = 0x8000,
    kFileModeRead = 0x100,
    kFileModeWrite = 0x80,
    kFileModeExecute = 0x40,
};

struct QlFileInfo {
    uint16_t mode = 0;
    uint32_t attributes = 0;
    uint64_t size = 0;
    QlDateTime lastAccessTime;
    QlDateTime lastWriteTime;
    QlDateTime creationTime;
    // As stored on disk: the long name, or the 8.3 name when the path named
    // the entry by it.
    QlStr name;
};

// A share root \\server\share, or a path whose directory is a single
// separator with no name.ext ("C:\", "\", "\\srv\share\").
bool qlFileInfoIsRoot(const QlStr& path);
// Directory bits (0x4040) for roots, folders, "X:" and an empty path, else a
// regular file; read always, write unless read-only, execute for exe, cmd,
// bat and com; the owner bits copied to group and other.
uint16_t qlFileInfoMode(const QlStr& path, uint32_t attributes);

#ifdef _WIN32
struct _WIN32_FIND_DATAW;
// A root that GetDriveTypeW knows as a drive.
bool qlFileInfoIsDriveRoot(const QlStr& path);
// The three times as local dates. A zero last-write time falls back to the
// creation time; a zero access or creation time to the last-write time.
void qlFileInfoSetTimes(const _WIN32_FIND_DATAW& data, QlFileInfo& info);
// True when the path exists; only then is the record written (the times only
// with `withTimes`). A drive root stats as a folder dated 1980-01-01.
bool qlFileInfoStat(const QlStr& path, QlFileInfo& info, bool withTimes);
// No wildcards; a file, folder or drive root that exists.
bool qlFileInfoExists(const QlStr& path);
#endif
