// mkfname0.cpp -- a name with a wanted extension, in the caller's buffer
#include "klib.h"

#include <cstring>

// Decides what mkFileName and mkFileName0 make of a name.  An existing
// extension is never replaced by the one asked for: it is kept, or completed
// to the first list entry that ends with it (an empty extension is the tail
// of every entry).  A name without extension gets '.' and the extension.
MkPlan mkFilePlan(const char *name, const char *ext, const char *const *list)
{
    if (*ext == '.')
        ext++;
    const char *cur = getExt0(name);
    if (!cur)
        return {MK_APPEND, strlen(name), true, ext};
    if (strcmp(cur, ext) != 0 && list) {
        for (; *list; list++) {
            if (strrcmp(*list, cur) == 0) {
                const char *entry = **list == '.' ? *list + 1 : *list;
                return {MK_COMPLETE, (size_t)(cur - name), false, entry};
            }
        }
    }
    return {MK_COPY, strlen(name), false, ""};
}

// Length of the name a plan makes, terminator not included.
size_t mkPlanLength(const MkPlan *plan)
{
    return plan->keep + (plan->dot ? 1 : 0) + strlen(plan->tail);
}

// Writes the name a plan makes into buffer, which must hold it, and returns
// buffer.
char *mkPlanFill(const char *name, const MkPlan *plan, char *buffer)
{
    char *p = buffer;
    memcpy(p, name, plan->keep);
    p += plan->keep;
    if (plan->dot)
        *p++ = '.';
    strcpy(p, plan->tail);
    return buffer;
}

// Bytes mkFileName0 writes for name with ext and list, terminator included:
// exactly, so that a candidate that fits a fixed buffer is built there.
size_t mkFileNameRoom(const char *name, const char *ext, const char *const *list)
{
    MkPlan plan = mkFilePlan(name, ext, list);
    return mkPlanLength(&plan) + 1;
}

// Writes what mkFileName would return into buffer, which must hold it, and
// returns buffer.  Nothing is allocated or counted.
char *mkFileName0(const char *name, const char *ext, const char *const *list, char *buffer)
{
    MkPlan plan = mkFilePlan(name, ext, list);
    return mkPlanFill(name, &plan, buffer);
}
