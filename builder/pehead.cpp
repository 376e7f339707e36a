#include "builder/pehead.h"

#include "builder/crc32.h"
#include "builder/sfxheader.h"
#include "common/QlBytes.h"
#include "common/QlHooks.h"

namespace {
const char kSource[] = "pe";

}  // namespace

PeStatus read_pe_headers(const uint8_t* image, size_t size, PeHeaders* out)
{
    if (image == nullptr || size < kPeDosHeaderSize)
        return PeStatus::NoImage;
    if (image[0] != 'M' || image[1] != 'Z')
        return PeStatus::NoDosHeader;
    const uint32_t nt = qlLoad32(image + kPeLfanewOffset);
    // In 64 bits, so that an e_lfanew near 4 GiB cannot wrap past the check.
    if (static_cast<uint64_t>(nt) + kPeNtHeadersSize > size)
        return PeStatus::HeadersOutside;
    const uint8_t* p = image + nt;
    if (p[0] != 'P' || p[1] != 'E' || p[2] != 0 || p[3] != 0)
        return PeStatus::NoPeSignature;
    // 248 bytes hold the optional header of a 32-bit image only.
    if (qlLoad16(p + 24) != kPe32Magic)
        return PeStatus::NotPe32;
    if (out != nullptr) {
        out->nt_offset = nt;
        out->section_count = qlLoad16(p + 6);
        out->optional_header_size = qlLoad16(p + 20);
        out->entry_point = qlLoad32(p + kPeEntryPointOffset);
    }
    return PeStatus::Ok;
}

bool entry_point_rva(const uint8_t* image, size_t size, uint32_t* rva)
{
    if (!qlCheck(image != nullptr, kSource, 1998))
        return false;
    PeHeaders headers;
    if (read_pe_headers(image, size, &headers) != PeStatus::Ok)
        return false;
    *rva = headers.entry_point;
    return true;
}

bool crc_start_offset(const uint8_t* image, size_t size, uint32_t* start)
{
    PeHeaders headers;
    if (read_pe_headers(image, size, &headers) != PeStatus::Ok)
        return false;
    *start = headers.nt_offset + kPeNtHeadersSize;
    return true;
}

bool sfx_head_crc(const uint8_t* head, size_t size, uint32_t flags, uint32_t* crc)
{
    const size_t record = find_sfx_header(head, size);
    if (record == kSfxHeaderNotFound || size - record < kSfxCrcFieldOffset + 4)
        return false;
    size_t start = 0;
    if (flags & kSfxFlagPeSection) {
        uint32_t behind_headers;
        if (!crc_start_offset(head, size, &behind_headers))
            return false;
        start = behind_headers;
    }
    const size_t field = record + kSfxCrcFieldOffset;
    const size_t field_end = field + 4;
    static const uint8_t kZeros[4] = {};

    uint32_t value = 0;
    if (field > start)
        value = crc32_update(value, head + start, field - start);
    if (field_end > start) {
        const size_t from = field > start ? field : start;
        value = crc32_update(value, kZeros, field_end - from);
    }
    const size_t rest = field_end > start ? field_end : start;
    value = crc32_update(value, head + rest, size - rest);
    *crc = value;
    return true;
}
