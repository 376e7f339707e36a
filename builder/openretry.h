// Opening and deleting the build's output while another process may still
// hold it (the helper library, a virus scanner, a viewer): retried for up to
// 7,999 ms with the window messages processed between the tries. Only a file
// held by another process is waited for; a refused access (a read-only file,
// a folder, no rights) fails at once.
#pragma once

#include <string>

#include <windows.h>

const DWORD kHeldFileWaitMs = 7999;

bool held_by_another_process(DWORD error);
// CreateFileW with these arguments; INVALID_HANDLE_VALUE (and the last
// error) when it still fails.
HANDLE open_retrying(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);
// True when the file is gone (or was never there).
bool delete_retrying(const std::wstring& path);
