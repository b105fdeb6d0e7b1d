// dump.cpp -- kelo dump: a difference file as text, as a summary or as JSON
#include "kelo.h"

#include <cstring>

// Largest absolute value of the record's differences; 32768 for -32768.
static uint32_t largest(const KeloFile *f, const KeloRecord *r)
{
    uint32_t most = 0;
    for (uint32_t i = 0; i < r->count; i++)
        for (uint32_t v = 0; v < kindValues[f->kind]; v++) {
            int32_t d = keloValue(f, r, i, v);
            uint32_t a = (uint32_t)(d < 0 ? -d : d);
            if (a > most)
                most = a;
        }
    return most;
}

// Writes s as a JSON string: quotes, backslashes and control bytes escaped.
static void jsonString(const char *s)
{
    putchar('"');
    for (; *s; s++) {
        unsigned char c = (unsigned char)*s;
        if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (c < 0x20)
            printf("\\u%04x", c);
        else
            putchar(c);
    }
    putchar('"');
}

static void dumpText(const KeloFile *f, bool summary)
{
    printf("%s: %s, %lu records, %lu variant groups\n", f->name, kindName[f->kind],
           (unsigned long)f->nRec, (unsigned long)f->nGroup);
    if (summary && f->nRec)
        printf("group  object   first   count  largest\n");
    for (uint32_t i = 0; i < f->nRec; i++) {
        const KeloRecord *r = &f->rec[i];
        if (summary) {
            printf("%5lu %7lu %7lu %7lu %8lu\n", (unsigned long)r->group, (unsigned long)r->obj,
                   (unsigned long)r->first, (unsigned long)r->count,
                   (unsigned long)largest(f, r));
            continue;
        }
        printf("record %lu at offset %lu: group %lu, object %lu, first %lu, count %lu\n",
               (unsigned long)i, (unsigned long)r->at, (unsigned long)r->group,
               (unsigned long)r->obj, (unsigned long)r->first, (unsigned long)r->count);
        for (uint32_t e = 0; e < r->count; e++) {
            printf("  %7lu:", (unsigned long)r->first + e);
            for (uint32_t v = 0; v < kindValues[f->kind]; v++)
                printf(" %6d", keloValue(f, r, e, v));
            putchar('\n');
        }
    }
}

static void dumpJson(const KeloFile *f, bool summary)
{
    printf("{\"file\": ");
    jsonString(f->name);
    printf(", \"kind\": \"%s\", \"count\": %lu, \"groups\": %lu, \"records\": [",
           kindName[f->kind], (unsigned long)f->nRec, (unsigned long)f->nGroup);
    for (uint32_t i = 0; i < f->nRec; i++) {
        const KeloRecord *r = &f->rec[i];
        printf("%s\n  {\"offset\": %lu, \"group\": %lu, \"object\": %lu, \"first\": %lu, "
               "\"count\": %lu, \"largest\": %lu",
               i ? "," : "", (unsigned long)r->at, (unsigned long)r->group,
               (unsigned long)r->obj, (unsigned long)r->first, (unsigned long)r->count,
               (unsigned long)largest(f, r));
        if (!summary) {
            printf(", \"elements\": [");
            for (uint32_t e = 0; e < r->count; e++) {
                printf("%s[", e ? ", " : "");
                for (uint32_t v = 0; v < kindValues[f->kind]; v++)
                    printf("%s%d", v ? ", " : "", keloValue(f, r, e, v));
                putchar(']');
            }
            putchar(']');
        }
        putchar('}');
    }
    printf("%s]}\n", f->nRec ? "\n" : "");
}

// kelo dump [--kind K] [--summary] [--json] FILE.  Returns 0; a malformed
// file ends the process with KELO_BAD_FILE before anything is listed.
int32_t cmdDump(int32_t argc, char **argv)
{
    const char *name = nullptr;
    const char *kindWord = nullptr;
    bool summary = false, json = false;
    for (int32_t i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--kind") == 0)
            kindWord = optionValue(CMD_DUMP, argc, argv, &i);
        else if (strcmp(arg, "--summary") == 0)
            summary = true;
        else if (strcmp(arg, "--json") == 0)
            json = true;
        else if (arg[0] == '-' && arg[1])
            usageError(CMD_DUMP, "unknown option %s", arg);
        else if (name)
            usageError(CMD_DUMP, "one file at a time");
        else
            name = arg;
    }
    if (!name)
        usageError(CMD_DUMP, "no file named");
    KeloKind kind = kindWord ? kindFromWord(kindWord) : kindFromName(name);
    if (kind == KIND_NONE)
        usageError(CMD_DUMP, kindWord ? "unknown kind %s" : "cannot tell the kind of %s; use --kind",
                   kindWord ? kindWord : name);
    loadKeloOrFail(&keloFile[0], name, kind);
    if (json)
        dumpJson(&keloFile[0], summary);
    else
        dumpText(&keloFile[0], summary);
    fflush(stdout);
    return KELO_OK;
}
