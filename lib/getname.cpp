// getname.cpp -- the file part of a name without its extension
#include "klib.h"

#include <cstring>

// Returns a counted copy of the file part cut at its last '.', owned by the
// caller.
char *getName(const char *name)
{
    char *s = getFileName(name);
    char *dot = strrchr(s, '.');
    if (dot)
        *dot = '\0';
    return s;
}
