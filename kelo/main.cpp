// main.cpp -- kelo's program: the standard descriptors, the run, and the
// Exit the support library is linked with
#include "kelo.h"

#include <csignal>
#include <cstdlib>

// kelo calls none of the library's routines that report their own failures
// (every problem is kelo's, reported by reportProblem), but the library's
// report procedure comes with msgPrint and needs an Exit: as the library's
// contract asks, it ends the process for codes other than 0.
void Exit(int32_t code)
{
    if (code != 0)
        exit(code);
}

int main(int argc, char **argv)
{
    // A write past a file size limit must fail (EFBIG) and end kelo with its
    // code, the earlier file at the target kept, whatever disposition kelo
    // was started with: by default SIGXFSZ would end it inside that write.
    signal(SIGXFSZ, SIG_IGN);
    // No file kelo opens may take the place of a closed standard stream.
    if (!stdDescriptorsOpen())
        return reportProblem(
            problemIn(KELO_NO_OPEN, "", "cannot open /dev/null for a closed standard stream"));
    return keloMain(argc, argv);
}
