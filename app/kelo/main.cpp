// main.cpp -- kelo's driver: the overview, --help and --version, the
// dispatch to a command and Exit
#include "kelo.h"

#include <cstdlib>
#include <cstring>

static void overview(FILE *fp)
{
    fprintf(fp, "usage: kelo COMMAND [options] ...\n\n"
                "Inspect, check, apply, blend and picture Kelo difference files;\n"
                "convert models from and to Wavefront OBJ.\n\n"
                "commands:\n");
    for (int32_t c = 0; c < COMMANDS; c++)
        fprintf(fp, "  %-8s %s\n", commands[c].name, commands[c].summary);
    fprintf(fp, "\n'kelo COMMAND --help' shows a command's options; "
                "'kelo --version' the version.\n");
    fflush(fp);
}

// Releases every model and difference file still loaded and, for a code
// other than 0, ends the process with it.  The library calls it on its
// fatal reports.
void Exit(int32_t code)
{
    for (KgxModel &m : keloModel)
        modelFree(&m);
    for (KeloFile &f : keloFile)
        keloFree(&f);
    if (code != 0)
        exit(code);
}

static int32_t runCommand(Command cmd, int32_t argc, char **argv)
{
    for (int32_t i = 0; i < argc; i++)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            commandUsage(cmd, stdout);
            return KELO_OK;
        }
    switch (cmd) {
    case CMD_DUMP:
        return cmdDump(argc, argv);
    case CMD_CHECK:
        return cmdCheck(argc, argv);
    case CMD_APPLY:
        return cmdApply(argc, argv);
    case CMD_BLEND:
        return cmdBlend(argc, argv);
    case CMD_SVG:
        return cmdSvg(argc, argv);
    case CMD_IMPORT:
        return cmdImport(argc, argv);
    case CMD_EXPORT:
        return cmdExport(argc, argv);
    case COMMANDS:
        break;
    }
    return KELO_USAGE;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        overview(stderr);
        Exit(KELO_USAGE);
    }
    const char *word = argv[1];
    if (strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0 || strcmp(word, "help") == 0) {
        overview(stdout);
        return KELO_OK;
    }
    if (strcmp(word, "--version") == 0) {
        printf("kelo %s\n", keloVersion);
        return KELO_OK;
    }
    for (int32_t c = 0; c < COMMANDS; c++)
        if (strcmp(word, commands[c].name) == 0) {
            int32_t code = runCommand((Command)c, argc - 2, argv + 2);
            Exit(code);
            return code;
        }
    fprintf(stderr, "kelo: '%s' is not a command\n\n", word);
    overview(stderr);
    Exit(KELO_USAGE);
    return KELO_USAGE;
}
