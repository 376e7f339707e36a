// While a decoder takes its large blocks (dictionary, model, sample buffer)
// the program's out-of-memory handler is suspended, so that a failed
// allocation returns null and the decoder answers kQlDecodeNoMemory instead
// of the program ending with the out-of-memory box.
//
// Pure code: the handler exists only in the Windows programs; the native
// trees never install one.
#pragma once

#include <new>

#include "common/memory.h"

class QlDecoderMemoryScope {
public:
    QlDecoderMemoryScope() : suspended_(std::get_new_handler() != nullptr)
    {
#ifdef _WIN32
        if (suspended_)
            qlMemClearNewHandler();
#endif
    }
    ~QlDecoderMemoryScope()
    {
#ifdef _WIN32
        if (suspended_)
            qlMemSetNewHandler();
#endif
    }
    QlDecoderMemoryScope(const QlDecoderMemoryScope&) = delete;
    QlDecoderMemoryScope& operator=(const QlDecoderMemoryScope&) = delete;

private:
    bool suspended_;
};
