// The PE section "_quolla_" that makes the data behind the stub part of the
// image, planned on the file's head in memory: every check is made before a
// byte changes, since a custom stub (-f) is user input.
//
// Pure code: no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>

enum class PeSectionFault {
    Ok,
    NoImage,         // no DOS header, e_lfanew outside the head, no "PE\0\0", not PE32
    SectionCount,    // not 1 to 16 sections
    Alignment,       // FileAlignment or SectionAlignment not a sane power of two
    Certificate,     // the image is signed: a section would break the signature
    Exists,          // a "_quolla_" section is there already
    NoRoom,          // no free 40 bytes for one more header before the first section's data
    Range,           // the data offset lies outside the file, or sizes overflow
};

struct PeSectionPlan {
    uint32_t virtual_address;
    uint32_t virtual_size;
    uint32_t raw_pointer;
    uint32_t raw_size;
    uint64_t pad;  // zero bytes to append so the file ends where the section does
};

// head: the file's first head_size bytes (every header lies there), changed
// in place only when the answer is Ok; the file has file_size bytes and the
// section starts at data_offset, the true end of the stub image.
PeSectionFault plan_data_section(uint8_t* head, size_t head_size, uint64_t file_size,
                                 uint64_t data_offset, PeSectionPlan* plan);

// The section's characteristics: initialised data, discardable, readable.
const uint32_t kPeDataSectionFlags = 0x42000040;
