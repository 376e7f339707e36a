// The JPEG method's adaptive binary arithmetic coder. The coding position J
// counts information in 1/1024 bit (one byte is 8192); the interval at J is
// width(J) = kJzipTables.width[J % 1024] << (7 - J / 1024) units of the last
// byte taken. A decision in a context of state s moves J on by A[s]; its more
// probable symbol keeps the lower part of width(J + A), the less probable one
// the rest, of width(J + A + B).
//
// One coder serves both directions: JzipCoder<Side> runs the context and
// state bookkeeping, and its Side either reads the code value (the decoder)
// or builds it (the test encoder), so the two cannot drift apart.
//
// Pure code: no Windows headers.
#pragma once

#include <cstdint>

#include "stub/engine/jziptables.h"

// One context: its state, the less probable symbols since its last state
// step, its more probable symbol and the interval it has left.
struct JzipContext {
    uint8_t state;
    uint8_t run;
    uint8_t mps;
    int16_t interval;
};

inline uint32_t jzip_width(int32_t position)
{
    return static_cast<uint32_t>(kJzipTables.width[position & 1023]) << (7 - (position >> 10));
}

// The first position whose width is not above `value` (in units of the last
// byte taken; 8192 when the value is too small to tell): decisions below it
// keep the more probable symbol.
inline int32_t jzip_threshold(uint32_t value)
{
    const uint32_t top = (value >> 12) & 0x1FF;
    if (top == 0)
        return kJzipByte;
    const int e = kJzipTables.octave[top];
    return 1024 * e - kJzipTables.rank[(value >> (8 - e)) & 0xFFF];
}

// The decoder's side: the code value V (the code minus the interval base, in
// units of the last byte taken) and its threshold H, the first position whose
// width is not above V.
class JzipDecodeSide {
public:
    enum { kDecoding = 1 };
    typedef int (*ReadByte)(void* context);  // throws when the input ends

    JzipDecodeSide() = default;
    void set_input(ReadByte read, void* context)
    {
        read_ = read;
        read_context_ = context;
    }

protected:
    void side_start(int32_t& threshold)
    {
        prev_ = static_cast<uint8_t>(read_(read_context_));
        last_ = static_cast<uint8_t>(read_(read_context_));
        value_ = (static_cast<uint32_t>(prev_) << 8) | last_;
        if (value_ == 0xFFFF) {
            // A stuffed byte after a leading FF FF.
            last_ = static_cast<uint8_t>(read_(read_context_));
            prev_ = 0xFF;
        }
        threshold = compute_threshold();
    }
    void side_expect(int, int, int32_t&) {}
    void side_end() {}
    void side_intake(int32_t& position, int32_t& threshold)
    {
        while (position > kJzipByte - 1) {
            if (prev_ == 0xFF && last_ == 0xFF) {
                // After FF FF the writer puts a byte that adds to the value.
                const uint8_t c = static_cast<uint8_t>(read_(read_context_));
                value_ += c;
                last_ = c;
            }
            prev_ = last_;
            last_ = static_cast<uint8_t>(read_(read_context_));
            value_ = (value_ << 8) | last_;
            position -= kJzipByte;
        }
        threshold = compute_threshold();
    }
    void side_lps(int32_t position, int32_t& threshold)
    {
        value_ -= jzip_width(position);
        threshold = compute_threshold();
    }

private:
    int32_t compute_threshold() const { return jzip_threshold(value_); }

    ReadByte read_ = nullptr;
    void* read_context_ = nullptr;
    uint32_t value_ = 0;
    uint8_t prev_ = 0;
    uint8_t last_ = 0;
};

template <class Side>
class JzipCoder : public Side {
public:
    // `contexts` holds kJzipContexts records; reset() starts them.
    explicit JzipCoder(JzipContext* contexts) : contexts_(contexts) { reset(); }

    void reset()
    {
        for (int k = 0; k < kJzipContexts; ++k)
            contexts_[k] = JzipContext{0, 0, 0, 0x4000};
        contexts_[0].state = kJzipFixedState;
        current_ = nullptr;
    }

    // Restarts on the next bytes; the contexts keep what they learnt.
    void start_segment()
    {
        current_ = nullptr;
        position_ = 4097;
        limit_ = 4097;
        this->side_start(threshold_);
    }

    void end_segment()
    {
        if (current_ != nullptr)
            current_->interval = static_cast<int16_t>(limit_ - position_);
        current_ = nullptr;
        if (position_ >= kJzipByte)
            this->side_intake(position_, threshold_);
        this->side_end();
    }

    // One decision in context k: the decoder answers the bit it reads, the
    // encoder codes `bit` and answers it.
    int code(int k, int bit)
    {
        select(k);
        JzipContext& c = *current_;
        this->side_expect(bit, c.mps, threshold_);
        const JzipState& st = kJzipStateTable[c.state];
        position_ += st.step;
        if (position_ < threshold_ && position_ < limit_)
            return c.mps;
        if (position_ < threshold_) {
            // The context's interval is used up.
            mps_state_step(c);
            return c.mps;
        }
        int32_t left = limit_ - position_;
        if (position_ > kJzipByte - 1)
            this->side_intake(position_, threshold_);
        if (position_ < threshold_) {
            limit_ = position_ + left;
            if (left <= 0)
                mps_state_step(c);
            return c.mps;
        }
        const int lps = 1 - c.mps;
        this->side_lps(position_, threshold_);
        position_ += st.lps_step;
        c.run = static_cast<uint8_t>(c.run + 1);
        if (c.run > 10 && c.state < kJzipFixedState)
            left = lps_state_step(c, left);
        else if (left < 0)
            left = 0;
        limit_ = position_ + left;
        return lps;
    }

private:
    void select(int k)
    {
        JzipContext* next = &contexts_[k];
        if (next == current_)
            return;
        if (current_ != nullptr)
            current_->interval = static_cast<int16_t>(limit_ - position_);
        current_ = next;
        set_limit(next->interval);
    }

    void set_limit(int32_t interval)
    {
        limit_ = position_ + interval;
        if (limit_ > 0x7FFF && position_ > kJzipByte - 1) {
            this->side_intake(position_, threshold_);
            limit_ = position_ + interval;
        }
    }

    // After the interval of a run of more probable symbols: up the states,
    // the further the fewer less probable symbols came. The step stops at
    // the top adaptive state (48 is context 0's fixed state, and reaching it
    // would freeze the context).
    void mps_state_step(JzipContext& c)
    {
        int s = c.state;
        if (s < kJzipTopState) {
            const int old = s;
            if (c.run <= 5)
                s = old + 1;
            if (c.run <= 1)
                s = old + 1 + kJzipStateTable[old].up;
            if (s > kJzipTopState)
                s = kJzipTopState;
            if (c.run == 0)
                s += kJzipStateTable[s].up;
            if (s > kJzipTopState)
                s = kJzipTopState;
            c.state = static_cast<uint8_t>(s);
        }
        c.run = 0;
        set_limit(kJzipStateTable[c.state].interval);
    }

    // After too many less probable symbols: back down, by how much of the
    // interval was left; at state 0 the symbols swap. Answers the new
    // interval.
    int32_t lps_state_step(JzipContext& c, int32_t left)
    {
        int s = c.state;
        const int32_t g = kJzipStateTable[s].interval;
        int pending = 0;
        if (left < (g >> 1)) {
            for (int n = left < (g >> 2) ? 1 : 2; n > 0; --n) {
                if (s == 0)
                    ++pending;
                else
                    --s;
            }
        } else {
            if (g - left <= (g >> 2))
                s -= kJzipStateTable[s].back;
            if (s < 0)
                s = 0;
            s -= kJzipStateTable[s].back;
            if (s < 0)
                s = 0;
        }
        if (s == 0) {
            c.mps ^= 1;
            s = pending;
        }
        c.state = static_cast<uint8_t>(s);
        c.run = 0;
        return kJzipStateTable[s].interval;
    }

    JzipContext* contexts_;
    JzipContext* current_ = nullptr;
    int32_t position_ = 4097;   // J
    int32_t limit_ = 4097;      // L: where the current context's interval ends
    int32_t threshold_ = 0;     // H
};

typedef JzipCoder<JzipDecodeSide> JzipDecoder;
