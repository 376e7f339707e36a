// Small byte images for the layout tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A minimal 32-bit PE image (DOS header, NT headers at kStubNtOffset, one
// section) that carries a blank header template (eyecatcher, version 8) at
// kStubRecordOffset.
constexpr uint32_t kStubNtOffset = 0x80;
constexpr uint32_t kStubSectionTable = kStubNtOffset + 248;
constexpr size_t kStubRecordOffset = 0x230;
constexpr size_t kStubSize = 0x400;
std::vector<uint8_t> make_stub_image(uint32_t entry_point);

void put_u16(std::vector<uint8_t>& image, size_t at, uint16_t value);
void put_u32(std::vector<uint8_t>& image, size_t at, uint32_t value);
uint32_t get_u32(const std::vector<uint8_t>& image, size_t at);
