// model.cpp -- load, check, build, copy and save KGX models as byte images
#include "model.h"

#include <cstdarg>
#include <cstring>
#include <sys/stat.h>

const char *inputProblem = nullptr;
uint32_t inputProblemAt = 0;
static char problemText[256];

int32_t refuse(uint32_t at, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    vsnprintf(problemText, sizeof problemText, format, ap);
    va_end(ap);
    inputProblem = problemText;
    inputProblemAt = at;
    return 0;
}

// True when n elements of size bytes from offset at lie inside the image.
// 64-bit arithmetic, so that no table value can wrap around into range.
static bool fits(const KgxModel *m, uint64_t at, uint64_t n, uint64_t size)
{
    return at <= m->size && n * size <= m->size - at;
}

// Walks the primitive area of object o from its first header and returns
// the number of primitives that lie wholly inside the image; fills offsets
// when it is given.  Stops at the first primitive that does not fit.
static uint32_t walkPrimitives(const KgxModel *m, const KgxObject *ob, uint32_t *offsets)
{
    uint64_t p = ob->primAt;
    uint32_t j = 0;
    for (; j < ob->nPrim; j++) {
        if (!fits(m, p, 1, 4))
            break;
        uint64_t bytes = 4 + 4 * (uint64_t)packetWords(getLE32(m->image + p));
        if (!fits(m, p, 1, bytes))
            break;
        if (offsets)
            offsets[j] = (uint32_t)p;
        p += bytes;
    }
    return j;
}

// Checks the header, the object table and every object's arrays against the
// image size and fills obj and prim.  Returns 1, or 0 with inputProblem and
// inputProblemAt set (the offset of the word that points outside the file,
// or of the primitive whose packet does).  m->image and m->size must be set;
// obj and prim must be empty.
int32_t modelParse(KgxModel *m)
{
    if (m->size < KGX_TABLE)
        return refuse(m->size, "only %lu bytes, shorter than the 12-byte header",
                      (unsigned long)m->size);
    if (m->image[0] != KGX_ID)
        return refuse(0, "first byte is 0x%02x, not 0x41: not a KGX model", m->image[0]);
    m->flags = getLE32(m->image + 4);
    m->nObj = getLE32(m->image + 8);
    if (!fits(m, KGX_TABLE, m->nObj, KGX_ENTRY))
        return refuse(8, "the table of %lu objects runs past the end of the file (%lu bytes)",
                      (unsigned long)m->nObj, (unsigned long)m->size);
    if ((uint64_t)m->nObj * sizeof(KgxObject) > INT32_MAX)
        return refuse(8, "too many objects (%lu) to index", (unsigned long)m->nObj);
    m->obj = (KgxObject *)strAlloc((int32_t)(m->nObj * sizeof(KgxObject)), m->name);
    uint64_t nPrimAll = 0;
    for (uint32_t o = 0; o < m->nObj; o++) {
        KgxObject *ob = &m->obj[o];
        uint32_t entry = KGX_TABLE + KGX_ENTRY * o;
        const unsigned char *w = m->image + entry;
        ob->vertTop = getLE32(w);
        ob->nVert = getLE32(w + 4);
        ob->normTop = getLE32(w + 8);
        ob->nNorm = getLE32(w + 12);
        ob->primTop = getLE32(w + 16);
        ob->nPrim = getLE32(w + 20);
        ob->scale = getLE32(w + 24);
        uint64_t vertAt = (uint64_t)KGX_TABLE + ob->vertTop;
        uint64_t normAt = (uint64_t)KGX_TABLE + ob->normTop;
        uint64_t primAt = (uint64_t)KGX_TABLE + ob->primTop;
        if (!fits(m, vertAt, ob->nVert, KGX_ELEMENT))
            return refuse(entry, "object %lu: %lu vertices at offset %llu run past the end",
                          (unsigned long)o, (unsigned long)ob->nVert,
                          (unsigned long long)vertAt);
        if (!fits(m, normAt, ob->nNorm, KGX_ELEMENT))
            return refuse(entry + 8, "object %lu: %lu normals at offset %llu run past the end",
                          (unsigned long)o, (unsigned long)ob->nNorm,
                          (unsigned long long)normAt);
        if (ob->nPrim && !fits(m, primAt, 1, 4))
            return refuse(entry + 16, "object %lu: primitives at offset %llu lie past the end",
                          (unsigned long)o, (unsigned long long)primAt);
        ob->vertAt = (uint32_t)vertAt;
        ob->normAt = (uint32_t)normAt;
        ob->primAt = (uint32_t)primAt;
        ob->firstPrim = (uint32_t)nPrimAll;
        uint32_t whole = walkPrimitives(m, ob, nullptr);
        if (whole < ob->nPrim) {
            // The walk stopped at primitive `whole`; find its header again.
            uint64_t p = primAt;
            for (uint32_t j = 0; j < whole; j++)
                p += 4 + 4 * (uint64_t)packetWords(getLE32(m->image + p));
            if (!fits(m, p, 1, 4))
                return refuse(entry + 20, "object %lu: only %lu of %lu primitives fit in the file",
                              (unsigned long)o, (unsigned long)whole, (unsigned long)ob->nPrim);
            return refuse((uint32_t)p, "object %lu: the packet of primitive %lu runs past the end",
                          (unsigned long)o, (unsigned long)whole);
        }
        nPrimAll += ob->nPrim;
    }
    // Each primitive takes at least 4 bytes and objects rarely share areas,
    // but a table may point every object at one area; bound the block anyway.
    if (nPrimAll * sizeof(uint32_t) > INT32_MAX)
        return refuse(8, "too many primitives (%llu) to index", (unsigned long long)nPrimAll);
    m->nPrimAll = (uint32_t)nPrimAll;
    m->prim = (uint32_t *)strAlloc((int32_t)(nPrimAll * sizeof(uint32_t)), m->name);
    for (uint32_t o = 0; o < m->nObj; o++)
        walkPrimitives(m, &m->obj[o], m->prim + m->obj[o].firstPrim);
    return 1;
}

// Loads the model named name (trying the "kgx" and "KGX" fallbacks as
// keyblend does) whole into m and parses it.  Returns 1, or 0 with
// inputProblem set; m then holds what was read and must still be freed.  A
// file that opens under no name ends the process with 30; read failures end
// it inside the I/O routines (42, 43).
int32_t modelLoad(KgxModel *m, const char *name)
{
    memset(m, 0, sizeof *m);
    FileHandle *fh = fileMatchOpen(name, kgxs, "r");
    if (!fh) {
        errReport(OPEN_ERR, fileCode + 0, name);
        return 0;
    }
    m->name = strCopy(fh->name);
    return readWhole(fh, m->name, &m->image, &m->size) && modelParse(m);
}

int32_t readWhole(FileHandle *fh, const char *label, unsigned char **image, uint32_t *size)
{
    struct stat st;
    if (stat(fh->name, &st) != 0 || st.st_size < 0 || st.st_size >= INT32_MAX) {
        fileClose(fh);
        return refuse(0, "size unknown or 2 GiB or more");
    }
    *size = (uint32_t)st.st_size;
    *image = (unsigned char *)strAlloc((int32_t)*size, label);
    getByteArray(*image, (int32_t)*size, fh);
    fileClose(fh);
    return 1;
}

// Builds a fresh image of nObj objects from plain arrays: the header with
// the identifier KGX_ID and the flags, the object table, then each object's
// vertices, normals and primitives in object order.  Returns 1 with m parsed
// and named name, or 0 (inputProblem set) when the result would reach 2 GiB.
int32_t modelBuild(KgxModel *m, const char *name, uint32_t flags, const ObjectArrays *objs,
                   uint32_t nObj)
{
    memset(m, 0, sizeof *m);
    m->name = strCopy(name);
    uint64_t size = KGX_TABLE + (uint64_t)KGX_ENTRY * nObj;
    for (uint32_t o = 0; o < nObj; o++) {
        size += KGX_ELEMENT * ((uint64_t)objs[o].nVert + objs[o].nNorm);
        for (uint32_t j = 0; j < objs[o].nPrim; j++)
            size += 4 + 4 * (uint64_t)packetWords(objs[o].prim[j]);
    }
    if (size >= INT32_MAX)
        return refuse(0, "a model of %llu bytes is too large", (unsigned long long)size);
    m->size = (uint32_t)size;
    m->image = (unsigned char *)strAlloc((int32_t)size, name);
    unsigned char *p = m->image;
    putLE32(p, KGX_ID);
    putLE32(p + 4, flags);
    putLE32(p + 8, nObj);
    uint32_t at = KGX_ENTRY * nObj;  // counted from the object table
    for (uint32_t o = 0; o < nObj; o++) {
        const ObjectArrays *ob = &objs[o];
        unsigned char *entry = p + KGX_TABLE + (size_t)KGX_ENTRY * o;
        putLE32(entry, at);
        putLE32(entry + 4, ob->nVert);
        for (uint32_t k = 0; k < 4 * ob->nVert; k++, at += 2)
            putLE16(p + KGX_TABLE + at, ob->vert[k]);
        putLE32(entry + 8, at);
        putLE32(entry + 12, ob->nNorm);
        for (uint32_t k = 0; k < 4 * ob->nNorm; k++, at += 2)
            putLE16(p + KGX_TABLE + at, ob->norm[k]);
        putLE32(entry + 16, at);
        putLE32(entry + 20, ob->nPrim);
        putLE32(entry + 24, ob->scale);
        const unsigned char *packet = ob->packets;
        for (uint32_t j = 0; j < ob->nPrim; j++) {
            uint32_t bytes = 4 * packetWords(ob->prim[j]);
            putLE32(p + KGX_TABLE + at, ob->prim[j]);
            if (bytes)
                memcpy(p + KGX_TABLE + at + 4, packet, bytes);
            packet += bytes;
            at += 4 + bytes;
        }
    }
    return modelParse(m);
}

// Gives m a copy of from's image under a new name and parses it.  Returns
// modelParse's result.
int32_t modelCopy(KgxModel *to, const KgxModel *from, const char *name)
{
    memset(to, 0, sizeof *to);
    to->name = strCopy(name);
    to->size = from->size;
    to->image = (unsigned char *)strAlloc((int32_t)from->size, name);
    if (from->size)
        memcpy(to->image, from->image, from->size);
    return modelParse(to);
}

// Writes the image to name, creating or emptying the file.  Open and write
// failures end the process (30, 37).
void modelSave(const KgxModel *m, const char *name)
{
    FileHandle *fh = fileOpen(name, "w");
    putByteArray(m->image, (int32_t)m->size, fh);
    fileClose(fh);
}

// Gives back every block of the model and leaves it empty; an empty model
// is left as it is.
void modelFree(KgxModel *m)
{
    memFree(m->name);
    memFree(m->image);
    memFree(m->obj);
    memFree(m->prim);
    memset(m, 0, sizeof *m);
}
