// The internal-error report and the library hooks that lead to it.
#include "builder/trace.h"

#include <cstdio>
#include <exception>

#include "builder/textfile.h"
#include "builder/ui/msgsink.h"
#include "common/QlHooks.h"
#include "common/QlMisc.h"
#include "common/QlString.h"

namespace {

const int kMsgWin32Failure = 6020;
const int kMsgInternalError = 6030;
const int kMsgInternalErrorAt = 6040;
const int kMsgBanner = 1004;
const int kMsgReportWritten = 1078;
const char kBuildDate[] = "Aug  5 2016";

int g_reportDepth = 0;
wchar_t* g_pendingSystemText = nullptr;
const CONTEXT* g_crashContext = nullptr;
DWORD g_crashCode = 0;

void write_text(FILE* file, const QlStr& text)
{
    QlStrNarrow ansi(text, 1);
    if (ansi.Text())
        fputs(ansi.Text(), file);
}

// A frame pointer worth following: inside this thread's stack, aligned, and
// above the last one, so the walk always ends.
bool frame_on_stack(ULONG_PTR frame, ULONG_PTR below, ULONG_PTR base)
{
    return frame > below && frame + 2 * sizeof(ULONG_PTR) <= base && (frame & 3) == 0;
}

// The thread's information block, which holds the stack's bounds.
NT_TIB* current_tib()
{
    NT_TIB* tib;
    __asm__("movl %%fs:0x18, %0" : "=r"(tib));
    return tib;
}

void __attribute__((noinline)) output_context_info(FILE* file)
{
    fprintf(file, "\n\nqlFileExists:      %08lx\n",
            static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(
                static_cast<bool (*)(const QlStr&)>(&qlFileExists))));
    fprintf(file, "output_context_info: %08lx\n\n",
            static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(&output_context_info)));
    ULONG_PTR frame;
    if (g_crashContext) {
        fprintf(file, "Exception code = %08lx\n\n", static_cast<unsigned long>(g_crashCode));
#if defined(_M_IX86) || defined(__i386__)
        fprintf(file, "Instruction ptr: %08lx\n\n", static_cast<unsigned long>(g_crashContext->Eip));
        frame = g_crashContext->Ebp;
#else
        frame = 0;
#endif
    } else {
        frame = reinterpret_cast<ULONG_PTR>(__builtin_frame_address(0));
    }
    NT_TIB* tib = current_tib();
    const ULONG_PTR limit = reinterpret_cast<ULONG_PTR>(tib->StackLimit);
    const ULONG_PTR base = reinterpret_cast<ULONG_PTR>(tib->StackBase);
    ULONG_PTR below = limit > 0 ? limit - 1 : 0;
    for (int n = 0; n < kReportMaxFrames && frame_on_stack(frame, below, base); ++n) {
        const ULONG_PTR* slots = reinterpret_cast<const ULONG_PTR*>(frame);
        ULONG_PTR returnAddress = slots[1];
        if (returnAddress == 0)
            break;
        fprintf(file, "Return address = %08lx\n", static_cast<unsigned long>(returnAddress));
        below = frame;
        frame = slots[0];
    }
    fputs("\n", file);
}

void output_header_info(FILE* file)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    fprintf(file, "\nCurrent date/time: %02d/%02d/%04d %02d:%02d\n", now.wMonth, now.wDay,
            now.wYear, now.wHour, now.wMinute);
    QlStr banner = format_message(kMsgBanner, L"4.0");
    fprintf(file, "\n%s compiled: %s\n", QlStrNarrow(banner, 1).Text(), kBuildDate);
    wchar_t module[2048];
    DWORD n = GetModuleFileNameW(nullptr, module, 2048);
    fprintf(file, "Module name = %s\n", QlStrNarrow(QlStr(module, n < 2048 ? n : 0), 1).Text());
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    fprintf(file, "\nOperating System Version %d.%02d\n", static_cast<int>(version.dwMajorVersion),
            static_cast<int>(version.dwMinorVersion));
    DWORD platform = GetVersion();
    const char* name = (platform & 0x80000000u) == 0 ? "Windows NT"
                       : (platform & 0xFF) > 3        ? "Windows 95/98"
                                                      : "Win32s";
    fprintf(file, "%s Version %d.%d\n", name, static_cast<int>(platform & 0xFF),
            static_cast<int>((platform >> 8) & 0xFF));
    MEMORYSTATUS memory = {};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatus(&memory);
    fprintf(file, "Memory in use = %ld%%\n", static_cast<long>(memory.dwMemoryLoad));
    fprintf(file, "Total physical memory = %ld Kbytes\n", static_cast<long>(memory.dwTotalPhys / 1024));
    fprintf(file, "Physical memory available = %ld Kbytes\n", static_cast<long>(memory.dwAvailPhys / 1024));
    fprintf(file, "Total virtual memory = %ld Kbytes\n", static_cast<long>(memory.dwTotalVirtual / 1024));
    fprintf(file, "Virtual memory available = %ld Kbytes\n", static_cast<long>(memory.dwAvailVirtual / 1024));
}

// Writes the report file; false when it cannot be made.
bool write_report(const QlStr& message)
{
    QlStr path;
    qlMiscGetSpecialFolderPath(path, CSIDL_DESKTOP);
    if (!path.HasText())
        return false;
    path.AddTrailingSlash();
    path += QL(QL_REPORT_FILE_NAME);
    FILE* file = _wfopen(path.Text(), L"wt");
    if (file == nullptr)
        return false;
    setvbuf(file, nullptr, _IONBF, 0);
    write_text(file, message);
    output_context_info(file);
    output_header_info(file);
    fclose(file);
    return true;
}

QlStr wide_to_ansi_name(const wchar_t* file)
{
    return QlStr(file ? file : L"");
}

void terminate_handler()
{
    // A C++ exception that nothing caught never reaches the exception filter.
    report_top_level_exception(nullptr, 0xE06D7363);
}

LONG WINAPI top_level_filter(EXCEPTION_POINTERS* pointers)
{
    return report_top_level_exception(pointers ? pointers->ContextRecord : nullptr,
                                      pointers && pointers->ExceptionRecord
                                          ? pointers->ExceptionRecord->ExceptionCode
                                          : 0);
}

}  // namespace

void report_assertion(const char* file, int line)
{
    // A failure inside the report itself: no second report.
    if (g_reportDepth != 0)
        ExitProcess(1);
    ++g_reportDepth;

    QlStr fileName(file ? file : "", 1);
    QlStr message;
    int id;
    if (g_pendingSystemText) {
        id = kMsgWin32Failure;
        message = format_message(id, g_pendingSystemText, fileName.Text(), line);
        LocalFree(g_pendingSystemText);
        g_pendingSystemText = nullptr;
    } else if (line != 0) {
        id = kMsgInternalErrorAt;
        message = format_message(id, fileName.Text(), line);
    } else {
        id = kMsgInternalError;
        message = load_message(id);
    }
    message_box_id(id, message, MB_OK | MB_ICONERROR, sink_main_window());

    bool written = write_report(message);
    // Without a file there is nothing to send in; a line-0 report still
    // returns to its caller, which goes on safely.
    if (written)
        message_box_id(kMsgReportWritten, format_message(kMsgReportWritten, L"" QL_REPORT_FILE_NAME),
                       MB_OK | MB_ICONWARNING, sink_main_window());
    if (line != 0)
        ExitProcess(1);
    --g_reportDepth;
}

void report_win32_failure(const char* file, int line)
{
    DWORD error = GetLastError();
    if (g_pendingSystemText) {
        LocalFree(g_pendingSystemText);
        g_pendingSystemText = nullptr;
    }
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, 1033, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (n == 0 && error != 0)
        n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    g_pendingSystemText = n != 0 ? text : nullptr;
    report_assertion(file, line);
}

LONG report_top_level_exception(const CONTEXT* context, DWORD code)
{
    g_crashContext = context;
    g_crashCode = code;
    report_assertion("Internal Error", 0);
    ExitProcess(1);
    return EXCEPTION_EXECUTE_HANDLER;
}

void install_crash_handlers()
{
    SetUnhandledExceptionFilter(top_level_filter);
    std::set_terminate(terminate_handler);
}

void on_library_win32_error(const wchar_t* file, int line)
{
    report_win32_failure(QlStrNarrow(wide_to_ansi_name(file), 1).Text(), line);
}

void on_library_assert(const wchar_t* file, int line)
{
    report_assertion(QlStrNarrow(wide_to_ansi_name(file), 1).Text(), line);
}

void on_dialog_library_assert(const wchar_t* file, int line)
{
    on_library_assert(file, line);
}

void on_shared_assert(const wchar_t* file, int line)
{
    QlStr name = QlStr(L"*") + wide_to_ansi_name(file);
    report_assertion(QlStrNarrow(name, 1).Text(), line);
}

void on_helper_assert(const wchar_t* file, int line)
{
    on_library_assert(file, line);
}

// The common library's hooks.
void qlHostAssert(const char* source, int line)
{
    report_assertion(source, line);
}

void qlHostWin32Error(const char* source, int line)
{
    report_win32_failure(source, line);
}
