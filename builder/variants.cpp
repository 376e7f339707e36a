// Choosing the stub variant.
#include "builder/variants.h"

const StubVariant* choose_stub_variant(const StubVariant* rows, bool installation_mode,
                                       uint16_t language, uint16_t methods_mask,
                                       uint32_t needs_unicode)
{
    uint16_t wanted = methods_mask;
    if (needs_unicode != 0)
        wanted |= kFeatureUnicode;
    const StubVariant* best = nullptr;
    uint32_t best_size = 0xFFFFFFFFu;
    for (const StubVariant* row = rows; row->type_name; ++row) {
        if ((row->installation_mode != 0) != installation_mode || row->language != language)
            continue;
        if (wanted != 0 && (row->feature_mask & wanted) != wanted)
            continue;
        // A missing image would win as "smallest".
        if (row->image_size == 0)
            continue;
        if (row->image_size < best_size) {
            best = row;
            best_size = row->image_size;
        }
    }
    return best;
}
