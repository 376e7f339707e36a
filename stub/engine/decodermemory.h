// While a decoder takes its large blocks (dictionary, model, sample buffer)
// the program's out-of-memory handler is suspended, so that a failed
// allocation returns null and the decoder answers kQlDecodeNoMemory instead
// of the program ending with the out-of-memory box. Whatever handler the
// program had installed is put back as it was.
//
// Pure code: the handler exists only in the Windows programs; the native
// trees never install one.
#pragma once

#include "common/memory.h"

class QlDecoderMemoryScope {
public:
#ifdef _WIN32
    QlDecoderMemoryScope() : saved_(qlMemSuspendNewHandler()) {}
    ~QlDecoderMemoryScope() { qlMemResumeNewHandler(saved_); }
#else
    QlDecoderMemoryScope() {}
#endif
    QlDecoderMemoryScope(const QlDecoderMemoryScope&) = delete;
    QlDecoderMemoryScope& operator=(const QlDecoderMemoryScope&) = delete;

#ifdef _WIN32
private:
    QlMemHandlerState saved_;
#endif
};
