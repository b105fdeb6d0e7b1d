// getfname.cpp -- the file part of a name, as a new string
#include "klib.h"

// Returns a counted copy of the file part, owned by the caller.
char *getFileName(const char *name) { return strCopy(getFileName0(name)); }
