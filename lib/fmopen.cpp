// fmopen.cpp -- open a file whose name may lack its extension
#include "klib.h"

const char *const kgxs[] = {"kgx", "KGX", nullptr};
const char *const ARG_EXT[] = {"arg", "ARG", nullptr};

// Tries the fallback name mkFileName0 makes from name and ext.  A candidate
// too long for the fixed buffer gets a counted block of its own instead, so
// long paths still open; without that block (ALC_ERR suppressed) the
// candidate is not tried.
static FileHandle *openCandidate(const char *name, const char *ext, const char *const *list,
                                 const char *mode)
{
    char fixed[CANDIDATE_SIZE];
    size_t room = mkFileNameRoom(name, ext, list);
    char *candidate = room <= sizeof fixed ? fixed : strAlloc((int32_t)room, "fileMatchOpen");
    if (!candidate)
        return nullptr;
    FileHandle *fh = fileOpen(mkFileName0(name, ext, list, candidate), mode);
    if (candidate != fixed)
        memFree(candidate);
    return fh;
}

// Opens name with the mode, or else each name that the list's entries make
// of it, in list order, and returns the first handle that opens (its name is
// the one that opened), or null.  Failed opens print nothing.  No list is
// taken as an empty one: the name alone is tried.
FileHandle *fileMatchOpen(const char *name, const char *const *list, const char *mode)
{
    errPush(OPEN_ERR);
    FileHandle *fh = fileOpen(name, mode);
    for (int32_t i = 0; !fh && list && list[i]; i++)
        fh = openCandidate(name, list[i], list, mode);
    errPop();
    return fh;
}
