// The variant switches of this build: mode, language and decoding features,
// set per image by the build as compile definitions.
#pragma once

#ifndef QL_SFX_INSTALL
#error "QL_SFX_INSTALL (1 installation mode, 0 standard mode) must be defined"
#endif
#ifndef QL_SFX_GERMAN
#define QL_SFX_GERMAN 0
#endif
// Feature bits, the same as the builder's variant table.
#ifndef QL_SFX_FEATURES
#define QL_SFX_FEATURES 0
#endif
// 1 in the one narrow-character image (sfxhead.cpp, sfxansi.cpp).
#ifndef QL_SFX_NARROW
#define QL_SFX_NARROW 0
#endif
#define QL_SFX_HAS_AES ((QL_SFX_FEATURES & 0x01) != 0)
#define QL_SFX_HAS_PPMD ((QL_SFX_FEATURES & 0x02) != 0)
#define QL_SFX_HAS_LZMA ((QL_SFX_FEATURES & 0x04) != 0)
#define QL_SFX_HAS_WAVPACK ((QL_SFX_FEATURES & 0x08) != 0)
#define QL_SFX_HAS_JPEG ((QL_SFX_FEATURES & 0x10) != 0)
#define QL_SFX_UNICODE ((QL_SFX_FEATURES & 0x20) != 0)
