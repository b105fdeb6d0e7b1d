// fault_malloc.cpp -- preloaded into keyblend by the fault tests: every heap
// request of exactly FAULT_MALLOC_SIZE bytes fails, so that one chosen
// allocation of the program (picked by its size) runs out of memory.
#include <cstddef>
#include <cstdlib>

extern "C" void *__libc_malloc(size_t size);

extern "C" void *malloc(size_t size)
{
    static long failSize = -2;  // -2: not read yet; -1: fail nothing
    if (failSize == -2) {
        const char *s = getenv("FAULT_MALLOC_SIZE");  // getenv does not allocate
        failSize = s ? atol(s) : -1;
    }
    return (long)size == failSize ? nullptr : __libc_malloc(size);
}
