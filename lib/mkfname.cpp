// mkfname.cpp -- a name with a wanted extension, as a new string
#include "klib.h"

// Returns a counted new string owned by the caller: the name as the plan
// makes it.  A name kept as it is comes from strCopy (failure: 13); a built
// name comes from strAlloc labelled with the name when '.' and an extension
// are appended, or "mkFileName" when the extension is completed from a list
// (failure: 12).
char *mkPlanName(const char *name, const MkPlan *plan)
{
    if (plan->kind == MK_COPY)
        return strCopy(name);
    const char *label = plan->kind == MK_APPEND ? name : "mkFileName";
    char *s = strAlloc((int32_t)(mkPlanLength(plan) + 1), label);
    return s ? mkPlanFill(name, plan, s) : nullptr;
}

// Returns a counted new string owned by the caller: the name with the
// extension (which may start with '.'), decided as mkFilePlan says and
// allocated as mkPlanName says.
char *mkFileName(const char *name, const char *ext, const char *const *list)
{
    MkPlan plan = mkFilePlan(name, ext, list);
    return mkPlanName(name, &plan);
}
