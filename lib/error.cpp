// error.cpp -- error keys, the suppression list, fatal reports and warnings
#include "klib.h"

#include <cstdarg>

const char OPEN_ERR[] = "Cannot open: \"%s\"\n";
const char ALC_ERR[] = "Alloc Error: \"%s\" %d x %ld(+%ld-%ld:sum=%ld)\n";
const char EOF_ERR[] = "Unexpected EOF: \"%s\" at %ld bytes\n";
const char READ_ERR[] = "Fail to read: \"%s\" at %ld bytes\n";
const char WRIT_ERR[] = "Fail to write: \"%s\" at %ld bytes\n";
const char EOT_ERR[] = "Unexpected EOF: \"%s\" line=%ld\n";
const char RTXT_ERR[] = "Fail to read: \"%s\" line=%ld\n";
const char ARG_ERR[] = "Bad argument: %s %s\n";
const char FORM_ERR[] = "\"%s\" is not a %s file\n";
const char VER_ERR[] = "\"%s\" has a bad version: %s\n";
const char SYN_ERR[] = "Syntax Error: %s line=%ld \"%s\"\n";
const char LEAK_ERR[] = "Memory leak!: %ld times @ %s\n";
const char WARN_MSG[] = "WARNING: ";

ErrKey _ignoreErr_[IGNORE_MAX];
int32_t _igno_ = 0;

// A push onto a full list is counted but not stored, so that pushes and pops
// stay paired.  The key is then simply not suppressed: its failure is
// reported and ends the process, loud rather than silent.
void errPush(ErrKey key)
{
    if (_igno_ < IGNORE_MAX)
        _ignoreErr_[_igno_] = key;
    _igno_++;
}

// An extra pop is harmless: the count never drops below 0.
void errPop(void)
{
    if (--_igno_ < 0)
        _igno_ = 0;
}

// True when the key itself (not merely an equal text) is on the list.
bool errIgnored(ErrKey key)
{
    for (int32_t i = 0; i < _igno_ && i < IGNORE_MAX; i++)
        if (_ignoreErr_[i] == key)
            return true;
    return false;
}

// Prints an empty line and the key's text formatted with the arguments on
// the error stream and ends the process through Exit with the code.  Returns
// only when the key is suppressed, having printed nothing.
void errReport(ErrKey key, int32_t code, ...)
{
    if (errIgnored(key))
        return;
    va_list ap;
    va_start(ap, code);
    fputs("\n", stderr);
    vfprintf(stderr, key, ap);
    va_end(ap);
    fflush(stderr);
    Exit(code);
}

// Prints a line (or a part of one) and flushes the stream at once, so that
// standard output and the error stream interleave in time order.
void msgPrint(FILE *fp, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    vfprintf(fp, format, ap);
    va_end(ap);
    fflush(fp);
}
