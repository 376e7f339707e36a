// QlByteOrderMark: reading the head of a file.
#include <windows.h>

#include "common/QlBOM.h"

namespace {

// Closes the file on every way out, exceptions included.
struct FileHandle {
    HANDLE handle;
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

}  // namespace

bool QlByteOrderMark::ReadFileHead(const QlStr& fileName)
{
    m_code = kUndetermined;
    if (!fileName.HasText())
        return false;
    FileHandle file = {CreateFileW(fileName.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE)
        return false;
    if (SetFilePointer(file.handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    uint8_t head[4];
    DWORD read = 0;
    if (!ReadFile(file.handle, head, sizeof head, &read, nullptr))
        return false;
    return Classify(head, int(read));
}
