#include "common/memory.h"

#include <cstring>

#include "common/QlHooks.h"

namespace {
const char kSource[] = "memory";
enum : int {
    kLineStrDupLength = 113,
};
}

char* qlMemStrDup(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text, size);
    qlCheck(std::strlen(copy) < size, kSource, kLineStrDupLength);
    return copy;
}
