// obj_write.cpp -- a mesh as OBJ text: one group per object, positions in
// the units of its scale, unit normals, texture coordinates and faces
#include "obj.h"

#include <cinttypes>

/*
 * Writes m as OBJ text to fp.  The mesh's primitives must be in kelo's
 * packet layout with indices inside their object (the export command checks
 * both).  Numbers are written with seven significant digits: enough for
 * import at the same scale to round every value back to the integer it came
 * from (a position is at most 32768 steps, so its relative error of 5e-7
 * stays far below half a step).  Returns 1, or 0 when a write failed.
 */
int32_t objWrite(const Mesh *m, FILE *fp)
{
    bool oneScale = true;
    for (const MeshObject &o : m->obj)
        oneScale = oneScale && o.scale == m->obj[0].scale;
    char scale[32];
    fprintf(fp, "# %s as written by kelo export\n", m->name.c_str());
    if (oneScale && !m->obj.empty()) {
        scaleText(m->obj[0].scale, scale, sizeof scale);
        fprintf(fp, "# scale %s: kelo import --scale %s gives the same model\n", scale, scale);
    }
    // Texture coordinates are written once per distinct U, V pair, when the
    // first face that uses the pair comes up; vtOf holds their OBJ numbers.
    std::vector<uint32_t> vtOf(65536, 0);
    uint32_t nVt = 0, vBase = 0, nBase = 0;
    for (size_t k = 0; k < m->obj.size(); k++) {
        const MeshObject &o = m->obj[k];
        double unit = (double)SCALE_ONE / o.scale;
        scaleText(o.scale, scale, sizeof scale);
        fprintf(fp, "g object%zu\n# %zu vertices, %zu normals, %zu primitives, scale %s\n", k,
                o.vert.size() / 4, o.norm.size() / 4, o.head.size(), scale);
        for (size_t i = 0; i < o.vert.size(); i += 4)
            fprintf(fp, "v %.7g %.7g %.7g\n", o.vert[i] * unit, o.vert[i + 1] * unit,
                    o.vert[i + 2] * unit);
        for (size_t i = 0; i < o.norm.size(); i += 4)
            fprintf(fp, "vn %.7g %.7g %.7g\n", o.norm[i] / 4096.0, o.norm[i + 1] / 4096.0,
                    o.norm[i + 2] / 4096.0);
        size_t at = 0;
        for (uint32_t head : o.head) {
            uint32_t n = primCorners(head);
            for (uint32_t c = 0; c < n && (head >> 24 & PRIM_TEXTURED); c++) {
                uint32_t uv = o.packet[at + c] >> 16;
                if (!vtOf[uv]) {
                    vtOf[uv] = ++nVt;
                    fprintf(fp, "vt %.7g %.7g\n", (uv >> 8) / 255.0, (uv & 0xFF) / 255.0);
                }
            }
            fputs("f", fp);
            for (uint32_t c = 0; c < n; c++) {
                uint32_t v = vBase + (o.packet[at + c] & 0xFFFF) + 1;
                uint32_t vn = nBase + (o.packet[at + n + c] & 0xFFFF) + 1;
                if (head >> 24 & PRIM_TEXTURED)
                    fprintf(fp, " %" PRIu32 "/%" PRIu32 "/%" PRIu32, v, vtOf[o.packet[at + c] >> 16],
                            vn);
                else
                    fprintf(fp, " %" PRIu32 "//%" PRIu32, v, vn);
            }
            fputs("\n", fp);
            at += 2 * (size_t)n;
        }
        vBase += (uint32_t)(o.vert.size() / 4);
        nBase += (uint32_t)(o.norm.size() / 4);
    }
    fflush(fp);
    return !ferror(fp);
}
