// getfull.cpp -- canonical absolute path, as a new string
#include "klib.h"

#include <cstring>
#include <unistd.h>

// Bytes the joined path of getFullPath0 needs, never fewer than
// FULL_PATH_SIZE: paths of any length are resolved.
static int32_t fullPathSize(const char *path)
{
    size_t need = strlen(path) + 1;
    if (path[0] != '/') {
        char cwd[FULL_PATH_SIZE];
        if (getcwd(cwd, sizeof cwd))
            need += strlen(cwd) + 1;
    }
    return need > (size_t)FULL_PATH_SIZE ? (int32_t)need : FULL_PATH_SIZE;
}

// Returns the canonical absolute path of path in a counted block owned by
// the caller, labelled with the path (failure: ALLOC_CODE).  The block is
// FULL_PATH_SIZE bytes, or as long as a longer path needs.  Ends the
// process with CWD_CODE or BAD_PATH_CODE as getFullPath0 does.
char *getFullPath(const char *path)
{
    int32_t size = fullPathSize(path);
    char *buffer = strAlloc(size, path);
    if (buffer)
        getFullPath0(path, buffer, size);
    return buffer;
}
