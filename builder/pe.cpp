// Planning the added PE section.
#include "builder/pe.h"

#include <cstring>

#include "builder/pehead.h"
#include "builder/sfxheader.h"

using namespace sfx_detail;

namespace {

const uint8_t kSectionName[8] = {'_', 'q', 'u', 'o', 'l', 'l', 'a', '_'};
const uint32_t kSectionHeaderSize = 40;
const uint32_t kMaxSections = 16;

bool power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

uint64_t round_up(uint64_t v, uint32_t unit) { return (v + unit - 1) / unit * unit; }

}  // namespace

PeSectionFault plan_data_section(uint8_t* head, size_t head_size, uint64_t file_size,
                                 uint64_t data_offset, PeSectionPlan* plan)
{
    PeHeaders pe;
    if (head_size > file_size || read_pe_headers(head, head_size, &pe) != PeStatus::Ok)
        return PeSectionFault::NoImage;
    const uint8_t* nt = head + pe.nt_offset;
    const uint8_t* optional = nt + 24;
    // The certificate directory (index 4) must be there to be looked at.
    if (pe.optional_header_size < 224 || get32(optional + 92) < 5)
        return PeSectionFault::NoImage;
    if (pe.section_count < 1 || pe.section_count > kMaxSections)
        return PeSectionFault::SectionCount;
    uint32_t section_alignment = get32(optional + 32);
    uint32_t file_alignment = get32(optional + 36);
    if (!power_of_two(file_alignment) || file_alignment < 512 || file_alignment > 0x10000 ||
        !power_of_two(section_alignment) || section_alignment < file_alignment)
        return PeSectionFault::Alignment;
    if (get32(optional + 96 + 4 * 8) != 0)
        return PeSectionFault::Certificate;

    uint64_t table = static_cast<uint64_t>(pe.nt_offset) + 24 + pe.optional_header_size;
    uint64_t slot = table + static_cast<uint64_t>(pe.section_count) * kSectionHeaderSize;
    if (slot + kSectionHeaderSize > head_size)
        return PeSectionFault::NoRoom;
    uint64_t max_end = 0;
    uint64_t first_data = UINT64_MAX;
    for (uint32_t i = 0; i < pe.section_count; ++i) {
        const uint8_t* s = head + table + i * kSectionHeaderSize;
        if (memcmp(s, kSectionName, 8) == 0)
            return PeSectionFault::Exists;
        uint64_t end = static_cast<uint64_t>(get32(s + 12)) + get32(s + 8);
        if (end > max_end)
            max_end = end;
        if (get32(s + 16) != 0 && get32(s + 20) != 0 && get32(s + 20) < first_data)
            first_data = get32(s + 20);
    }
    uint32_t size_of_headers = get32(optional + 60);
    if (slot + kSectionHeaderSize > size_of_headers || slot + kSectionHeaderSize > first_data)
        return PeSectionFault::NoRoom;
    for (uint32_t i = 0; i < kSectionHeaderSize; ++i)
        if (head[slot + i] != 0)
            return PeSectionFault::NoRoom;
    if (data_offset >= file_size || data_offset < first_data)
        return PeSectionFault::Range;

    PeSectionPlan p;
    uint64_t raw_pointer = round_up(data_offset, file_alignment);
    uint64_t length = file_size - data_offset;
    uint64_t virtual_address = round_up(max_end, section_alignment);
    uint64_t virtual_size = round_up(length, section_alignment);
    // The raw size counts every byte behind the stub image, whether or not
    // the image ends on the file alignment.
    uint64_t raw_size = round_up(length, file_alignment);
    if (virtual_address + virtual_size > 0xFFFFFFFFull || raw_pointer + raw_size > 0xFFFFFFFFull)
        return PeSectionFault::Range;
    p.virtual_address = static_cast<uint32_t>(virtual_address);
    p.virtual_size = static_cast<uint32_t>(virtual_size);
    p.raw_pointer = static_cast<uint32_t>(raw_pointer);
    p.raw_size = static_cast<uint32_t>(raw_size);
    // The file ends where the section does; with an image that ends off
    // the alignment this is more than raw_size - length, since the section
    // must not reach beyond the end of the file.
    p.pad = raw_pointer + raw_size - file_size;

    uint8_t* file_header = head + pe.nt_offset + 4;
    put16(file_header + 2, static_cast<uint16_t>(pe.section_count + 1));
    uint8_t* opt = head + pe.nt_offset + 24;
    put32(opt + 64, 0);  // CheckSum
    put32(opt + 56, p.virtual_address + p.virtual_size);  // SizeOfImage
    uint8_t* s = head + slot;
    memcpy(s, kSectionName, 8);
    put32(s + 8, p.virtual_size);
    put32(s + 12, p.virtual_address);
    put32(s + 16, p.raw_size);
    put32(s + 20, p.raw_pointer);
    put32(s + 36, kPeDataSectionFlags);
    *plan = p;
    return PeSectionFault::Ok;
}
