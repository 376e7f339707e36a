// The test encoder of the JPEG method: the inverse of the stub's decoder.
// It shares the decoder's coder bookkeeping, models, parser and scan layout;
// only the side that builds the code value is its own. Native only, never
// shipped.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "stub/engine/jzipcoder.h"

// The encoder's side of the arithmetic coder: the interval base, one byte
// per position byte, carries running back through it; at the end of each
// segment its bytes go out with a 0x00 after every FF FF pair the decoder
// would take as a carry slot.
class JzipEncodeSide {
public:
    enum { kDecoding = 0 };
    void set_output(std::vector<uint8_t>* out) { out_ = out; }

protected:
    void side_start(int32_t&) { base_.assign(2, 0); }
    void side_expect(int bit, int mps, int32_t& threshold)
    {
        // The decoder's threshold as this decision will find it.
        threshold = bit == mps ? kJzipByte : -1;
    }
    void side_intake(int32_t& position, int32_t&)
    {
        while (position > kJzipByte - 1) {
            base_.push_back(0);
            position -= kJzipByte;
        }
    }
    void side_lps(int32_t position, int32_t&)
    {
        uint32_t carry = jzip_width(position);
        for (size_t i = base_.size(); carry != 0;) {
            if (i == 0)
                std::abort();  // the splits are nested: the base never passes its first bytes
            --i;
            const uint32_t sum = base_[i] + (carry & 0xFF);
            base_[i] = static_cast<uint8_t>(sum);
            carry = (carry >> 8) + (sum >> 8);
        }
    }
    void side_end()
    {
        uint8_t prev = base_[0];
        uint8_t last = base_[1];
        out_->push_back(prev);
        out_->push_back(last);
        if (prev == 0xFF && last == 0xFF) {
            out_->push_back(0);
            last = 0;
        }
        for (size_t i = 2; i < base_.size(); ++i) {
            if (prev == 0xFF && last == 0xFF) {
                out_->push_back(0);
                last = 0;
            }
            prev = last;
            last = base_[i];
            out_->push_back(last);
        }
    }

private:
    std::vector<uint8_t> base_;
    std::vector<uint8_t>* out_ = nullptr;
};

typedef JzipCoder<JzipEncodeSide> JzipEncoder;

struct JpegEncodeOptions {
    uint32_t band_exponent = 0;  // bands of 2^(k + 6) MCUs, 0 all rows
    bool compress = true;        // side blocks as raw LZMA when that is smaller
};

enum JpegEncodeStatus {
    kJpegEncoded = 0,
    kJpegNotBaseline = 1,  // written as one side block: the decoder refuses it
    kJpegFailed = 2,       // nothing usable (see the error text)
};

// The method-96 entry data of a JPEG file.
int jpeg_encode_entry(const std::vector<uint8_t>& jpeg, const JpegEncodeOptions& options,
                      std::vector<uint8_t>* entry, std::string* error);
