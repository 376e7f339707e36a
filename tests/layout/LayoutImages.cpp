#include "tests/layout/LayoutImages.h"

#include <cstring>

#include "builder/sfxheader.h"

void put_u16(std::vector<uint8_t>& image, size_t at, uint16_t value)
{
    image.at(at) = static_cast<uint8_t>(value);
    image.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

void put_u32(std::vector<uint8_t>& image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_u32(const std::vector<uint8_t>& image, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | image.at(at + i);
    return value;
}

std::vector<uint8_t> make_stub_image(uint32_t entry_point)
{
    std::vector<uint8_t> image(kStubSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    put_u32(image, 60, kStubNtOffset);

    const size_t nt = kStubNtOffset;
    std::memcpy(&image[nt], "PE\0\0", 4);
    put_u16(image, nt + 4, 0x14C);       // i386
    put_u16(image, nt + 6, 1);           // one section
    put_u16(image, nt + 20, 224);        // SizeOfOptionalHeader
    put_u16(image, nt + 22, 0x0102);     // executable, 32-bit
    const size_t opt = nt + 24;
    put_u16(image, opt, 0x10B);          // PE32
    put_u32(image, opt + 16, entry_point);
    put_u32(image, opt + 28, 0x400000);  // ImageBase
    put_u32(image, opt + 32, 0x1000);    // SectionAlignment
    put_u32(image, opt + 36, 0x200);     // FileAlignment
    put_u32(image, opt + 56, 0x2000);    // SizeOfImage
    put_u32(image, opt + 60, 0x200);     // SizeOfHeaders
    put_u16(image, opt + 68, 2);         // GUI
    put_u32(image, opt + 92, 16);        // NumberOfRvaAndSizes

    const size_t sec = kStubSectionTable;
    std::memcpy(&image[sec], ".data\0\0\0", 8);
    put_u32(image, sec + 8, 0x200);      // VirtualSize
    put_u32(image, sec + 12, 0x1000);    // VirtualAddress
    put_u32(image, sec + 16, 0x200);     // SizeOfRawData
    put_u32(image, sec + 20, 0x200);     // PointerToRawData
    put_u32(image, sec + 36, 0xC0000040);

    std::memcpy(&image[kStubRecordOffset], kSfxEyecatcher, sizeof kSfxEyecatcher);
    put_u16(image, kStubRecordOffset + 44, kSfxHeaderVersion);
    return image;
}
