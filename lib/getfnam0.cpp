// getfnam0.cpp -- the file part of a name, in place
#include "klib.h"

#include <cstring>

// Returns a pointer into name just behind its last '/', or name itself when
// it has none.  Not a new string: it lives as long as name.
const char *getFileName0(const char *name)
{
    const char *slash = strrchr(name, '/');
    return slash ? slash + 1 : name;
}
