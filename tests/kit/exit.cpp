// exit.cpp -- the Exit the support library calls after a fatal report, for
// every test, fuzz driver and benchmark: back to the point a test armed, or
// the end of the process with the report's code, as a tool would end
#include "kit/kit.h"
#include "klib.h"

#include <cstdlib>

std::jmp_buf *kit::exitJump = nullptr;
int32_t kit::exitCode = 0;

void Exit(int32_t code)
{
    if (code == 0)
        return;
    if (kit::exitJump) {
        kit::exitCode = code;
        std::longjmp(*kit::exitJump, code);
    }
    std::exit(code);
}
