// getext0.cpp -- the extension of a name, in place
#include "klib.h"

#include <cstring>

// Returns a pointer into name just behind the last '.' of its file part, or
// null when the file part has no '.'.  A '.' in a directory never starts an
// extension.
const char *getExt0(const char *name)
{
    const char *dot = strrchr(getFileName0(name), '.');
    return dot ? dot + 1 : nullptr;
}
