// Non-local returns that work with and without C++ exceptions.
//
// The builder, the helper library and the test programs are built with
// exceptions, and these are plain throw and catch. The stub is built without
// them (their tables and runtime would be two fifths of its image): there a
// raise returns to the innermost recovery point through setjmp/longjmp, the
// model of the stub's one recovery point.
//
// On that road nothing between the raise and its recovery point is destroyed,
// so code raises only across frames that hold nothing a later step needs
// released (the stub ends after every fatal return); where a frame holds more,
// qlUnwinding releases it on the way. The raised type is matched exactly (no
// catch by base class), and it must be a small plain value.
//
// Every translation unit of one program must be built the same way; the two
// roads live in different namespaces so that a mix shows as a link error
// rather than as a silent choice between two versions of one function.
#pragma once

#include <new>
#include <utility>

#if defined(__cpp_exceptions) || defined(__EXCEPTIONS)
#define QL_EXCEPTIONS 1
#else
#define QL_EXCEPTIONS 0
#include <setjmp.h>

#include <cstring>
#include <type_traits>
#endif

#if QL_EXCEPTIONS

inline namespace QlRaiseThrows {

template <class E>
[[noreturn]] inline void qlRaise(const E& error)
{
    throw error;
}

// body(); a raised E goes to handler(const E&) instead.
template <class E, class Body, class Handler>
inline void qlCatch(Body&& body, Handler&& handler)
{
    try {
        body();
    } catch (const E& error) {
        handler(error);
    }
}

// body(); anything raised goes to handler() instead.
template <class Body, class Handler>
inline void qlCatchAll(Body&& body, Handler&& handler)
{
    try {
        body();
    } catch (...) {
        handler();
    }
}

// body(); when something is raised through it, cleanup() runs and the raise
// goes on outwards.
template <class Body, class Cleanup>
inline void qlUnwinding(Body&& body, Cleanup&& cleanup)
{
    try {
        body();
    } catch (...) {
        cleanup();
        throw;
    }
}

// new T(args...) for a constructor that may raise.
template <class T, class... Args>
inline T* qlNew(Args&&... args)
{
    return new T(std::forward<Args>(args)...);
}

}  // namespace QlRaiseThrows

#else

inline namespace QlRaiseReturns {

// What a raise hands to its recovery point: the raised type's tag and its
// bytes.
struct QlRaised {
    const void* kind;
    alignas(8) unsigned char bytes[8];
};

// A recovery point: the saved context, the point outside it, and what was
// raised to it. Points form one process-wide stack (the programs built this
// way are single-threaded).
struct QlRecoveryPoint {
    jmp_buf context;
    QlRecoveryPoint* outer;
    QlRaised raised;
};

// One tag per raised type; its address is the type's identity.
template <class E>
struct QlRaiseKind {
    static const char tag;
};
template <class E>
const char QlRaiseKind<E>::tag = 0;

void qlPushRecoveryPoint(QlRecoveryPoint* point);
void qlPopRecoveryPoint(QlRecoveryPoint* point);
// Returns to the innermost recovery point, which it takes off the stack;
// without one, a failed internal check of "QlRaise", then abort.
[[noreturn]] void qlRaiseTo(const QlRaised& raised);

template <class E>
[[noreturn]] inline void qlRaise(const E& error)
{
    static_assert(std::is_trivially_copyable<E>::value && sizeof(E) <= 8 && alignof(E) <= 8,
                  "a raised value must be small and plain");
    QlRaised raised;
    raised.kind = &QlRaiseKind<E>::tag;
    std::memcpy(raised.bytes, &error, sizeof(E));
    qlRaiseTo(raised);
}

// Runs body() with `point` as the innermost recovery point: true when it
// ended normally, false after a raise (the point is then off the stack and
// point.raised holds what was raised). The return lands in this function's
// frame, alive while the body runs; the body runs in a frame of its own, so
// that none of its variables are among those a longjmp leaves undefined.
template <class Body>
[[gnu::noinline]] void qlRunBody(Body& body)
{
    body();
}

template <class Body>
bool qlRunRecoverable(QlRecoveryPoint& point, Body& body)
{
    qlPushRecoveryPoint(&point);
    if (setjmp(point.context) == 0) {
        qlRunBody(body);
        qlPopRecoveryPoint(&point);
        return true;
    }
    return false;
}

template <class E, class Body, class Handler>
inline void qlCatch(Body&& body, Handler&& handler)
{
    QlRecoveryPoint point;
    if (qlRunRecoverable(point, body))
        return;
    if (point.raised.kind != &QlRaiseKind<E>::tag)
        qlRaiseTo(point.raised);
    alignas(E) unsigned char error[sizeof(E)];
    std::memcpy(error, point.raised.bytes, sizeof(E));
    handler(*reinterpret_cast<const E*>(error));
}

template <class Body, class Handler>
inline void qlCatchAll(Body&& body, Handler&& handler)
{
    QlRecoveryPoint point;
    if (!qlRunRecoverable(point, body))
        handler();
}

template <class Body, class Cleanup>
inline void qlUnwinding(Body&& body, Cleanup&& cleanup)
{
    QlRecoveryPoint point;
    if (qlRunRecoverable(point, body))
        return;
    cleanup();
    qlRaiseTo(point.raised);
}

// The storage is given back when the constructor raises.
template <class T, class... Args>
inline T* qlNew(Args&&... args)
{
    void* storage = ::operator new(sizeof(T));
    T* made = nullptr;
    qlUnwinding([&] { made = new (storage) T(std::forward<Args>(args)...); },
                [&] { ::operator delete(storage); });
    return made;
}

}  // namespace QlRaiseReturns

#endif
