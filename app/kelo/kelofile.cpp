// kelofile.cpp -- read a difference file whole and split it into records
// and variant groups
#include "kelo.h"

#include <cstring>
#include <strings.h>

const char *const kindName[KINDS] = {"vdf", "ndf", "tdf"};
const char *const kindElement[KINDS] = {"vertex", "normal", "primitive"};
const uint32_t kindValues[KINDS] = {4, 4, 8};

// The kind named by a word ("vdf", "ndf", "tdf" in any case), or KIND_NONE.
KeloKind kindFromWord(const char *word)
{
    for (int32_t k = 0; k < KINDS; k++)
        if (word && strcasecmp(word, kindName[k]) == 0)
            return (KeloKind)k;
    return KIND_NONE;
}

// The kind a file name's extension names, or KIND_NONE.
KeloKind kindFromName(const char *name)
{
    return kindFromWord(getExt0(name));
}

// Elements of the object that records of the kind index: vertices, normals
// or primitives.
uint32_t kindElements(const KgxObject *ob, KeloKind kind)
{
    return kind == KIND_VDF ? ob->nVert : kind == KIND_NDF ? ob->nNorm : ob->nPrim;
}

// Value v of element i of the record's run, as the signed 16-bit value
// stored.  The record must have been accepted by keloParse.
int16_t keloValue(const KeloFile *f, const KeloRecord *r, uint32_t element, uint32_t value)
{
    return getLE16(f->image + r->at + 12 + 2 * ((size_t)element * kindValues[f->kind] + value));
}

// Walks the records of f's image, checking that each head and run lies
// inside the file and that the count at offset 0 matches the records
// present, and fills rec and the groups.  A new group begins wherever the
// object index stops increasing.  Returns 1, or 0 with inputProblem and
// inputProblemAt set: the offset of the record that runs past the end, of
// the first record beyond the count, or the file's size when the count
// promises more records than there are.
int32_t keloParse(KeloFile *f)
{
    if (f->size < 4)
        return refuse(0, "only %lu bytes, no room for the record count", (unsigned long)f->size);
    f->nCount = getLE32(f->image);
    uint64_t elementSize = 2 * (uint64_t)kindValues[f->kind];
    uint32_t p = 4, n = 0, beyondCount = 0;
    while (p < f->size) {
        if (n == f->nCount)
            beyondCount = p;
        if (f->size - p < 12)
            return refuse(p, "record %lu: %lu bytes left, too few for a record head",
                          (unsigned long)n, (unsigned long)(f->size - p));
        uint32_t count = getLE32(f->image + p + 8);
        uint64_t bytes = count * elementSize;
        if (bytes > f->size - p - 12)
            return refuse(p, "record %lu: a run of %lu %s elements needs %llu bytes, %lu remain",
                          (unsigned long)n, (unsigned long)count, kindName[f->kind],
                          (unsigned long long)bytes, (unsigned long)(f->size - p - 12));
        p += 12 + (uint32_t)bytes;
        n++;
    }
    if (n < f->nCount)
        return refuse(f->size, "the count at offset 0 promises %lu records, the file ends after %lu",
                      (unsigned long)f->nCount, (unsigned long)n);
    if (n > f->nCount)
        return refuse(beyondCount, "the count at offset 0 says %lu records, but %lu follow",
                      (unsigned long)f->nCount, (unsigned long)n);
    // A record takes 12 bytes of the file but more in memory; keep the
    // index below the size a counted block can have.
    if ((uint64_t)n * sizeof(KeloRecord) > INT32_MAX)
        return refuse(0, "too many records (%lu) to index", (unsigned long)n);
    f->nRec = n;
    f->rec = (KeloRecord *)strAlloc((int32_t)(n * sizeof(KeloRecord)), f->name);
    f->groupAt = (uint32_t *)strAlloc((int32_t)((n + 1) * sizeof(uint32_t)), f->name);
    f->nGroup = 0;
    p = 4;
    for (uint32_t i = 0; i < n; i++) {
        KeloRecord *r = &f->rec[i];
        r->at = p;
        r->obj = getLE32(f->image + p);
        r->first = getLE32(f->image + p + 4);
        r->count = getLE32(f->image + p + 8);
        if (i == 0 || r->obj <= f->rec[i - 1].obj)
            f->groupAt[f->nGroup++] = i;
        r->group = f->nGroup - 1;
        p += 12 + (uint32_t)(r->count * elementSize);
    }
    f->groupAt[f->nGroup] = n;
    return 1;
}

// Reads the difference file name whole into f as the given kind and parses
// it.  Returns 1, or 0 with inputProblem set; f must be freed either way.
// Open and read failures end the process inside the library (30, 42, 43).
int32_t keloLoad(KeloFile *f, const char *name, KeloKind kind)
{
    memset(f, 0, sizeof *f);
    f->kind = kind;
    FileHandle *fh = fileOpen(name, "r");
    f->name = strCopy(fh->name);
    return readWhole(fh, f->name, &f->image, &f->size) && keloParse(f);
}

// Gives back every block of f and leaves it empty.
void keloFree(KeloFile *f)
{
    memFree(f->name);
    memFree(f->image);
    memFree(f->rec);
    memFree(f->groupAt);
    memset(f, 0, sizeof *f);
}
