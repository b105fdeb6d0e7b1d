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
// A primitive's packet holds one word per corner: the vertex index in the
// low 16 bits, V in byte 2 and U in byte 3, the two bytes keyblend compares.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

struct Prim {
    uint32_t mode;  // 4: textured, 8: four corners
    int corners;
    uint16_t vertex[4];
    uint8_t u[4], v[4];
};

struct Object {
    std::vector<int16_t> vert;  // four values per vertex
    std::vector<int16_t> norm;  // four values per normal
    std::vector<Prim> prim;
};

static void put32(std::vector<uint8_t> &out, uint32_t w)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back((uint8_t)(w >> shift));
}

static void put16s(std::vector<uint8_t> &out, const std::vector<int16_t> &values)
{
    for (int16_t v : values) {
        out.push_back((uint8_t)((uint16_t)v & 0xFF));
        out.push_back((uint8_t)((uint16_t)v >> 8));
    }
}

static std::vector<uint8_t> primBytes(const std::vector<Prim> &prims)
{
    std::vector<uint8_t> out;
    for (const Prim &p : prims) {
        put32(out, p.mode << 24 | (uint32_t)p.corners << 8);
        for (int c = 0; c < p.corners; c++)
            put32(out, p.vertex[c] | (uint32_t)p.v[c] << 16 | (uint32_t)p.u[c] << 24);
    }
    return out;
}

// Lays a model out as header, object table, then each object's vertex,
// normal and primitive arrays; tops count from the start of the table.
static bool writeModel(const char *dir, const char *name, const std::vector<Object> &objs)
{
    std::vector<uint8_t> table, data;
    uint32_t dataTop = 28 * (uint32_t)objs.size();
    for (const Object &o : objs) {
        uint32_t vertTop = dataTop + (uint32_t)data.size();
        put16s(data, o.vert);
        uint32_t normTop = dataTop + (uint32_t)data.size();
        put16s(data, o.norm);
        uint32_t primTop = dataTop + (uint32_t)data.size();
        std::vector<uint8_t> prims = primBytes(o.prim);
        data.insert(data.end(), prims.begin(), prims.end());
        for (uint32_t w : {vertTop, (uint32_t)o.vert.size() / 4, normTop,
                           (uint32_t)o.norm.size() / 4, primTop, (uint32_t)o.prim.size(), 1000u})
            put32(table, w);
    }
    std::vector<uint8_t> file;
    put32(file, 0x41);
    put32(file, 0);
    put32(file, (uint32_t)objs.size());
    file.insert(file.end(), table.begin(), table.end());
    file.insert(file.end(), data.begin(), data.end());

    char path[4096];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    FILE *fp = fopen(path, "wb");
    if (!fp || fwrite(file.data(), 1, file.size(), fp) != file.size() || fclose(fp) != 0) {
        fprintf(stderr, "make_examples: cannot write %s\n", path);
        return false;
    }
    return true;
}

static Prim quad(uint16_t a, uint16_t b, uint16_t c, uint16_t d)
{
    return {12, 4, {a, b, c, d}, {0, 255, 255, 0}, {0, 0, 255, 255}};
}

static Prim triangle(uint16_t a, uint16_t b, uint16_t c)
{
    return {4, 3, {a, b, c, 0}, {0, 255, 128, 0}, {0, 0, 255, 0}};
}

static Object cube()
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

static Object pyramid()
{
    Object o;
    o.vert = {-800, -800, 2000, 0, 800, -800, 2000, 0, 800, 800, 2000, 0,
              -800, 800,  2000, 0, 0,   0,    3600, 0};
    o.norm = {-2365, -2365, -2365, 0, 2365, -2365, -2365, 0, 2365, 2365, -2365, 0,
              -2365, 2365,  -2365, 0, 0,    0,     4096,  0};
    Prim floor = quad(0, 3, 2, 1);
    floor.mode = 8;
    o.prim = {triangle(0, 1, 4), triangle(1, 2, 4), triangle(2, 3, 4), triangle(3, 0, 4), floor};
    return o;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_examples DIR\n");
        return 1;
    }
    const std::vector<Object> base = {cube(), pyramid()};

    std::vector<Object> moved = base;
    for (int i = 4; i < 8; i++)
        moved[0].vert[4 * i + 2] += 500;
    moved[1].vert[4 * 4 + 0] += 300;
    moved[1].vert[4 * 4 + 2] += 400;

    std::vector<Object> normals = base;
    for (int i = 0; i < 4; i++)
        normals[1].norm[4 * i + 2] += 1200;

    std::vector<Object> uv = base;
    for (int f = 2; f < 4; f++)
        for (int c = 0; c < 4; c++) {
            uv[0].prim[f].u[c] += 32;
            uv[0].prim[f].v[c] -= 16;
        }

    bool ok = writeModel(argv[1], "base.kgx", base) && writeModel(argv[1], "moved.kgx", moved) &&
              writeModel(argv[1], "normals.kgx", normals) && writeModel(argv[1], "uv.kgx", uv);
    return ok ? 0 : 1;
}
