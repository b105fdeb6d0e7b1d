// fseek.cpp -- position a FileHandle
#include "klib.h"

static const char SEEK_ERR[] = "Seek error \"%s\" at %ld bytes";

// Seeks to offset bytes from the start and returns 1.  A failure (a negative
// offset, say) ends the process with SEEK_CODE whatever the caller
// suppresses, as the key is this routine's own; pos changes only on success.
int32_t fileSeek(FileHandle *fh, int32_t offset)
{
    if (fseek(fh->fp, offset, SEEK_SET) != 0)
        errReport(SEEK_ERR, SEEK_CODE, fh->name, (long)offset);
    fh->pos = offset;
    return 1;
}
