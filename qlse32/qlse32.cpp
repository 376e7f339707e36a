// QLSE32.DLL, the builder's helper library: the seven entry points over
// Windows files. Every report goes through the callback tables that the
// builder registered; nothing leaves an entry point but its result.
#include "builder/qlse32api.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "common/QlHooks.h"
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
        if (block->mode == kQlseSplitSpan) {
            show_error(L"Spanning over removable disks is not supported by this version of QLSE32.DLL.");
            return kQlseFailed;
        }
        if (block->mode != kQlseSplitAppend || block->source_zip == nullptr || block->target == nullptr) {
            show_error(L"Invalid zipsplit request");
            return kQlseFailed;
        }
        WinFile source(block->source_zip, false);
        if (!source.open()) {
            show_error(L"Could not open the Zip file");
            return kQlseFailed;
        }
        WinFile target(block->target, true);
        if (!target.open()) {
            if (g_zipSet && g_zip.write_error)
                g_zip.write_error(block->target);
            return kQlseFailed;
        }
        CallbackReporter reporter;
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
        char label[12];
        if (!is_removable_root(drive) || !qlse_disk_label(disk, label))
            return 1;
        wchar_t wide[12];
        MultiByteToWideChar(CP_ACP, 0, label, -1, wide, 12);
        return SetVolumeLabelW(drive, wide) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
