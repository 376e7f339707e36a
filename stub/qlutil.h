// The stub's file layer: stream and handle calls in the classic style (mode
// texts, open and share flags), built directly on the Windows file functions.
// It reports and never shows messages; wrong modes or flags are programming
// errors and go to the internal-error report. On Windows 98 and Me the
// narrow-character file functions are called, with the path in the ANSI code
// page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "common/QlString.h"

struct UtilStream {
    HANDLE handle;
    int end_of_file;   // cleared by every write, not otherwise used
    DWORD last_error;  // of the last failed write
};

// Open flags of util_open.
enum : int {
    kUtilBinary = 0x8000,
    kUtilSequential = 0x20,
    kUtilRandom = 0x10,
};
// Share flags of util_open.
enum : int {
    kUtilDenyAll = 0,
    kUtilDenyWrite = 32,
    kUtilDenyNone = 64,
};

// Set at start for Windows 98 and Me.
extern bool g_util_narrow_api;

// mode "rb", "wb", "r+b" or "w+b"; hint 1 sequential, 2 random access.
UtilStream* util_fopen(const QlStr& path, const char* mode, int hint);
size_t util_fwrite(const void* buffer, size_t item_size, size_t count, UtilStream* stream);
int util_fclose(UtilStream* stream);

// Always read access to an existing file.
HANDLE util_open(const QlStr& path, int open_flags, int share_flags);
int32_t util_read(HANDLE handle, void* buffer, uint32_t count);
// origin 0 begin, 1 current, 2 end; -1 on failure.
int64_t util_lseek(HANDLE handle, int64_t distance, int origin);
int util_close(HANDLE handle);
