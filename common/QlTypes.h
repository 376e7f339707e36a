// Basic types shared by every source of the system.
//
// Text is UTF-16 everywhere. On Windows a text unit is wchar_t, so that Win32
// calls take library text without casts; in the native build of the pure code
// (where wchar_t has 32 bits) it is char16_t. Portable code writes its text
// units as QlChar and its literals with QL("...").
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
typedef wchar_t QlChar;
#define QL_CAT_(p, s) p##s
#define QL(s) QL_CAT_(L, s)
#else
typedef char16_t QlChar;
#define QL_CAT_(p, s) p##s
#define QL(s) QL_CAT_(u, s)
#endif

static_assert(sizeof(QlChar) == 2, "text units are UTF-16");
