// The progress display's arithmetic.
#include "builder/progress.h"

namespace {

const uint64_t kMeterMax = 0xFFFF;
const uint32_t kUndecidedMs = 300;
const uint64_t kSlowPercentPerTenth = 4;

}  // namespace

uint16_t meter_range(uint64_t total)
{
    return static_cast<uint16_t>(total < kMeterMax ? total : kMeterMax);
}

uint16_t meter_position(uint64_t position, uint64_t total)
{
    if (total == 0)
        return 0;
    if (position >= total)
        return meter_range(total);
    if (total <= kMeterMax)
        return static_cast<uint16_t>(position);
    // Both halved alike until the product below fits in 64 bits.
    while (total > 0xFFFFFFFFull) {
        total >>= 1;
        position >>= 1;
    }
    // Short of the total, short of the range: halving may have made the two equal.
    uint64_t at = position * kMeterMax / total;
    return static_cast<uint16_t>(at < kMeterMax ? at : kMeterMax - 1);
}

void MeterRule::start(uint32_t total, uint32_t now_ms)
{
    total_ = total;
    start_ms_ = now_ms;
    verdict_ = kMeterUndecided;
}

MeterVerdict MeterRule::step(uint32_t position, uint32_t now_ms)
{
    if (verdict_ != kMeterUndecided || total_ == 0 || position == 0)
        return verdict_;
    uint32_t elapsed = now_ms - start_ms_;
    if (elapsed <= kUndecidedMs)
        return verdict_;
    uint64_t percent = static_cast<uint64_t>(position) * 100 / total_;
    verdict_ = percent / (elapsed / 100) <= kSlowPercentPerTenth ? kMeterShow : kMeterHide;
    return verdict_;
}
