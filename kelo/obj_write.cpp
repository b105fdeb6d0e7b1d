// obj_write.cpp -- a model as OBJ text: one group per object, positions in
// the units of its scale, unit normals, texture coordinates and faces
#include "obj.h"

// Every primitive of the model is in kelo's packet layout (two words per
// corner) with its vertex and normal indices inside its object; otherwise a
// problem at the first that is not.  The faces to write may not outnumber
// the model's bytes, which only objects sharing primitive areas make them do.
static Problem exportable(const Model &m)
{
    uint64_t faces = 0;
    for (const KgxObject &ob : m.obj)
        faces += ob.nPrim;
    if (faces > m.image.size())
        return problemIn(KELO_BAD_MODEL, m.name,
                         format("its objects would make %llu faces from %zu bytes; kelo export "
                                "writes at most one face per byte of the model",
                                (unsigned long long)faces, m.image.size()));
    for (uint32_t k = 0; k < m.obj.size(); k++) {
        const KgxObject &ob = m.obj[k];
        for (uint32_t j = 0; j < ob.nPrim; j++) {
            uint32_t at = m.primitiveAt(k, j), head = m.word(at), n = primCorners(head);
            const char *why =
                primPacketWords(head) != 2 * n ? "its packet is not two words per corner" : nullptr;
            for (uint32_t c = 0; !why && c < n; c++)
                if (cornerIndex(m.word(at + PRIM_HEAD + 4 * c)) >= ob.nVert)
                    why = "a vertex index is out of range";
                else if (cornerIndex(m.word(at + PRIM_HEAD + 4 * (n + c))) >= ob.nNorm)
                    why = "a normal index is out of range";
            if (why)
                return problemAt(KELO_BAD_MODEL, m.name, at,
                                 format("object %lu primitive %lu: %s", (unsigned long)k,
                                        (unsigned long)j, why));
        }
    }
    return {};
}

/*
 * Numbers are written with seven significant digits: enough for import at
 * the same scale to round every value back to the integer it came from (a
 * position is at most 32768 steps, so its relative error of 5e-7 stays far
 * below half a step).  An array that several objects share is written once,
 * with the first of them; the others' faces refer to it.
 */
Problem objExport(const Model &m, std::string &text)
{
    if (Problem p = exportable(m))
        return p;
    bool oneScale = true;
    for (const KgxObject &ob : m.obj)
        oneScale = oneScale && scaleOf(ob.scale) == scaleOf(m.obj[0].scale);
    text = format("# %s as written by kelo export\n", m.name.c_str());
    if (oneScale && !m.obj.empty()) {
        std::string s = scaleText(scaleOf(m.obj[0].scale));
        text += format("# scale %s: kelo import --scale %s gives the same model\n", s.c_str(),
                       s.c_str());
    }
    // OBJ numbers of the first element of each distinct array, 0 until it is
    // written, and of each texture coordinate, written when the first face
    // that uses its U, V pair comes up.
    std::vector<uint32_t> vertFirst(m.vertArrays.size(), 0), normFirst(m.normArrays.size(), 0);
    std::vector<uint32_t> vtOf((size_t)256 * 256, 0);
    uint32_t nV = 0, nVn = 0, nVt = 0;
    for (uint32_t k = 0; k < m.obj.size(); k++) {
        const KgxObject &ob = m.obj[k];
        double unit = (double)SCALE_ONE / scaleOf(ob.scale);
        text += format("g object%lu\n# %lu vertices, %lu normals, %lu primitives, scale %s\n",
                       (unsigned long)k, (unsigned long)ob.nVert, (unsigned long)ob.nNorm,
                       (unsigned long)ob.nPrim, scaleText(scaleOf(ob.scale)).c_str());
        if (!vertFirst[ob.vertArray]) {
            vertFirst[ob.vertArray] = nV + 1;
            for (uint32_t j = 0; j < ob.nVert; j++, nV++) {
                uint32_t at = m.vertexAt(k, j);
                text += format("v %.7g %.7g %.7g\n", m.value(at) * unit, m.value(at + 2) * unit,
                               m.value(at + 4) * unit);
            }
        }
        if (!normFirst[ob.normArray]) {
            normFirst[ob.normArray] = nVn + 1;
            for (uint32_t j = 0; j < ob.nNorm; j++, nVn++) {
                uint32_t at = m.normalAt(k, j);
                text += format("vn %.7g %.7g %.7g\n", m.value(at) / NORMAL_ONE,
                               m.value(at + 2) / NORMAL_ONE, m.value(at + 4) / NORMAL_ONE);
            }
        }
        for (uint32_t j = 0; j < ob.nPrim; j++) {
            uint32_t at = m.primitiveAt(k, j) + PRIM_HEAD, n = primCorners(m.word(at - PRIM_HEAD));
            bool textured = primMode(m.word(at - PRIM_HEAD)) & MODE_TEXTURED;
            std::string face = "f";
            for (uint32_t c = 0; c < n; c++) {
                uint32_t corner = m.word(at + 4 * c), normal = m.word(at + 4 * (n + c));
                uint32_t v = vertFirst[ob.vertArray] + cornerIndex(corner);
                uint32_t vn = normFirst[ob.normArray] + cornerIndex(normal);
                uint32_t &vt = vtOf[cornerU(corner) * 256 + cornerV(corner)];
                if (textured && !vt) {
                    vt = ++nVt;
                    text +=
                        format("vt %.7g %.7g\n", cornerU(corner) / 255.0, cornerV(corner) / 255.0);
                }
                face += textured ? format(" %lu/%lu/%lu", (unsigned long)v, (unsigned long)vt,
                                          (unsigned long)vn)
                                 : format(" %lu//%lu", (unsigned long)v, (unsigned long)vn);
            }
            text += face + "\n";
        }
    }
    return {};
}
