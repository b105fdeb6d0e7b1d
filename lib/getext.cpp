// getext.cpp -- the extension of a name, as a new string
#include "klib.h"

// Returns a counted copy of the extension, owned by the caller, or null when
// the name has none.
char *getExt(const char *name)
{
    const char *ext = getExt0(name);
    return ext ? strCopy(ext) : nullptr;
}
