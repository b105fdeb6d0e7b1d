// getpname.cpp -- a whole name without its extension
#include "klib.h"

#include <cstring>

// Returns a counted copy of the whole name cut at its last '.', owned by the
// caller.  Unlike every other name routine this one looks at the whole name,
// so a '.' in a directory counts: models.d/cube gives models.  Null when the
// copy failed with ALC_ERR suppressed.
char *getPathName(const char *name)
{
    char *s = strCopy(name);
    char *dot = s ? strrchr(s, '.') : nullptr;
    if (dot)
        *dot = '\0';
    return s;
}
