// The decoders of this build's variant, by its feature bits (QL_SFX_FEATURES,
// stub/sfxvariant.h); the build links the libraries of the same bits. A slot
// left null makes the method's entries "Unsupported compression method".
#pragma once

#include "stub/engine/unzip.h"
#include "stub/sfxvariant.h"

#if QL_SFX_HAS_AES
#include "stub/engine/unzipaes.h"
#endif
#if QL_SFX_HAS_LZMA
#include "stub/engine/lzmadec.h"
#endif
#if QL_SFX_HAS_PPMD
#include "stub/engine/ppmddec.h"
#endif
#if QL_SFX_HAS_JPEG
#include "stub/engine/junzip.h"
#endif
#if QL_SFX_HAS_WAVPACK
#include "stub/engine/wunpack.h"
#endif

inline SfxDecoders sfx_variant_decoders()
{
    SfxDecoders decoders;
#if QL_SFX_HAS_LZMA
    decoders.lzma = lzma_decode_entry;
#endif
#if QL_SFX_HAS_PPMD
    decoders.ppmd = ppmd_decode_entry;
#endif
#if QL_SFX_HAS_JPEG
    decoders.jpeg = jpeg_decode_entry;
#endif
#if QL_SFX_HAS_WAVPACK
    decoders.wavpack = wavpack_decode_entry;
#endif
    return decoders;
}
