// strrcmp.cpp -- suffix test
#include "klib.h"

#include <cstring>

// Returns 0 when b is a suffix of a (an empty b is a suffix of everything),
// else -1.  The comparison is exact, with case.
int32_t strrcmp(const char *a, const char *b)
{
    size_t na = strlen(a), nb = strlen(b);
    if (na < nb)
        return -1;
    return memcmp(a + na - nb, b, nb) == 0 ? 0 : -1;
}
