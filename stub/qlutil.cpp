#include "stub/qlutil.h"

#include <cstring>
#include <new>

#include "stub/sfxstub.h"

bool g_util_narrow_api = false;

namespace {

HANDLE create_file(const QlStr& path, DWORD access, DWORD share, DWORD creation, DWORD flags)
{
    if (g_util_narrow_api) {
        QlStrNarrow narrow(path, 1);
        return CreateFileA(narrow.Text() ? narrow.Text() : "", access, share, nullptr, creation,
                           flags, nullptr);
    }
    return CreateFileW(path.Text() ? path.Text() : L"", access, share, nullptr, creation, flags,
                       nullptr);
}

}  // namespace

UtilStream* util_fopen(const QlStr& path, const char* mode, int hint)
{
    DWORD access, creation, share;
    if (std::strcmp(mode, "rb") == 0) {
        access = GENERIC_READ;
        creation = OPEN_EXISTING;
        share = FILE_SHARE_READ;
    } else if (std::strcmp(mode, "wb") == 0) {
        access = GENERIC_WRITE;
        creation = CREATE_ALWAYS;
        share = 0;
    } else if (std::strcmp(mode, "r+b") == 0) {
        access = GENERIC_READ | GENERIC_WRITE;
        creation = OPEN_EXISTING;
        share = 0;
    } else if (std::strcmp(mode, "w+b") == 0) {
        access = GENERIC_READ | GENERIC_WRITE;
        creation = CREATE_ALWAYS;
        share = 0;
    } else {
        internal_error(kSfxUtilSource, kSfxLineUtilMode);
    }
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (hint == 1)
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
    else if (hint == 2)
        flags |= FILE_FLAG_RANDOM_ACCESS;
    HANDLE handle = create_file(path, access, share, creation, flags);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    UtilStream* stream = new (std::nothrow) UtilStream{handle, 0, 0};
    if (stream == nullptr)
        CloseHandle(handle);
    return stream;
}

size_t util_fwrite(const void* buffer, size_t item_size, size_t count, UtilStream* stream)
{
    stream->end_of_file = 0;
    if (item_size == 0 || count == 0)
        return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    size_t total = item_size * count;
    size_t done = 0;
    while (done < total) {
        DWORD part = total - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(total - done);
        DWORD written = 0;
        if (!WriteFile(stream->handle, bytes + done, part, &written, nullptr) || written == 0) {
            stream->last_error = GetLastError();
            return done / item_size;
        }
        done += written;
    }
    return count;
}

int util_fclose(UtilStream* stream)
{
    if (stream == nullptr)
        return -1;
    bool closed = CloseHandle(stream->handle) != FALSE;
    delete stream;
    return closed ? 0 : -1;
}

HANDLE util_open(const QlStr& path, int open_flags, int share_flags)
{
    if (open_flags != 0 && (open_flags & kUtilBinary) == 0)
        internal_error(kSfxUtilSource, kSfxLineUtilFlags);
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (open_flags & kUtilSequential)
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
    else if (open_flags & kUtilRandom)
        flags |= FILE_FLAG_RANDOM_ACCESS;
    DWORD share;
    switch (share_flags) {
    case kUtilDenyAll: share = 0; break;
    case kUtilDenyWrite: share = FILE_SHARE_READ; break;
    case kUtilDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: internal_error(kSfxUtilSource, kSfxLineUtilShare);
    }
    return create_file(path, GENERIC_READ, share, OPEN_EXISTING, flags);
}

int32_t util_read(HANDLE handle, void* buffer, uint32_t count)
{
    DWORD done = 0;
    if (count > 0x7FFFFFFFu || !ReadFile(handle, buffer, count, &done, nullptr))
        return -1;
    return static_cast<int32_t>(done);
}

int64_t util_lseek(HANDLE handle, int64_t distance, int origin)
{
    static const DWORD kMethods[3] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
    if (origin < 0 || origin > 2)
        return -1;
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle, static_cast<LONG>(distance & 0xFFFFFFFF), &high,
                               kMethods[origin]);
    // All ones in the low half is also a valid position: only the error says.
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low);
}

int util_close(HANDLE handle)
{
    return CloseHandle(handle) ? 0 : -1;
}
