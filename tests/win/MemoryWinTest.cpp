#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "common/memory.h"

// With the handler suspended, a failed allocation comes back to the caller
// (null from malloc, std::bad_alloc from new) instead of ending the program:
// the decoders rely on that around their large allocations.
TEST(MemoryWin, SuspendedHandlerLetsAllocationsFail)
{
    // Volatile, so that the compiler can neither fold nor elide the requests.
    volatile size_t huge = 0x7FF00000u;
    qlMemSetNewHandler();
    qlMemClearNewHandler();
    void* block = std::malloc(huge);
    EXPECT_EQ(block, nullptr);
    std::free(block);
    char* volatile big = nullptr;
    EXPECT_THROW(big = new char[huge], std::bad_alloc);
    delete[] big;
}

namespace {
void own_handler() {}
}  // namespace

// A suspension puts back exactly what was installed: a program's own handler
// (the stub's), never the library's in its place.
TEST(MemoryWin, SuspensionRestoresTheInstalledHandler)
{
    qlMemSetNewHandler(own_handler);
    const QlMemHandlerState saved = qlMemSuspendNewHandler();
    EXPECT_EQ(std::get_new_handler(), nullptr);
    volatile size_t huge = 0x7FF00000u;
    void* block = std::malloc(huge);
    EXPECT_EQ(block, nullptr);
    std::free(block);
    qlMemResumeNewHandler(saved);
    EXPECT_EQ(std::get_new_handler(), &own_handler);
    qlMemClearNewHandler();
    EXPECT_EQ(std::get_new_handler(), nullptr);
}
