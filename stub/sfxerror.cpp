// The stub's one road for errors: message boxes from the string table, the
// return to the recovery point, the internal-error report and the
// out-of-memory exit.
#include <windows.h>
#include <shlobj.h>

#include "common/QlHooks.h"
#include "common/QlOutOfMemory.h"
#include "common/QlRaise.h"
#include "common/memory.h"
#include "stub/sfxbind.h"
#include "stub/sfxres.h"
#include "stub/sfxstub.h"
#if QL_SFX_NARROW
#include "stub/sfxfileid.h"
#include "stub/sfxnarrow.h"
#endif

#if QL_SFX_NARROW
const char kSfxHeadSource[] = "sfxhead.c";
#else
const char kSfxHeadSource[] = "sfxheadw.c";
#endif
const char kSfxUtilSource[] = "qlutil.c";

namespace {

LONG g_internal_errors = 0;

const char kReportName[] = "QLSFX32.RPT";

void write_narrow(HANDLE file, const char* text)
{
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}

void write_line(HANDLE file, int id, ...)
{
    QlStr format = sfx_text(id);
    QlStr line;
    va_list args;
    va_start(args, id);
    line.FormatV(format.Text(), args);
    va_end(args);
    write_narrow(file, line.ToAnsi());
}

void write_crash_report_header(HANDLE file)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
#if QL_SFX_NARROW
    SfxDateTime time(now);
    write_line(file, IDS_REPORT_DATE, time.month, time.day, time.year, time.hour, time.minute);
#else
    write_line(file, IDS_REPORT_DATE, now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute);
#endif

    wchar_t module[261] = {0};
    GetModuleFileNameW(nullptr, module, 260);
    write_line(file, IDS_REPORT_MODULE, module);

    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info))
        internal_error(kSfxHeadSource, kSfxLineReportVersion);
    write_line(file, IDS_REPORT_OS, static_cast<int>(info.dwMajorVersion),
               static_cast<int>(info.dwMinorVersion));

    DWORD version = GetVersion();
    int platform = (version & 0x80000000u) == 0 ? IDS_REPORT_NT
                   : (version & 0xFF) > 3       ? IDS_REPORT_9X
                                                : IDS_REPORT_WIN32S;
    write_line(file, platform);
    write_line(file, IDS_REPORT_VERSION, static_cast<int>(version & 0xFF),
               static_cast<int>((version >> 8) & 0xFF));

    MEMORYSTATUS memory;
    ZeroMemory(&memory, sizeof memory);
    memory.dwLength = sizeof memory;
    GlobalMemoryStatus(&memory);
    write_line(file, IDS_REPORT_LOAD, static_cast<long>(memory.dwMemoryLoad));
    write_line(file, IDS_REPORT_PHYS_TOTAL, static_cast<long>(memory.dwTotalPhys >> 10));
    write_line(file, IDS_REPORT_PHYS_FREE, static_cast<long>(memory.dwAvailPhys >> 10));
    write_line(file, IDS_REPORT_VIRT_TOTAL, static_cast<long>(memory.dwTotalVirtual >> 10));
    write_line(file, IDS_REPORT_VIRT_FREE, static_cast<long>(memory.dwAvailVirtual >> 10));
}

}  // namespace

QlStr sfx_text(int id)
{
#if QL_SFX_NARROW
    return QlStr(load_string_narrow(id), 1);
#else
    QlStr text;
    text.LoadString(id);
    return text;
#endif
}

int sfx_box(HWND owner, const QlStr& text, UINT type)
{
    QlStr caption = sfx_text(IDS_CAPTION);
    return MessageBoxW(owner, text.Text() ? text.Text() : L"", caption.Text(), type);
}

int sfx_box_id(HWND owner, int id, UINT type)
{
    return sfx_box(owner, sfx_text(id), type);
}

void sfx_fatal(int id, int value)
{
    sfx_box_id(g_sfx.main_window, id, MB_ICONERROR);
    qlRaise(SfxReturn{value});
}

bool get_special_folder_path(int csidl, QlStr* path)
{
    path->Clear();
    // Asked first: a shell that cannot be bound would otherwise end the
    // crash report that is being written.
    if (!sfx_bind_available(kSfxBindShell32))
        return false;
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(g_sfx.main_window, csidl, &items)) || items == nullptr)
        return false;
    wchar_t buffer[2048] = {0};
    bool found = SHGetPathFromIDListW(items, buffer) != FALSE;
    IMalloc* shell_allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shell_allocator)) && shell_allocator != nullptr) {
        shell_allocator->Free(items);
        shell_allocator->Release();
    }
    if (found)
        path->AssignText(buffer);
    return found && path->HasText();
}

QlStr crash_report_path()
{
    // The current folder of the copy is the relaunch folder, which the first
    // instance deletes: without a desktop the report goes to the temp folder.
    QlStr folder;
    if (!get_special_folder_path(CSIDL_DESKTOP, &folder)) {
        wchar_t temp[MAX_PATH + 1] = {0};
        DWORD length = GetTempPathW(MAX_PATH, temp);
        folder.AssignText(length > 0 && length < MAX_PATH ? temp : L"");
    }
    if (folder.HasText() && folder.LastChar() != L'\\')
        folder.AppendChar(L'\\');
    folder.AppendAnsi(kReportName);
    return folder;
}

void internal_error(const char* source, int line)
{
    if (InterlockedIncrement(&g_internal_errors) != 1)
        ExitProcess(1);
    QlStr text;
    text.Format(sfx_text(IDS_INTERNAL_ERROR).Text(), QlStr(source, 1).Text(), line);
    sfx_box(g_sfx.main_window, text, MB_ICONWARNING);

    QlStr path = crash_report_path();
    HANDLE file = CreateFileW(path.Text(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        write_narrow(file, text.ToAnsi());
        write_narrow(file, "\r\n");
        write_crash_report_header(file);
        CloseHandle(file);
        QlStr written;
        written.Format(sfx_text(IDS_REPORT_WRITTEN).Text(), path.Text());
        sfx_box(g_sfx.main_window, written, MB_ICONWARNING);
    }
    ExitProcess(1);
}

void internal_error_wide(const QlChar* source, int line)
{
    QlStr name(source);
    internal_error(name.ToAnsi(), line);
}

void internal_error_overflow(const char* source, int line)
{
    char name[263];
    lstrcpynA(name, "**", sizeof name);
    lstrcpynA(name + 2, source, sizeof name - 2);
    internal_error(name, line);
}

void internal_error_system(const char* source, int line)
{
    internal_error(source, line);
}

void out_of_memory_exit()
{
    // Built in, not loaded: there may be no memory left to load a string.
    MessageBoxW(nullptr,
                L"There is not enough memory available for Quolla to continue.\n\n"
                L"Please close some of your other applications or free up some memory "
                L"another way before trying to run Quolla again.",
                L"Quolla Self Extractor", MB_ICONERROR);
    ExitProcess(1);
}

void qlHostOutOfMemory()
{
    out_of_memory_exit();
}

void install_out_of_memory_handler()
{
    // For operator new and malloc alike: the C runtime's allocations and the
    // decoders' blocks come from malloc.
    qlMemSetNewHandler(out_of_memory_exit);
}

// The library's checks: its source names carry no extension; the report
// gives them the ".c" that every site of the stub has.
void qlHostAssert(const char* source, int line)
{
    char name[263];
    lstrcpynA(name, source ? source : "?", 200);
    lstrcatA(name, ".c");
    internal_error(name, line);
}

void qlHostWin32Error(const char* source, int line)
{
    char name[263];
    lstrcpynA(name, source ? source : "?", 200);
    lstrcatA(name, ".c");
    internal_error_system(name, line);
}
