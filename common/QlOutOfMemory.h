// The library's out-of-memory exception.
//
// Library code throws the standard bad-allocation exception with the text
// "Out of memory"; callers may catch it as std::bad_alloc.
#pragma once

#include <new>

class QlBadAlloc : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "Out of memory"; }
};

#if defined(__cpp_exceptions) || defined(__EXCEPTIONS)
[[noreturn]] inline void qlThrowOutOfMemory()
{
    throw QlBadAlloc();
}
#else
// Built without exceptions (the stub): out of memory ends the program
// through the host's handler.
[[noreturn]] void qlHostOutOfMemory();
[[noreturn]] inline void qlThrowOutOfMemory()
{
    qlHostOutOfMemory();
}
#endif
