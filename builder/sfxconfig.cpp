// The stub's side of the configuration block: where it lies and how it
// splits. Kept apart from the packing (sfxconfigpack.cpp) so that a stub links
// neither zlib nor the standard containers.
#include "builder/sfxconfig.h"

SfxConfigStatus split_config_fields(const uint8_t* data, size_t size,
                                    SfxConfigField out[kSfxConfigFieldCount])
{
    if (size % 2 != 0)
        return SfxConfigStatus::OddSize;
    const size_t units = size / 2;
    if (units > kSfxConfigMaxUnits)
        return SfxConfigStatus::TooLong;

    SfxConfigField fields[kSfxConfigFieldCount];
    size_t at = 0;
    for (SfxConfigField& field : fields) {
        field.units = data + 2 * at;
        field.length = 0;
        for (;;) {
            if (at == units)
                return SfxConfigStatus::FieldCount;  // fewer than eight, or no final NUL
            const bool nul = data[2 * at] == 0 && data[2 * at + 1] == 0;
            ++at;
            if (nul)
                break;
            ++field.length;
        }
    }
    if (at != units)
        return SfxConfigStatus::FieldCount;  // something behind the eighth string
    for (size_t i = 0; i < kSfxConfigFieldCount; ++i)
        out[i] = fields[i];
    return SfxConfigStatus::Ok;
}

SfxConfigSpan sfx_config_span(const SfxHeader& header, uint32_t* offset, uint32_t* length)
{
    if (header.stub_length == 0)
        return SfxConfigSpan::None;
    if (header.archive_offset <= header.stub_length)
        return SfxConfigSpan::Bad;
    const uint32_t span = header.archive_offset - header.stub_length;
    if (span > kSfxConfigMaxBlockSize)
        return SfxConfigSpan::Bad;
    *offset = header.stub_length;
    *length = span;
    return SfxConfigSpan::Block;
}

