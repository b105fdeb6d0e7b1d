// make_examples.cpp -- writes the sample KGX models of examples/: a base
// with two textured objects and three variants of it.
//
//   make_examples DIR
//
// base.kgx     a cube (six textured four-corner faces) and a pyramid
//              (four textured triangles and an untextured square floor)
// moved.kgx    the cube's top face raised and the pyramid's apex moved
// normals.kgx  the pyramid's normals tilted
// uv.kgx       the texture coordinates of two cube faces shifted
//
// A primitive's packet holds one corner word per corner (cornerWord in
// kgx.h): the vertex index with the U and V bytes that keyblend compares.
#include "kgx_model.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Corner {
    uint16_t vertex;
    uint8_t u, v;
};

struct Prim {
    uint32_t mode;
    std::vector<Corner> corners;
};

struct Object {
    std::vector<int16_t> vert;  // ELEMENT_VALUES values per vertex
    std::vector<int16_t> norm;  // and per normal
    std::vector<Prim> prim;
};

enum Axis { X, Y, Z };

// Value axis of element i in an array of vertices or normals.
int16_t &value(std::vector<int16_t> &elements, int i, Axis axis)
{
    return elements[ELEMENT_VALUES * (size_t)i + axis];
}

constexpr uint32_t SCALE = 1000;

KgxObjectArrays arrays(const Object &o)
{
    KgxObjectArrays a{o.vert, o.norm, {}, {}, SCALE};
    for (const Prim &p : o.prim) {
        a.primHeaders.push_back(primHeader(p.mode, (uint32_t)p.corners.size()));
        for (const Corner &c : p.corners) {
            size_t at = a.packets.size();
            a.packets.resize(at + 4);
            storeLE32(&a.packets[at], cornerWord(c.vertex, c.u, c.v));
        }
    }
    return a;
}

bool writeModel(const char *dir, const char *name, const std::vector<Object> &objs)
{
    std::vector<KgxObjectArrays> objects;
    for (const Object &o : objs)
        objects.push_back(arrays(o));
    std::vector<unsigned char> file = kgxBuild(0, objects);
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    FILE *fp = fopen(path, "wb");
    if (!fp || fwrite(file.data(), 1, file.size(), fp) != file.size() || fclose(fp) != 0) {
        fprintf(stderr, "make_examples: cannot write %s\n", path);
        return false;
    }
    return true;
}

Prim quad(uint16_t a, uint16_t b, uint16_t c, uint16_t d)
{
    return {MODE_TEXTURED | MODE_FOUR_CORNERS,
            {{a, 0, 0}, {b, 255, 0}, {c, 255, 255}, {d, 0, 255}}};
}

Prim triangle(uint16_t a, uint16_t b, uint16_t c)
{
    return {MODE_TEXTURED, {{a, 0, 0}, {b, 255, 0}, {c, 128, 255}}};
}

Object cube()
{
    Object o;
    for (int i = 0; i < 8; i++) {
        int16_t x = i & 1 ? 1000 : -1000, y = i & 2 ? 1000 : -1000, z = i & 4 ? 1000 : -1000;
        o.vert.insert(o.vert.end(), {x, y, z, 0});
        o.norm.insert(o.norm.end(), {(int16_t)(x * 2365 / 1000), (int16_t)(y * 2365 / 1000),
                                     (int16_t)(z * 2365 / 1000), 0});
    }
    o.prim = {quad(0, 1, 3, 2), quad(4, 6, 7, 5), quad(0, 4, 5, 1),
              quad(2, 3, 7, 6), quad(0, 2, 6, 4), quad(1, 5, 7, 3)};
    return o;
}

Object pyramid()
{
    Object o;
    o.vert = {-800, -800, 2000, 0,   800,  -800, 2000, 0, 800,  800,
              2000, 0,    -800, 800, 2000, 0,    0,    0, 3600, 0};
    o.norm = {-2365, -2365, -2365, 0,    2365,  -2365, -2365, 0, 2365, 2365,
              -2365, 0,     -2365, 2365, -2365, 0,     0,     0, 4096, 0};
    Prim floor = quad(0, 3, 2, 1);
    floor.mode = MODE_FOUR_CORNERS;
    o.prim = {triangle(0, 1, 4), triangle(1, 2, 4), triangle(2, 3, 4), triangle(3, 0, 4), floor};
    return o;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_examples DIR\n");
        return 1;
    }
    const std::vector<Object> base = {cube(), pyramid()};

    std::vector<Object> moved = base;
    for (int i = 4; i < 8; i++)
        value(moved[0].vert, i, Z) += 500;
    value(moved[1].vert, 4, X) += 300;
    value(moved[1].vert, 4, Z) += 400;

    std::vector<Object> normals = base;
    for (int i = 0; i < 4; i++)
        value(normals[1].norm, i, Z) += 1200;

    std::vector<Object> uv = base;
    for (int f = 2; f < 4; f++)
        for (Corner &c : uv[0].prim[f].corners) {
            c.u += 32;
            c.v -= 16;
        }

    bool ok = writeModel(argv[1], "base.kgx", base) && writeModel(argv[1], "moved.kgx", moved) &&
              writeModel(argv[1], "normals.kgx", normals) && writeModel(argv[1], "uv.kgx", uv);
    return ok ? 0 : 1;
}
