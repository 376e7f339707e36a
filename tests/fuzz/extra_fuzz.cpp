// An arbitrary extra-field area: parsed, written back, and evaluated for an
// entry. The first bytes choose the entry's header facts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stub/engine/Qlextra.h"

// An internal-error report is a fault here: hostile input must not reach one.
void qlHostAssert(const char*, int)
{
    abort();
}
void qlHostWin32Error(const char*, int)
{
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t choice = data[0];
    ++data;
    --size;

    // The area gets a copy of its own size, so that any read past it is
    // caught.
    std::vector<uint8_t> area(data, data + size);
    QlExtraList list(area.empty() ? nullptr : area.data(), area.size());

    std::vector<uint8_t> out(size + 64);
    uint8_t* p = out.data();
    for (QlExtraType* o = list.First(); o != nullptr && p != nullptr; o = list.Next()) {
        uint8_t* end = o->Write(p, out.data() + out.size() - p);
        if (end != nullptr && (end < p || end > out.data() + out.size()))
            abort();
        p = end;
    }

    QlExtraEntryFacts facts;
    facts.headerUncompressed = choice & 1 ? 0xFFFFFFFFu : 1000;
    facts.headerCompressed = choice & 2 ? 0xFFFFFFFFu : 500;
    facts.method = choice & 4 ? 99 : 8;
    facts.encrypted = (choice & 8) != 0;
    facts.dataDescriptor = (choice & 16) != 0;
    static const char kName[] = "a.txt";
    facts.storedName = kName;
    facts.storedNameLength = 5;
    QlExtraApplyResult result = apply_extra_fields(list, facts);
    if (facts.uncompressedSize > 0xFFFFFFFFu || facts.compressedSize > 0xFFFFFFFFu)
        abort();
    if (result == kQlExtraApplied && facts.hasUnicodeName
        && (facts.unicodeName.Length() > kQlExtraMaxNameUnits || facts.unicodeName.Length() == 0))
        abort();
    return 0;
}
