// fopen.cpp -- open and close a FileHandle
#include "klib.h"

#include <cstdlib>

static const char CLOSE_ERR[] = "Fail to Close File : %s\n";

// Opens name with the stream mode and returns a new handle owned by the
// caller, with pos 0.  The record counts as FILE_HANDLE_SIZE bytes.  Ends the
// process with 11 when the record cannot be allocated and with 30 when the
// stream cannot be opened; with OPEN_ERR suppressed the latter returns null,
// the record already given back.  A suppressed ALC_ERR also returns null.
FileHandle *fileOpen(const char *name, const char *mode)
{
    allocCounted(FILE_HANDLE_SIZE);
    FileHandle *fh = (FileHandle *)malloc(sizeof *fh);
    if (!fh) {
        allocReport("fileOpen", 1, FILE_HANDLE_SIZE, memCode + 1);
        return nullptr;
    }
    fh->fp = fopen(name, mode);
    if (!fh->fp) {
        memFree(fh);
        errReport(OPEN_ERR, fileCode + 0, name);
        return nullptr;
    }
    fh->line = 0;
    fh->pos = 0;
    fh->name = nullptr;
    fh->fullPath = nullptr;
    fh->name = strCopy(name);
    fh->fullPath = getFullPath(name);
    return fh;
}

// Closes the stream and gives back the names and the record; null is
// ignored.  A failing close ends the process with 31.
void fileClose(FileHandle *fh)
{
    if (!fh)
        return;
    if (fh->fp) {
        if (fclose(fh->fp) == EOF)
            errReport(CLOSE_ERR, fileCode + 1, fh->name);
        fh->fp = nullptr;
    }
    memFree(fh->name);
    memFree(fh->fullPath);
    memFree(fh);
}
