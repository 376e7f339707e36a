// Runs out of memory with the program-wide handler installed: through
// operator new ("new") or through the C runtime's malloc ("malloc"). The
// handler's box and exit code 1 are what the test expects; returning here is
// the fault.
#include <cstdlib>
#include <cwchar>
#include <new>

#include "common/memory.h"

int wmain(int argc, wchar_t** argv)
{
    volatile size_t huge = 0x7FF00000u;
    qlMemSetNewHandler();
    if (argc > 1 && std::wcscmp(argv[1], L"malloc") == 0) {
        void* volatile block = std::malloc(huge);
        std::free(block);
    } else {
        char* volatile block = new char[huge];
        delete[] block;
    }
    return 3;
}
