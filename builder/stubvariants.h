// The twenty stub images the builder carries: resource name "SFXHDR", one
// resource type per variant ("SFXHDR_" and the variant code).
#pragma once

#include <cstdint>

// Feature bits, the same as the methods mask of the Zip scan.
const uint16_t kFeatureAes = 0x01;
const uint16_t kFeaturePpmd = 0x02;
const uint16_t kFeatureLzma = 0x04;
const uint16_t kFeatureWavPack = 0x08;
const uint16_t kFeatureJpeg = 0x10;
const uint16_t kFeatureUnicode = 0x20;

struct StubVariant {
    const wchar_t* type_name;  // null in the end row
    uint8_t installation_mode;
    uint16_t language;  // 0 English, 1 German
    uint16_t feature_mask;
    uint32_t image_size;  // filled at start-up from the resource
};

extern StubVariant stub_variants[21];

// Sizes every image from the program's resources; answers the largest size
// (0 when the program carries none).
uint32_t size_stub_images();
