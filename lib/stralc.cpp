// stralc.cpp -- counted allocation, string copies and case conversion
#include "klib.h"

#include <cstdlib>
#include <cstring>

int32_t allocTotal = 0;
int32_t allocCount = 0;
int32_t freeCount = 0;

// Counts a request before it is made, so a failed one is counted too.  The
// counters wrap rather than overflow.
void allocCounted(int32_t size)
{
    allocTotal = (int32_t)((uint32_t)allocTotal + (uint32_t)size);
    allocCount = (int32_t)((uint32_t)allocCount + 1u);
}

// Reports ALC_ERR with the counters as they stand.
void allocReport(const char *label, int32_t size, long factor, int32_t code)
{
    errReport(ALC_ERR, code, label, (int)size, factor, (long)allocCount, (long)freeCount,
              (long)allocTotal);
}

// Returns a counted block of size bytes owned by the caller.  A failure ends
// the process with ALLOC_CODE naming the label ("strAlloc" when there is none);
// with ALC_ERR suppressed it returns null.  A request for 0 bytes gets a
// block all the same; a negative size always fails.
char *strAlloc(int32_t size, const char *label)
{
    allocCounted(size);
    void *block = size >= 0 ? malloc(size > 0 ? (size_t)size : 1) : nullptr;
    if (!block)
        allocReport(label ? label : "strAlloc", size, 1, ALLOC_CODE);
    return (char *)block;
}

// Returns a counted copy of s owned by the caller.  Its allocation failure is
// reported here, once, with COPY_ALLOC_CODE, and never by strAlloc with
// ALLOC_CODE.
char *strCopy(const char *s)
{
    int32_t size = (int32_t)(strlen(s) + 1);
    errPush(ALC_ERR);
    char *copy = strAlloc(size, s);
    errPop();
    if (!copy) {
        allocReport(s, size, 1, COPY_ALLOC_CODE);
        return nullptr;
    }
    memcpy(copy, s, (size_t)size);
    return copy;
}

// Case conversion of ASCII letters only, whatever the locale.
void makeUpper(char *s)
{
    for (; *s; s++)
        if (*s >= 'a' && *s <= 'z')
            *s = (char)(*s - 'a' + 'A');
}

void makeLower(char *s)
{
    for (; *s; s++)
        if (*s >= 'A' && *s <= 'Z')
            *s = (char)(*s - 'A' + 'a');
}

void freeCounted(void *block)
{
    free(block);
    freeCount = (int32_t)((uint32_t)freeCount + 1u);
}
