// Help by topic type; in a source of its own so that programs without help
// (the stubs) never link it.
#include "common/memory.h"

void qlHelpByType(void* window, int type)
{
    unsigned context;
    switch (type) {
    case 2: context = 894; break;
    case 3: context = 896; break;
    case 4: context = 898; break;
    default: context = static_cast<unsigned>(type); break;
    }
    qlHostShowHelpContext(window, context);
}
