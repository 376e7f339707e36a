// Reading the PE headers of a stub image held in memory: the entry point that
// the header record repeats, and where the header CRC starts when the file
// carries the added section. Every offset is checked against the image size
// before it is read.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kPeDosHeaderSize = 64;
constexpr uint32_t kPeLfanewOffset = 60;      // e_lfanew in the DOS header
// Signature, file header and the optional header of a 32-bit image.
constexpr uint32_t kPeNtHeadersSize = 248;
constexpr uint32_t kPeEntryPointOffset = 40;  // AddressOfEntryPoint, from e_lfanew
constexpr uint16_t kPe32Magic = 0x10B;

enum class PeStatus {
    Ok,
    NoImage,          // null or shorter than the DOS header
    NoDosHeader,      // no "MZ"
    HeadersOutside,   // e_lfanew + 248 lies beyond the image
    NoPeSignature,    // no "PE\0\0" at e_lfanew
    NotPe32,          // not a 32-bit optional header
};

struct PeHeaders {
    uint32_t nt_offset;             // e_lfanew
    uint16_t section_count;
    uint16_t optional_header_size;
    uint32_t entry_point;           // AddressOfEntryPoint
};

PeStatus read_pe_headers(const uint8_t* image, size_t size, PeHeaders* out);

// The stub image's AddressOfEntryPoint, as the header record keeps it.
bool entry_point_rva(const uint8_t* image, size_t size, uint32_t* rva);

// e_lfanew + 248: the first byte behind the PE headers, so the section table
// is inside the CRC range and the DOS and NT headers (which the added section
// changes) are not.
bool crc_start_offset(const uint8_t* image, size_t size, uint32_t* start);

// The header CRC of a self-extractor: head is the file from offset 0 up to the
// archive offset (stub image with its record, then the configuration block).
// The range starts at 0, or with kSfxFlagPeSection behind the PE headers; the
// record's CRC field (first eyecatcher + 8) counts as 0 whatever it holds.
// False when there is no record or, with the flag, no readable PE headers.
bool sfx_head_crc(const uint8_t* head, size_t size, uint32_t flags, uint32_t* crc);
