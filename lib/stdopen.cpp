// stdopen.cpp -- make sure the standard descriptors are open
#include "klib.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that the files a program opens next never land on them: an output opened
// on descriptor 2 would receive the program's messages.  Call it before
// anything else is opened.  Returns false when a closed descriptor could not
// be filled (no /dev/null); the descriptors before it are then open.
bool stdDescriptorsOpen(void)
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free descriptor is taken, and every lower one is open,
        // so the open gets fd or fails.
        if (open("/dev/null", O_RDWR) != fd)
            return false;
    }
    return true;
}
