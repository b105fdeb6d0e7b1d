// model.h -- KGX models held whole in memory: the byte image of the file and
// its parsed object table
#ifndef KELO_MODEL_H
#define KELO_MODEL_H

#include "../kgx.h"
#include "klib.h"

// Little-endian values in a byte image, assembled byte by byte so that the
// result never depends on the host's byte order or alignment.
inline uint32_t getLE32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline int16_t getLE16(const unsigned char *p)
{
    return (int16_t)(uint16_t)((uint32_t)p[0] | (uint32_t)p[1] << 8);
}
inline void putLE32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}
inline void putLE16(unsigned char *p, int16_t v)
{
    p[0] = (unsigned char)((uint16_t)v & 0xFF);
    p[1] = (unsigned char)((uint16_t)v >> 8);
}

// One object of a loaded model.  The first seven fields are the entry as it
// stands in the table; the *At fields are absolute file offsets, checked to
// lie inside the image.
struct KgxObject {
    uint32_t vertTop, nVert, normTop, nNorm, primTop, nPrim, scale;
    uint32_t vertAt;     // first vertex
    uint32_t normAt;     // first normal
    uint32_t primAt;     // first primitive header
    uint32_t firstPrim;  // index of the object's first primitive in KgxModel.prim
};

// A model file held whole.  Every block is counted and owned by the model
// until modelFree.
struct KgxModel {
    char *name;            // the name it was loaded from or will be saved as
    unsigned char *image;  // the file's bytes
    uint32_t size;         // bytes in image
    uint32_t flags;
    uint32_t nObj;
    KgxObject *obj;        // nObj entries
    uint32_t *prim;        // file offset of every primitive header, object by object
    uint32_t nPrimAll;     // entries in prim
};

// Why the last input kelo refused (a model or a difference file) was
// refused, and the byte offset at which it stopped making sense.
extern const char *inputProblem;
extern uint32_t inputProblemAt;

// Records the problem and its offset; always returns 0 so that a check can
// end with `return refuse(...)`.
int32_t refuse(uint32_t at, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* Plain arrays describing one object for modelBuild.  vert and norm hold
   four values per element; prim holds the header words and packets the
   packets back to back, each as long as its header says. */
struct ObjectArrays {
    uint32_t nVert;
    const int16_t *vert;
    uint32_t nNorm;
    const int16_t *norm;
    uint32_t nPrim;
    const uint32_t *prim;
    const unsigned char *packets;
    uint32_t scale;
};

int32_t modelParse(KgxModel *m);
int32_t modelLoad(KgxModel *m, const char *name);

// Reads the whole file behind fh into a counted block labelled label and
// closes fh.  Returns 1, or 0 with inputProblem set when the file's size
// cannot be had or reaches 2 GiB (*image is then null).
int32_t readWhole(FileHandle *fh, const char *label, unsigned char **image, uint32_t *size);
int32_t modelBuild(KgxModel *m, const char *name, uint32_t flags, const ObjectArrays *objs,
                   uint32_t nObj);
void modelSave(const KgxModel *m, const char *name);
int32_t modelCopy(KgxModel *to, const KgxModel *from, const char *name);
void modelFree(KgxModel *m);

inline unsigned char *modelVertex(KgxModel *m, uint32_t obj, uint32_t j)
{
    return m->image + m->obj[obj].vertAt + (size_t)KGX_ELEMENT * j;
}
inline unsigned char *modelNormal(KgxModel *m, uint32_t obj, uint32_t j)
{
    return m->image + m->obj[obj].normAt + (size_t)KGX_ELEMENT * j;
}
inline unsigned char *modelPrimitive(KgxModel *m, uint32_t obj, uint32_t j)
{
    return m->image + m->prim[m->obj[obj].firstPrim + j];
}
inline uint32_t packetWords(uint32_t header)
{
    return header >> 8 & 0xFF;
}

#endif
