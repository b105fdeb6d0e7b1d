// fault_malloc.cpp -- preloaded into keyblend by the fault tests: heap
// request number FAULT_MALLOC_NTH of the process (counted from 1) fails and
// says so on the error stream, so that a test sweeping the number through
// every request knows when it has passed the last one.
#include <cstdlib>
#include <unistd.h>

extern "C" void *__libc_malloc(size_t size);

extern "C" void *malloc(size_t size)
{
    static long nth = -2, calls = 0;  // nth -2: not read yet; -1: fail nothing
    if (nth == -2) {
        const char *s = getenv("FAULT_MALLOC_NTH");  // getenv does not allocate
        nth = s ? atol(s) : -1;
    }
    if (++calls != nth)
        return __libc_malloc(size);
    static const char note[] = "fault_malloc: failed\n";
    if (write(2, note, sizeof note - 1) < 0)
        return nullptr;
    return nullptr;
}
