// main.cpp -- kelo's program: the standard descriptors, the run, and the
// Exit the support library calls on its own fatal reports
#include "kelo.h"

#include <cstdlib>

// kelo holds nothing the library would need to release: it only ends the
// process, as the library's contract asks for codes other than 0.
void Exit(int32_t code)
{
    if (code != 0)
        exit(code);
}

int main(int argc, char **argv)
{
    // No file kelo opens may take the place of a closed standard stream.
    if (!stdDescriptorsOpen()) {
        msgPrint(stderr, "kelo: cannot open /dev/null for a closed standard stream\n");
        return KELO_NO_OPEN;
    }
    return keloMain(argc, argv);
}
