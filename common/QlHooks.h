// The two error hooks of the common library.
//
// The library never ends the program itself: a failed internal check calls the
// host's assertion handler and a failed Win32 call the host's Win32-error
// handler, each with the source name and the line. The library only declares
// them; every program (builder, stub, test program) defines both.
#pragma once

void qlHostAssert(const char* source, int line);
void qlHostWin32Error(const char* source, int line);

// Reports a failed check and evaluates to the condition, so that the caller
// can go on with the safe path:  if (!qlCheck(n >= 0, kSource, kLine)) return;
inline bool qlCheck(bool condition, const char* source, int line)
{
    if (!condition)
        qlHostAssert(source, line);
    return condition;
}
