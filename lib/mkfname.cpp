// mkfname.cpp -- a name with a wanted extension, as a new string
#include "klib.h"

// Returns a counted new string owned by the caller: the name with the
// extension (which may start with '.'), decided as mkFilePlan says.  A name
// kept as it is comes from strCopy (failure: COPY_ALLOC_CODE); a built name
// comes from strAlloc labelled with the name when '.' and the extension are
// appended, or "mkFileName" when the extension is completed from a list
// (failure: ALLOC_CODE).
char *mkFileName(const char *name, const char *ext, const char *const *list)
{
    MkPlan plan = mkFilePlan(name, ext, list);
    if (plan.kind == MK_COPY)
        return strCopy(name);
    const char *label = plan.kind == MK_APPEND ? name : "mkFileName";
    char *s = strAlloc((int32_t)(mkPlanLength(&plan) + 1), label);
    return s ? mkPlanFill(name, &plan, s) : nullptr;
}
