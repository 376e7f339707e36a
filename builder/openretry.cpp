// Opening and deleting a file that another process may hold.
#include "builder/openretry.h"

#include "builder/services.h"

namespace {

const DWORD kPauseMs = 50;

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool held_by_another_process(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

HANDLE open_retrying(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
{
    DWORD start = GetTickCount();
    for (;;) {
        process_pending_messages();
        HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        DWORD error = GetLastError();
        if (h != INVALID_HANDLE_VALUE || !held_by_another_process(error) ||
            GetTickCount() - start > kHeldFileWaitMs) {
            process_pending_messages();
            SetLastError(error);
            return h;
        }
        Sleep(kPauseMs);
    }
}

bool delete_retrying(const std::wstring& path)
{
    DWORD start = GetTickCount();
    for (;;) {
        process_pending_messages();
        if (DeleteFileW(path.c_str()))
            return true;
        DWORD error = GetLastError();
        if (!exists(path))
            return true;
        if (!held_by_another_process(error) || GetTickCount() - start > kHeldFileWaitMs)
            return false;
        Sleep(kPauseMs);
    }
}
