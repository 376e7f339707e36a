// QLSE32.DLL, the builder's helper library: the seven entry points over
// Windows files. Every report goes through the callback tables that the
// builder registered; nothing leaves an entry point but its result.
#include "builder/qlse32api.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "common/QlHooks.h"
#include "common/disklabel.h"
#include "common/zipname.h"
#include "qlse32/zipwork.h"
#include "stub/engine/junzip.h"
#include "stub/engine/lzmadec.h"
#include "stub/engine/ppmddec.h"
#include "stub/engine/unzip.h"
#include "stub/engine/wunpack.h"

namespace {

QlseZipCallbacks g_zip = {};
QlseUnzipCallbacks g_unzip = {};
bool g_zipSet = false;
bool g_unzipSet = false;
// Which table the pure code's reports go to.
bool g_inUnzip = false;

const int kErrorCode = 2;

class WinFile : public QlseFile {
public:
    WinFile(const wchar_t* name, bool write)
    {
        m_handle = CreateFileW(name, write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                               write ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~WinFile()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    bool open() const { return m_handle != INVALID_HANDLE_VALUE; }
    bool read_at(uint64_t offset, uint8_t* buffer, uint32_t count) override
    {
        if (!seek(offset))
            return false;
        DWORD got = 0;
        return ReadFile(m_handle, buffer, count, &got, nullptr) && got == count;
    }
    bool write_at(uint64_t offset, const uint8_t* buffer, uint32_t count) override
    {
        if (!seek(offset))
            return false;
        DWORD put = 0;
        return WriteFile(m_handle, buffer, count, &put, nullptr) && put == count;
    }
    uint64_t size() override
    {
        LARGE_INTEGER size;
        return GetFileSizeEx(m_handle, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }

private:
    bool seek(uint64_t offset)
    {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN) != 0;
    }
    HANDLE m_handle;
};

void show_error(const wchar_t* text)
{
    if (g_inUnzip) {
        if (g_unzipSet && g_unzip.error)
            g_unzip.error(kErrorCode, text);
    } else if (g_zipSet && g_zip.error) {
        g_zip.error(kErrorCode, text);
    }
}

class CallbackReporter : public QlseReporter {
public:
    void progress_start(uint64_t total) override
    {
        if (!g_inUnzip && g_zipSet && g_zip.progress_start)
            g_zip.progress_start(clamp(total));
    }
    void progress_step(uint64_t position) override
    {
        if (!g_inUnzip && g_zipSet && g_zip.progress_step)
            g_zip.progress_step(clamp(position));
    }
    bool cancelled() override
    {
        if (!g_inUnzip && g_zipSet && g_zip.poll_cancel)
            return g_zip.poll_cancel() != 0;
        return false;
    }
    void error(const QlChar* text) override { show_error(text); }
    void entry_name(const uint8_t* name, size_t length, bool utf8) override
    {
        if (!g_unzipSet || !g_unzip.check_name)
            return;
        // The name as the stub will decode it.
        QlStr wide = qlZipNameDecode(reinterpret_cast<const char*>(name), static_cast<int>(length), utf8);
        g_unzip.check_name(0, wide.Text(), 0, wide.Text());
    }

private:
    static uint32_t clamp(uint64_t value) { return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value); }
};

SfxDecoders all_decoders()
{
    SfxDecoders d;
    d.lzma = lzma_decode_entry;
    d.ppmd = ppmd_decode_entry;
    d.jpeg = jpeg_decode_entry;
    d.wavpack = wavpack_decode_entry;
    return d;
}

bool is_removable_root(const QlseChar* drive)
{
    return drive != nullptr && wcslen(drive) == 3 && drive[1] == L':' && drive[2] == L'\\' &&
           GetDriveTypeW(drive) == DRIVE_REMOVABLE;
}

// Deletes everything below `folder`; links are removed, never entered.
bool wipe_folder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES;
    bool ok = true;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = folder + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!link)
                ok = wipe_folder(path + L"\\") && ok;
            ok = RemoveDirectoryW(path.c_str()) && ok;
        } else {
            ok = DeleteFileW(path.c_str()) && ok;
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return ok;
}

// Labels the disk in `drive` (root) as disk `disk` of a spanned set.
bool write_disk_label(const QlseChar* drive, int disk)
{
    QlChar label[12];
    return is_removable_root(drive) && qlSpanDiskLabel(disk, label) && SetVolumeLabelW(drive, label);
}

int read_disk_label(const std::wstring& root)
{
    wchar_t label[33] = {0};
    if (!GetVolumeInformationW(root.c_str(), label, 33, nullptr, nullptr, nullptr, nullptr, 0))
        return -1;
    label[32] = 0;
    return qlSpanDiskFromLabel(label);
}

// Tests only: QL_SPAN_DISK_SIZE=<bytes> makes every disk that large (its
// files included), since a test's "disk" is a folder of the host's disk.
uint64_t test_disk_size()
{
    wchar_t value[32] = {0};
    DWORD n = GetEnvironmentVariableW(L"QL_SPAN_DISK_SIZE", value, 32);
    if (n == 0 || n >= 32)
        return 0;
    uint64_t size = 0;
    for (DWORD i = 0; i < n; ++i) {
        if (value[i] < L'0' || value[i] > L'9')
            return 0;
        size = size * 10 + static_cast<uint64_t>(value[i] - L'0');
        if (size > (1ull << 40))
            return 0;
    }
    return size;
}

// The bytes of the files in a folder (not below it).
uint64_t files_size(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    uint64_t total = 0;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            total += (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return total;
}

// The disks of a spanned set in the target's drive: the same part name on
// every disk, each disk asked for through the disk prompt, wiped when the
// user asks for it, and labelled with its number.
class DriveDiskSet : public QlseDiskSet {
public:
    DriveDiskSet(const std::wstring& part, bool part_is_new)
        : m_part(part), m_root(part.substr(0, 3)), m_drive(part.substr(0, 2)), m_new(part_is_new)
    {
        m_file = CreateFileW(part.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             part_is_new ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        start_disk();
    }
    ~DriveDiskSet()
    {
        close();
    }
    bool open() const { return m_file != INVALID_HANDLE_VALUE; }

    uint64_t room() override
    {
        ULARGE_INTEGER free_bytes;
        uint64_t room = GetDiskFreeSpaceExW(m_root.c_str(), &free_bytes, nullptr, nullptr)
                            ? free_bytes.QuadPart
                            : 0;
        uint64_t limit = test_disk_size();
        if (limit > 0) {
            uint64_t used = m_used_at_start + m_written;
            uint64_t left = limit > used ? limit - used : 0;
            room = left < room ? left : room;
        }
        return room;
    }
    uint64_t position() override { return m_position; }
    bool write(const uint8_t* data, uint32_t count) override
    {
        DWORD put = 0;
        if (!WriteFile(m_file, data, count, &put, nullptr) || put != count)
            return false;
        m_position += count;
        m_written += count;
        return true;
    }
    QlseResult next_disk(int number) override
    {
        close();
        for (;;) {
            int answer = g_zipSet && g_zip.disk_prompt
                             ? g_zip.disk_prompt(number, m_drive.c_str(), L"Please insert disk %d into drive %s.")
                             : 2;
            if (answer != 1 && answer != 3)
                return kQlseCancelled;
            // The disk just filled is still in the drive: its part must not
            // be overwritten (or erased) for the next one.
            if (read_disk_label(m_root) == number - 1) {
                show_error(L"This is the disk that was just written. Please insert a new disk.");
                continue;
            }
            if (answer == 3 && !wipe_folder(m_root)) {
                show_error(L"The disk could not be erased.");
                return kQlseFailed;
            }
            if (!write_disk_label(m_root.c_str(), number)) {
                show_error(L"The disk could not be labelled.");
                return kQlseFailed;
            }
            break;
        }
        m_file = CreateFileW(m_part.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_file == INVALID_HANDLE_VALUE) {
            if (g_zipSet && g_zip.write_error)
                g_zip.write_error(m_part.c_str());
            return kQlseFailed;
        }
        m_new = true;
        start_disk();
        if (g_zipSet && g_zip.status_text) {
            wchar_t status[64];
            _snwprintf(status, 63, L"Creating Disk %d.", number);
            status[63] = 0;
            g_zip.status_text(0, status);
        }
        return kQlseOk;
    }
    void discard() override
    {
        close();
        // The first part of an executable set is the builder's output, which
        // the builder deletes itself.
        if (m_new)
            DeleteFileW(m_part.c_str());
    }

private:
    void start_disk()
    {
        m_position = 0;
        if (m_file != INVALID_HANDLE_VALUE) {
            LARGE_INTEGER size;
            LARGE_INTEGER zero;
            zero.QuadPart = 0;
            if (GetFileSizeEx(m_file, &size) && SetFilePointerEx(m_file, zero, nullptr, FILE_END))
                m_position = static_cast<uint64_t>(size.QuadPart);
        }
        m_used_at_start = files_size(m_root);
        m_written = 0;
    }
    void close()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }

    std::wstring m_part, m_root, m_drive;
    bool m_new;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    uint64_t m_position = 0;
    uint64_t m_used_at_start = 0;
    uint64_t m_written = 0;
};

void report_to(QlseCbReport report, const char* source, int line)
{
    if (!g_unzipSet || report == nullptr)
        return;
    wchar_t name[64];
    MultiByteToWideChar(CP_ACP, 0, source, -1, name, 64);
    name[63] = 0;
    report(name, line);
}

}  // namespace

// The library's own reports of the pure code's internal checks.
void qlHostAssert(const char* source, int line) { report_to(g_unzip.on_assert, source, line); }
void qlHostWin32Error(const char* source, int line) { report_to(g_unzip.on_win32_error, source, line); }

extern "C" {

int QLSE_API zip_init(QlseZipCallbacks table)
{
    g_zip = table;
    g_zipSet = true;
    return 0;
}

int QLSE_API unzip_init(QlseUnzipCallbacks table)
{
    g_unzip = table;
    g_unzipSet = true;
    return 0;
}

int QLSE_API unzip(QlseUnzipBlock* block)
{
    try {
        if (block == nullptr || block->zip_name == nullptr)
            return kQlseFailed;
        g_inUnzip = true;
        WinFile zip(block->zip_name, false);
        CallbackReporter reporter;
        int result;
        if (!zip.open()) {
            show_error(L"Could not open the Zip file");
            result = kQlseFailed;
        } else {
            result = qlse_test_archive(zip, all_decoders(), reporter);
        }
        g_inUnzip = false;
        return result;
    } catch (...) {
        g_inUnzip = false;
        return kQlseFailed;
    }
}

int QLSE_API check_multi_volume(const QlseChar* name, int* part)
{
    try {
        int dummy = 0;
        int* out = part ? part : &dummy;
        *out = 0;
        if (name == nullptr)
            return 0;
        WinFile zip(name, false);
        return zip.open() ? qlse_check_multi_volume(zip, out) : 0;
    } catch (...) {
        return 0;
    }
}

int QLSE_API zipsplit(QlseSplitBlock* block)
{
    if (block == nullptr)
        return kQlseFailed;
    try {
        block->result = kQlseFailed;
        g_inUnzip = false;
        bool span = block->mode == kQlseSplitSpan;
        if ((!span && block->mode != kQlseSplitAppend) || block->source_zip == nullptr ||
            block->target == nullptr) {
            show_error(L"Invalid zipsplit request");
            return kQlseFailed;
        }
        WinFile source(block->source_zip, false);
        if (!source.open()) {
            show_error(L"Could not open the Zip file");
            return kQlseFailed;
        }
        CallbackReporter reporter;
        if (span) {
            if (!is_removable_root(std::wstring(block->target).substr(0, 3).c_str())) {
                show_error(L"The target of a spanned Zip file must lie on a removable drive.");
                return kQlseFailed;
            }
            // An executable set's first part holds the stub already; a Zip
            // set's first part is made here.
            bool is_new = GetFileAttributesW(block->target) == INVALID_FILE_ATTRIBUTES;
            DriveDiskSet disks(block->target, is_new);
            if (!disks.open()) {
                if (g_zipSet && g_zip.write_error)
                    g_zip.write_error(block->target);
                return kQlseFailed;
            }
            QlseResult result = qlse_span_archive(source, disks, reporter);
            block->result = result;
            return result;
        }
        WinFile target(block->target, true);
        if (!target.open()) {
            if (g_zipSet && g_zip.write_error)
                g_zip.write_error(block->target);
            return kQlseFailed;
        }
        QlseResult result = qlse_append_archive(source, target, reporter);
        block->result = result;
        return result;
    } catch (...) {
        block->result = kQlseFailed;
        return kQlseFailed;
    }
}

int QLSE_API zipwipeDiskette(const QlseChar* drive)
{
    try {
        if (!is_removable_root(drive))
            return 1;
        return wipe_folder(drive) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

int QLSE_API ziplabelDiskette(const QlseChar* drive, int disk)
{
    try {
        return write_disk_label(drive, disk) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
