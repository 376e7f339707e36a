// The choice of the stub variant for one build: the smallest image of the
// mode and language that decodes every method the archive uses.
// Pure code: no Windows headers.
#pragma once

#include <cstdint>

#include "builder/stubvariants.h"

// The needs-Unicode bits of the texts that can bring in a Unicode-capable stub.
enum UnicodeTextBit : uint32_t {
    kUnicodeTitle = 1,
    kUnicodeGreeting = 2,
    kUnicodeAbout = 4,
    kUnicodeDialogText = 8,     // installation mode
    kUnicodeDefaultFolder = 16, // standard mode
    kUnicodeCommand = 32,
    kUnicodeZipName = 64,
};

// The row to use, or null. Rows whose image was not found (size 0) never
// qualify. A non-zero `needs_unicode` adds the Unicode feature.
const StubVariant* choose_stub_variant(const StubVariant* rows, bool installation_mode,
                                       uint16_t language, uint16_t methods_mask,
                                       uint32_t needs_unicode);
