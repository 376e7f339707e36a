// The builder's internal-error report: a message, the file "QLSE32.RPT" on
// the desktop, and a second message that names it.
#pragma once

#include <windows.h>

// An internal check that failed at file:line (ANSI source name). Line 0 (no
// location) writes the report and returns; any other line ends the process
// with exit code 1.
void report_assertion(const char* file, int line);
// A Win32 call that failed where it must not: the last error's text, then
// the report.
void report_win32_failure(const char* file, int line);
// The top-level exception filter's work: the report with the exception's
// context, then the end of the process (exit code 1).
LONG report_top_level_exception(const CONTEXT* context, DWORD code);
// Makes the exception filter and the C++ terminate handler lead to the report.
void install_crash_handlers();

// Handlers for the libraries (UTF-16 source names).
void on_library_win32_error(const wchar_t* file, int line);
void on_library_assert(const wchar_t* file, int line);
void on_dialog_library_assert(const wchar_t* file, int line);
void on_shared_assert(const wchar_t* file, int line);
void on_helper_assert(const wchar_t* file, int line);

// The report's file name, and the most return addresses it lists.
#define QL_REPORT_FILE_NAME "QLSE32.RPT"
const int kReportMaxFrames = 64;
