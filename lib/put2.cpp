// put2.cpp -- write one little-endian 16-bit value through a FileHandle
#include "klib.h"

// As put4Bytes for two bytes, low byte first: success is judged on the high
// byte, the stream is flushed in every case, and a failure ends the process
// with PUT2_WRITE_CODE at the position before the call (0 when WRIT_ERR is
// suppressed). Unlocked stream calls as in put4Bytes.
int32_t put2Bytes(int16_t value, FileHandle *fh)
{
    uint16_t bits = (uint16_t)value;
    (void)putc_unlocked(bits & 0xFF, fh->fp);
    bool ok = putc_unlocked(bits >> 8, fh->fp) != EOF;
    if (ok)
        posAdvance(fh, 2);
    (void)fflush_unlocked(fh->fp);
    if (ok)
        return 1;
    errReport(WRIT_ERR, PUT2_WRITE_CODE, fh->name, (long)fh->pos);
    return 0;
}
