// The fixed tables of the JPEG method's coefficient models and arithmetic
// coder, shared by the decoder and the test encoder.
//
// Pure code: no Windows headers.
#pragma once

#include <cstdint>

enum {
    kJzipContexts = 7083,
    kJzipStates = 49,
    kJzipFixedState = 48,     // context 0's state: it never adapts
    kJzipTopState = 47,       // the highest adaptive state
    kJzipOctave = 1024,       // position units per bit
    kJzipByte = 8192,         // position units per input byte
};

// One row of the state table: the position step of every decision (A), the
// extra step after a less probable symbol (B), the interval granted when the
// state changes (G) and the state steps up (D) and back (E).
struct JzipState {
    uint16_t step;
    uint16_t lps_step;
    uint16_t interval;
    uint8_t up;
    uint8_t back;
};
extern const JzipState kJzipStateTable[kJzipStates];

// The coder's width tables.
struct JzipWidthTables {
    // Interval width at a fraction j / 1024 of an octave (falling, 8192 to 4097).
    uint16_t width[1024];
    // Its inverse: rank[i] counts the widths not above 4096 + i.
    uint16_t rank[4096];
    // Octave of a code value's top bits: 9 for 0, else 8 - floor(log2 index).
    uint8_t octave[512];
};
extern const JzipWidthTables kJzipTables;

// Natural position (row * 8 + column) of each zigzag position.
extern const uint8_t kJzipNatural[64];

// Update lists of the running magnitude sum, by zigzag position: the
// entries kJzipUpdate[kJzipUpdateStart[p]] up to kJzipUpdateStart[p + 1]; a
// negative entry is subtracted.
extern const int8_t kJzipUpdate[357];
extern const uint16_t kJzipUpdateStart[65];
// In-block neighbours (up, left, up-left; DC left out) whose neighbour-block
// coefficients predict position p; -1 ends a list.
extern const int8_t kJzipPrediction[64][4];

inline int jzip_bit_length(uint64_t v)
{
    int n = 0;
    while (v != 0) {
        ++n;
        v >>= 1;
    }
    return n;
}
