// Raises the builder's internal-error report on purpose, as its argument says:
//   assert     an assertion with a line (ends the process with 1)
//   line0      two assertions without a line (each returns; then exit 7)
//   win32      a failed Win32 call (ends with 1)
//   throw      a C++ exception that nothing catches (ends with 1)
//   crash      an access violation nobody handles (ends with 1)
#include <stdexcept>

#include <windows.h>

#include "builder/trace.h"

namespace {

int __attribute__((noinline)) deeper(int depth, const wchar_t* what)
{
    if (depth > 0)
        return deeper(depth - 1, what) + 1;
    if (lstrcmpW(what, L"assert") == 0)
        report_assertion("tracecheck.cpp", 42);
    if (lstrcmpW(what, L"line0") == 0) {
        report_assertion("Internal Error", 0);
        report_assertion("Internal Error", 0);
        return 7;
    }
    if (lstrcmpW(what, L"win32") == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        report_win32_failure("tracecheck.cpp", 77);
    }
    if (lstrcmpW(what, L"throw") == 0)
        throw std::runtime_error("nobody catches this");
    // Raised rather than provoked: whether address 0 is mapped depends on
    // how the program is run.
    if (lstrcmpW(what, L"crash") == 0)
        RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    return 9;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR line, int)
{
    install_crash_handlers();
    int result = deeper(3, line);
    return result == 7 + 3 ? 7 : result;
}
