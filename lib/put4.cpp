// put4.cpp -- write a little-endian 32-bit word through a FileHandle
#include "klib.h"

// Writes the word least significant byte first and flushes, so that every put
// reaches the file system at once and a reader of the output never sees a
// half-written record.  Success is judged on the last byte alone; the flush
// result is not examined.  Returns 1; a failure ends the process with
// PUT4_WRITE_CODE at the position before the call (0 when WRIT_ERR is
// suppressed).  The byte writes and the flush use the glibc forms without the
// stream lock, which a single-threaded program never needs; the flush is
// still one write call.
int32_t put4Bytes(uint32_t value, FileHandle *fh)
{
    (void)putc_unlocked((int)(value & 0xFF), fh->fp);
    (void)putc_unlocked((int)(value >> 8 & 0xFF), fh->fp);
    (void)putc_unlocked((int)(value >> 16 & 0xFF), fh->fp);
    bool ok = putc_unlocked((int)(value >> 24 & 0xFF), fh->fp) != EOF;
    if (ok)
        posAdvance(fh, 4);
    (void)fflush_unlocked(fh->fp);
    if (ok)
        return 1;
    errReport(WRIT_ERR, PUT4_WRITE_CODE, fh->name, (long)fh->pos);
    return 0;
}
