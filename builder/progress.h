// The progress display's arithmetic: byte counts scaled to the Meter's
// 16-bit words, and the rule that decides whether an operation is slow
// enough to deserve a meter. Pure code.
#pragma once

#include <cstdint>

// The Meter's range for a total: the total itself while it fits in 16 bits,
// else 0xFFFF.
uint16_t meter_range(uint64_t total);
// A position in the range: exact while the total fits, else scaled down;
// 0 for 0, the range for the total and beyond, never decreasing.
uint16_t meter_position(uint64_t position, uint64_t total);

// The display rule. The clock starts with the operation; once more than
// 300 ms have passed and the position is not 0, the meter is decided once:
// shown when position * 100 / total / (elapsed_ms / 100) is at most 4 (the
// operation is slow), else hidden for the rest of it.
enum MeterVerdict {
    kMeterUndecided,
    kMeterShow,
    kMeterHide,
};

class MeterRule {
public:
    void start(uint32_t total, uint32_t now_ms);
    // Decided at once (spanning shows its meter from the start).
    void decide_now() { verdict_ = kMeterShow; }
    // The verdict after this step; a decided verdict never changes.
    MeterVerdict step(uint32_t position, uint32_t now_ms);
    MeterVerdict verdict() const { return verdict_; }

private:
    uint32_t total_ = 0;
    uint32_t start_ms_ = 0;
    MeterVerdict verdict_ = kMeterUndecided;
};
