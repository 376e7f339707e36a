// The LZMA SDK's C decoder. On Windows its Types.h pulls in <windows.h> for
// types that its decoder interface never uses; the glue is pure code, so the
// header is read as on any other system.
#pragma once

#include <cstddef>

#pragma push_macro("_WIN32")
#undef _WIN32
#include <LzmaDec.h>
#pragma pop_macro("_WIN32")
