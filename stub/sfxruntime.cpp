// The pieces of the C++ runtime that a program built the stub's way (without
// exceptions, cmake/QlWindows.cmake) supplies itself, so that none of the
// runtime's exception support is linked in:
//
// - operator new and delete: the runtime's own throw std::bad_alloc when no
//   new-handler helps, and its nothrow forms catch that exception. Here a
//   failed allocation goes to the new-handler as usual; without one (while a
//   decoder has suspended it) the plain forms end the program through the
//   host's out-of-memory exit and the nothrow forms answer null.
// - the container errors of the standard library (std::__throw_*), which
//   would throw: a size beyond any allocation is out of memory, anything
//   else an internal error.
// - the terminate handler: the runtime's own writes the demangled type of
//   the exception to stderr, which links the demangler and the C library's
//   formatted output into a program that has no console.
//
// The names are the runtime's own: the linker takes them from here before it
// searches the libraries, and a piece that is still missing brings in the
// runtime's object that defines it, whose other definitions then collide
// with these at link time.
#include <cstdlib>
#include <new>

#include "common/QlHooks.h"
#include "common/QlOutOfMemory.h"

namespace {

const char kSource[] = "sfxruntime";

enum RuntimeLine {
    kRuntimeLineTerminate = 40,     // an exception or a pure virtual call nothing could handle
    kRuntimeLineContainer = 41,     // a container's range or argument check
};

[[noreturn]] void runtime_failure(int line)
{
    qlHostAssert(kSource, line);
    std::abort();  // the host's handler ends the program; a test host may return
}

void* allocate(size_t size, bool nothrow)
{
    if (size == 0)
        size = 1;
    for (;;) {
        void* block = std::malloc(size);
        if (block != nullptr)
            return block;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            if (nothrow)
                return nullptr;
            qlHostOutOfMemory();
        }
        handler();
    }
}

}  // namespace

void* operator new(size_t size) { return allocate(size, false); }
void* operator new[](size_t size) { return allocate(size, false); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size, true); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size, true); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace std {
[[noreturn]] void __throw_bad_alloc() { qlHostOutOfMemory(); }
[[noreturn]] void __throw_bad_array_new_length() { qlHostOutOfMemory(); }
[[noreturn]] void __throw_length_error(const char*) { qlHostOutOfMemory(); }
[[noreturn]] void __throw_out_of_range(const char*) { runtime_failure(kRuntimeLineContainer); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { runtime_failure(kRuntimeLineContainer); }
[[noreturn]] void __throw_logic_error(const char*) { runtime_failure(kRuntimeLineContainer); }
[[noreturn]] void __throw_invalid_argument(const char*) { runtime_failure(kRuntimeLineContainer); }
}  // namespace std

namespace __gnu_cxx {
[[noreturn]] void __verbose_terminate_handler() { runtime_failure(kRuntimeLineTerminate); }
}  // namespace __gnu_cxx
