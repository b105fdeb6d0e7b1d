// fault_malloc.cpp -- preloaded into a tool by the fault tests: heap
// request number FAULT_MALLOC_NTH of the process (counted from 1) fails and
// says so on the error stream, so that a test sweeping the number through
// every request knows when it has passed the last one.
#include <cstdlib>
#include <unistd.h>

extern "C" void *__libc_malloc(size_t size);

extern "C" void *malloc(size_t size)
{
    static const char *nth = getenv("FAULT_MALLOC_NTH");  // getenv does not allocate
    static long calls = 0;
    if (!nth || ++calls != atol(nth))
        return __libc_malloc(size);
    static const char note[] = "fault_malloc: failed\n";
    return write(2, note, sizeof note - 1) ? nullptr : nullptr;
}
