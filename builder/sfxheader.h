// The header record of a self-extracting file: 58 bytes inside the stub's
// initialised data, found by its eyecatcher. The builder fills it in the
// written file; the stub reads it from its own file.
//
// The record is exchanged as bytes only: read_sfx_header and write_sfx_header
// convert field by field (little-endian), so the struct's own memory layout
// never reaches a file. The packed layout and the asserts below still pin the
// offsets, so that code which looks at the bytes directly agrees with them.
// The fields are unaligned: copy one before binding a reference or taking its
// address (GoogleTest's EXPECT_EQ binds references; pass +header.flags).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/QlBytes.h"

#pragma pack(push, 1)
struct SfxHeader {
    uint8_t eyecatcher[8];       // kSfxEyecatcher, kept as the stub carries it
    uint32_t crc32;              // 0 = no CRC check; else CRC-32 of the head
    uint32_t archive_offset;     // start of the Zip data, end of the CRC range
    uint32_t stub_length;        // start of the configuration block; 0 = none
    uint32_t end_record_offset;  // file offset of the end-record signature
    uint32_t total_size;         // sum of the entries' uncompressed sizes
    uint32_t flags;              // kSfxFlag... bits
    char wait_name[8];           // ANSI, NUL after the text when shorter than 8
    uint8_t wait_name_end;       // always 0, so an 8-character name still ends
    uint8_t reserved_41;
    uint16_t written_marker;     // kSfxWrittenMarker once the builder wrote it
    uint16_t header_version;     // kSfxHeaderVersion in current stubs
    uint32_t comment_offset;     // file offset of the appended comment (-z)
    uint8_t comment_longest_line;
    uint8_t comment_lines;
    uint16_t reserved_52;
    uint32_t entry_point;        // AddressOfEntryPoint of the stub image
};
#pragma pack(pop)

constexpr size_t kSfxHeaderSize = 58;

static_assert(sizeof(SfxHeader) == kSfxHeaderSize, "the record is 58 bytes");
static_assert(offsetof(SfxHeader, eyecatcher) == 0, "layout");
static_assert(offsetof(SfxHeader, crc32) == 8, "layout");
static_assert(offsetof(SfxHeader, archive_offset) == 12, "layout");
static_assert(offsetof(SfxHeader, stub_length) == 16, "layout");
static_assert(offsetof(SfxHeader, end_record_offset) == 20, "layout");
static_assert(offsetof(SfxHeader, total_size) == 24, "layout");
static_assert(offsetof(SfxHeader, flags) == 28, "layout");
static_assert(offsetof(SfxHeader, wait_name) == 32, "layout");
static_assert(offsetof(SfxHeader, wait_name_end) == 40, "layout");
static_assert(offsetof(SfxHeader, reserved_41) == 41, "layout");
static_assert(offsetof(SfxHeader, written_marker) == 42, "layout");
static_assert(offsetof(SfxHeader, header_version) == 44, "layout");
static_assert(offsetof(SfxHeader, comment_offset) == 46, "layout");
static_assert(offsetof(SfxHeader, comment_longest_line) == 50, "layout");
static_assert(offsetof(SfxHeader, comment_lines) == 51, "layout");
static_assert(offsetof(SfxHeader, reserved_52) == 52, "layout");
static_assert(offsetof(SfxHeader, entry_point) == 54, "layout");

constexpr uint8_t kSfxEyecatcher[8] = {'T', 'R', 'V', 0x01, 's', 'f', 'x', 0x02};
constexpr size_t kSfxCrcFieldOffset = 8;  // from the first eyecatcher byte

// The version current stubs carry; the builder refuses a stub of 7 or less.
constexpr uint16_t kSfxHeaderVersion = 8;
constexpr uint16_t kSfxOldestRefusedVersion = 7;
// The template holds 0 here; a stub that finds 0 was never built.
constexpr uint16_t kSfxWrittenMarker = 0xFFFF;

// The flag word.
constexpr uint32_t kSfxFlagOption3 = 0x1;             // -3
constexpr uint32_t kSfxFlagOverwrite = 0x2;           // overwrite on (default)
constexpr uint32_t kSfxFlagWait = 0x4;                // wait for the wait name
constexpr uint32_t kSfxFlagLongNames = 0x8;           // a name is not 8.3, prompts on
constexpr uint32_t kSfxFlagTitle = 0x10;              // a title was given
constexpr uint32_t kSfxFlagManualWait = 0x40;         // -Manual_WAIT
constexpr uint32_t kSfxFlagOem = 0x80;                // -oem
constexpr uint32_t kSfxFlagEncrypted = 0x100;         // encrypted entries found
constexpr uint32_t kSfxFlagAuto = 0x200;              // -auto: unzip at once
constexpr uint32_t kSfxFlagOptionK = 0x400;           // -k
constexpr uint32_t kSfxFlagPeSection = 0x800;         // PE section added; CRC after the PE headers
constexpr uint32_t kSfxFlagSpanning = 0x1000;         // spanned over disks
constexpr uint32_t kSfxFlagNoAbout = 0x2000;          // -noabout
constexpr uint32_t kSfxFlagZipOnFirstDisk = 0x8000;   // Zip data behind the stub on disk 1
constexpr uint32_t kSfxFlagCommandSplit = 0x10000;    // command split into program and arguments
constexpr uint32_t kSfxFlagInstallInf = 0x20000;      // run the .inf through the verb "Install"
constexpr uint32_t kSfxFlagTitleCaption = 0x40000;    // title replaces the dialog caption
constexpr uint32_t kSfxFlagGreetingButtons = 0x80000; // greeting asks with buttons
constexpr uint32_t kSfxFlagGreetingOkCancel = 0x100000; // ... OK/Cancel, else Yes/No
constexpr uint32_t kSfxFlagPassArgv0 = 0x200000;      // -argv0
constexpr uint32_t kSfxFlagSilent = 0x400000;         // -silent

// Every bit the builder may set; 0x20, 0x4000 and 0x800000 up never are.
constexpr uint32_t kSfxFlagsKnown =
    kSfxFlagOption3 | kSfxFlagOverwrite | kSfxFlagWait | kSfxFlagLongNames | kSfxFlagTitle |
    kSfxFlagManualWait | kSfxFlagOem | kSfxFlagEncrypted | kSfxFlagAuto | kSfxFlagOptionK |
    kSfxFlagPeSection | kSfxFlagSpanning | kSfxFlagNoAbout | kSfxFlagZipOnFirstDisk |
    kSfxFlagCommandSplit | kSfxFlagInstallInf | kSfxFlagTitleCaption | kSfxFlagGreetingButtons |
    kSfxFlagGreetingOkCancel | kSfxFlagPassArgv0 | kSfxFlagSilent;

constexpr size_t kSfxHeaderNotFound = static_cast<size_t>(-1);

// Offset of the first eyecatcher in image[0, size), or kSfxHeaderNotFound.
// A later copy (a stub may carry the bytes twice) is never the record.
inline size_t find_sfx_header(const uint8_t* image, size_t size)
{
    if (image == nullptr || size < sizeof kSfxEyecatcher)
        return kSfxHeaderNotFound;
    const size_t last = size - sizeof kSfxEyecatcher;
    for (size_t at = 0; at <= last; ++at) {
        if (image[at] == kSfxEyecatcher[0] &&
            std::memcmp(image + at, kSfxEyecatcher, sizeof kSfxEyecatcher) == 0)
            return at;
    }
    return kSfxHeaderNotFound;
}

namespace sfx_detail {
inline uint16_t get16(const uint8_t* p) { return qlLoad16(p); }
inline uint32_t get32(const uint8_t* p) { return qlLoad32(p); }
inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace sfx_detail

// Decodes the record at image[offset]; false when its 58 bytes do not fit.
inline bool read_sfx_header(const uint8_t* image, size_t size, size_t offset, SfxHeader* out)
{
    using namespace sfx_detail;
    if (image == nullptr || out == nullptr || offset > size || size - offset < kSfxHeaderSize)
        return false;
    const uint8_t* p = image + offset;
    std::memcpy(out->eyecatcher, p, 8);
    out->crc32 = get32(p + 8);
    out->archive_offset = get32(p + 12);
    out->stub_length = get32(p + 16);
    out->end_record_offset = get32(p + 20);
    out->total_size = get32(p + 24);
    out->flags = get32(p + 28);
    std::memcpy(out->wait_name, p + 32, 8);
    out->wait_name_end = p[40];
    out->reserved_41 = p[41];
    out->written_marker = get16(p + 42);
    out->header_version = get16(p + 44);
    out->comment_offset = get32(p + 46);
    out->comment_longest_line = p[50];
    out->comment_lines = p[51];
    out->reserved_52 = get16(p + 52);
    out->entry_point = get32(p + 54);
    return true;
}

// Encodes the record at image[offset]; false (nothing written) when it does
// not fit.
inline bool write_sfx_header(const SfxHeader& header, uint8_t* image, size_t size, size_t offset)
{
    using namespace sfx_detail;
    if (image == nullptr || offset > size || size - offset < kSfxHeaderSize)
        return false;
    uint8_t* p = image + offset;
    std::memcpy(p, header.eyecatcher, 8);
    put32(p + 8, header.crc32);
    put32(p + 12, header.archive_offset);
    put32(p + 16, header.stub_length);
    put32(p + 20, header.end_record_offset);
    put32(p + 24, header.total_size);
    put32(p + 28, header.flags);
    std::memcpy(p + 32, header.wait_name, 8);
    p[40] = header.wait_name_end;
    p[41] = header.reserved_41;
    put16(p + 42, header.written_marker);
    put16(p + 44, header.header_version);
    put32(p + 46, header.comment_offset);
    p[50] = header.comment_longest_line;
    p[51] = header.comment_lines;
    put16(p + 52, header.reserved_52);
    put32(p + 54, header.entry_point);
    return true;
}

// Stores an ANSI wait name: all 8 bytes when it has 8 characters, else the
// text and zeros behind it; byte 40 stays 0 either way. A longer name is cut
// to 8 characters and the result is false.
inline bool set_sfx_wait_name(SfxHeader* header, const char* name)
{
    std::memset(header->wait_name, 0, sizeof header->wait_name);
    header->wait_name_end = 0;
    if (name == nullptr)
        return true;
    size_t length = 0;
    while (name[length] != '\0' && length < sizeof header->wait_name)
        ++length;
    std::memcpy(header->wait_name, name, length);
    return name[length] == '\0';
}

// Length of the wait name: up to its NUL, at most 8.
inline size_t sfx_wait_name_length(const SfxHeader& header)
{
    size_t length = 0;
    while (length < sizeof header.wait_name && header.wait_name[length] != '\0')
        ++length;
    return length;
}

// True when the stub's template is new enough for this builder.
inline bool sfx_header_version_supported(const SfxHeader& header)
{
    return header.header_version > kSfxOldestRefusedVersion;
}
