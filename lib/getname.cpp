// getname.cpp -- the file part of a name without its extension
#include "klib.h"

#include <cstring>

// Returns a counted copy of the file part cut at its last '.', owned by the
// caller, or null when the copy failed with ALC_ERR suppressed.
char *getName(const char *name)
{
    char *s = getFileName(name);
    char *dot = s ? strrchr(s, '.') : nullptr;
    if (dot)
        *dot = '\0';
    return s;
}
