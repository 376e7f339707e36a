// The header record's template: the eyecatcher, header version 8 at offset 44
// and zeros elsewhere. The builder finds it by the eyecatcher and fills it in
// the written file, so the image must carry these bytes exactly once: the
// record lives in writable, initialised data (.data), is read only through
// volatile accesses (the compiler can neither fold the bytes into code nor
// copy them elsewhere) and is marked used so that nothing drops it.
#include "stub/sfxstub.h"

extern "C" {
__attribute__((used)) volatile uint8_t g_sfx_header_template[kSfxHeaderSize] = {
    'T', 'R', 'V', 0x01, 's', 'f', 'x', 0x02,  // eyecatcher
    0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0,  // wait name
    0, 0,                    // terminator, reserved
    0, 0,                    // written marker: 0 until the builder writes the record
    8, 0,                    // header version
    0, 0, 0, 0,  0, 0,  0, 0,
    0, 0, 0, 0,              // entry point
};
}

static_assert(sizeof g_sfx_header_template == kSfxHeaderSize, "the template is the record");

void sfx_read_own_header(SfxHeader* out)
{
    uint8_t bytes[kSfxHeaderSize];
    for (size_t i = 0; i < kSfxHeaderSize; ++i)
        bytes[i] = g_sfx_header_template[i];
    read_sfx_header(bytes, sizeof bytes, 0, out);
}

void sfx_own_eyecatcher(uint8_t out[8])
{
    for (size_t i = 0; i < 8; ++i)
        out[i] = g_sfx_header_template[i];
}
