// obj_write.cpp -- a model as OBJ text: one group per object, positions in
// the units of its scale, unit normals, texture coordinates and faces
#include "obj.h"

/*
 * Numbers are written with seven significant digits: enough for import at
 * the same scale to round every value back to the integer it came from (a
 * position is at most 32768 steps, so its relative error of 5e-7 stays far
 * below half a step).  An array that several objects share is written once,
 * with the first of them; the others' faces refer to it.
 */
Problem objExport(const Model &m, std::string &text)
{
    if (Problem p = primitivesWithinBytes(m, "kelo export"))
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
            PrimCorners p;
            if (Problem problem = primitiveCorners(m, k, j, p))
                return problem;
            std::string face = "f";
            for (uint32_t c = 0; c < p.n; c++) {
                const PrimCorner &corner = p.at[c];
                uint32_t v = vertFirst[ob.vertArray] + corner.vertex;
                uint32_t vn = normFirst[ob.normArray] + corner.normal;
                face += format(" %lu", (unsigned long)v);
                if (p.textured) {
                    uint32_t &vt = vtOf[corner.u * 256 + corner.v];
                    if (!vt) {
                        vt = ++nVt;
                        text += format("vt %.7g %.7g\n", corner.u / 255.0, corner.v / 255.0);
                    }
                    face += format("/%lu", (unsigned long)vt);
                }
                if (ob.nNorm)
                    face += format(p.textured ? "/%lu" : "//%lu", (unsigned long)vn);
            }
            text += face + "\n";
        }
    }
    return {};
}
