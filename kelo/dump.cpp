// dump.cpp -- kelo dump: a difference file as text, as a summary or as JSON
#include "kelo.h"

// Largest absolute value of the record's differences; 32768 for -32768.
static uint32_t largest(const KeloFile &f, const KeloRecord &r)
{
    uint32_t most = 0;
    for (uint32_t i = 0; i < r.count; i++)
        for (uint32_t v = 0; v < keloElementValues(f.kind); v++) {
            int32_t d = f.value(r, i, v);
            uint32_t a = (uint32_t)(d < 0 ? -d : d);
            if (a > most)
                most = a;
        }
    return most;
}

static void dumpText(const KeloFile &f, bool summary)
{
    printf("%s: %s, %zu records, %lu variant groups\n", f.name.c_str(), kindName(f.kind),
           f.rec.size(), (unsigned long)f.groups());
    if (summary && !f.rec.empty())
        printf("group  object   first   count  largest\n");
    for (uint32_t i = 0; i < f.rec.size(); i++) {
        const KeloRecord &r = f.rec[i];
        if (summary) {
            printf("%5lu %7lu %7lu %7lu %8lu\n", (unsigned long)r.group, (unsigned long)r.obj,
                   (unsigned long)r.first, (unsigned long)r.count, (unsigned long)largest(f, r));
            continue;
        }
        printf("record %lu at offset %lu: group %lu, object %lu, first %lu, count %lu\n",
               (unsigned long)i, (unsigned long)r.at, (unsigned long)r.group, (unsigned long)r.obj,
               (unsigned long)r.first, (unsigned long)r.count);
        for (uint32_t e = 0; e < r.count; e++) {
            printf("  %7lu:", (unsigned long)r.first + e);
            for (uint32_t v = 0; v < keloElementValues(f.kind); v++)
                printf(" %6d", f.value(r, e, v));
            putchar('\n');
        }
    }
}

static void dumpJson(const KeloFile &f, bool summary)
{
    printf("{\"file\": %s, \"kind\": \"%s\", \"count\": %zu, \"groups\": %lu, \"records\": [",
           jsonString(f.name).c_str(), kindName(f.kind), f.rec.size(), (unsigned long)f.groups());
    for (uint32_t i = 0; i < f.rec.size(); i++) {
        const KeloRecord &r = f.rec[i];
        printf("%s\n  {\"offset\": %lu, \"group\": %lu, \"object\": %lu, \"first\": %lu, "
               "\"count\": %lu, \"largest\": %lu",
               i ? "," : "", (unsigned long)r.at, (unsigned long)r.group, (unsigned long)r.obj,
               (unsigned long)r.first, (unsigned long)r.count, (unsigned long)largest(f, r));
        if (!summary) {
            printf(", \"elements\": [");
            for (uint32_t e = 0; e < r.count; e++) {
                printf("%s[", e ? ", " : "");
                for (uint32_t v = 0; v < keloElementValues(f.kind); v++)
                    printf("%s%d", v ? ", " : "", f.value(r, e, v));
                putchar(']');
            }
            putchar(']');
        }
        putchar('}');
    }
    printf("%s]}\n", f.rec.empty() ? "" : "\n");
}

// kelo dump FILE [--kind K] [--summary] [--json].  A malformed file lists
// nothing.
Problem cmdDump(const Args &args)
{
    const std::string &name = args.operands[0];
    KeloKind kind;
    if (Problem p = fileKind(name, args, kind))
        return p;
    KeloFile f;
    if (Problem p = keloLoad(name, kind, f))
        return p;
    if (args.has(OPT_JSON))
        dumpJson(f, args.has(OPT_SUMMARY));
    else
        dumpText(f, args.has(OPT_SUMMARY));
    return {};
}
