// The input of a fuzz target handed to a decoder in pieces of one size, as
// the engine's source hands over its blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "stub/engine/bytestream.h"

class FuzzPieceSource : public QlByteSource {
public:
    FuzzPieceSource(const uint8_t* data, size_t size, size_t piece) : data_(data), left_(size), piece_(piece) {}
    int32_t fill(uint8_t* buffer, uint32_t capacity) override
    {
        size_t n = left_ < piece_ ? left_ : piece_;
        n = n < capacity ? n : capacity;
        if (n == 0)
            return 0;
        memcpy(buffer, data_, n);
        data_ += n;
        left_ -= n;
        return static_cast<int32_t>(n);
    }

private:
    const uint8_t* data_;
    size_t left_;
    size_t piece_;
};
