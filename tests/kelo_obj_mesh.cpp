// kelo_obj_mesh.cpp -- the OBJ parser and mesh builder in process: corner
// forms, indices, groups, computed normals, polygons, texture bytes, scales
#include "../app/kelo/obj.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

// Parses text and builds its mesh at scale 1 (or the given scale word).
static Mesh build(const char *text, bool single = false, uint32_t scale = SCALE_ONE)
{
    ObjText t;
    FILE *fp = fmemopen((void *)text, strlen(text), "r");
    EXPECT_EQ(objRead(&t, fp, "t.obj", single), 1) << text;
    fclose(fp);
    Mesh m;
    EXPECT_EQ(meshBuild(&m, &t, &scale, 1), 1) << text;
    return m;
}

static const char square[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                             "vt 0 0\nvt 1 0\nvt 0.5 1\nvn 0 0 1\nvn 0 0 -2\n";

// Every corner form, positive and negative indices: header and packet words
// of the one primitive.  Corners without a normal index use their vertex's
// computed normal.
TEST(KeloObjMesh, CornerForms)
{
    struct {
        const char *face;
        uint32_t head;
        std::vector<uint32_t> packet;
    } rows[] = {
        {"f 1 2 3", 0x00000600, {0, 1, 2, 0, 1, 2}},
        {"f 1/1 2/2 3/3", 0x04000600, {0x00000000, 0xFF000001, 0x80FF0002, 0, 1, 2}},
        {"f 1//2 2//1 3//2", 0x00000600, {0, 1, 2, 1, 0, 1}},
        {"f 4/3/1 3/2/1 2/1/1 1/1/2", 0x0C000800,
         {0x80FF0003, 0xFF000002, 0x00000001, 0x00000000, 0, 0, 0, 1}},
        // Vertex 4 is the third the face uses: local number 2.
        {"f -4/-3/-2 -3/-2/-1 -1/-1/-1", 0x04000600, {0x00000000, 0xFF000001, 0x80FF0002, 0, 1, 1}},
    };
    for (const auto &row : rows) {
        std::string text = std::string(square) + row.face + "\n";
        Mesh m = build(text.c_str());
        ASSERT_EQ(m.obj.size(), 1u) << row.face;
        EXPECT_EQ(m.obj[0].head, std::vector<uint32_t>{row.head}) << row.face;
        EXPECT_EQ(m.obj[0].packet, row.packet) << row.face;
    }
}

// Vertices and normals are numbered per object in file order, only those a
// face uses; a vn of length 2 is normalised.  The corners of "f 2 5 3" get
// computed normals, after the file's, from every face around their vertex:
// the first face's +z and the second's +y for vertices 0 and 1 (local), the
// second's alone for vertex 3.
TEST(KeloObjMesh, NumberingAndNormals)
{
    Mesh m = build("v 9 9 9\nv 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 2\nvn 0 0 -2\n"
                   "f 2//1 3//1 4//1\nf 2 5 3\n");
    const MeshObject &o = m.obj[0];
    EXPECT_EQ(o.vert, (std::vector<int16_t>{0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(o.norm, (std::vector<int16_t>{0, 0, -4096, 0, 0, 2896, 2896, 0, 0, 2896, 2896, 0,
                                            0, 4096, 0, 0}));
    EXPECT_EQ(o.packet, (std::vector<uint32_t>{0, 1, 2, 0, 0, 0, 0, 3, 1, 1, 3, 2}));
}

// A cube without normals: every corner's normal is the mean of its three
// faces, (+-1, +-1, +-1) / sqrt 3 at length 4096.
TEST(KeloObjMesh, ComputedCubeNormals)
{
    Mesh m = build("v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\n"
                   "v -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
                   "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n");
    const MeshObject &o = m.obj[0];
    ASSERT_EQ(o.norm.size(), 32u);
    for (size_t v = 0; v < 8; v++)
        for (size_t a = 0; a < 3; a++)
            EXPECT_EQ(o.norm[4 * v + a], o.vert[4 * v + a] * 2365) << v << " " << a;
}

// Groups: one object per name in order of first appearance, a repeated name
// joins its object, empty groups vanish, faces before any group fall into
// "default"; shared vertices are copied into each object.  A pentagon
// becomes a fan of three triangles.
TEST(KeloObjMesh, GroupsAndPolygons)
{
    const char *text = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -1 1 0\n"
                       "f 1 2 3\ng a\nf 1 3 4\no empty\ng b\nf 1 2 3 4 5\ng a\nf 2 3 4\n";
    Mesh m = build(text);
    ASSERT_EQ(m.obj.size(), 3u);
    const char *group[] = {"default", "a", "b"};
    size_t verts[] = {3, 4, 5}, prims[] = {1, 2, 3};
    for (size_t k = 0; k < 3; k++) {
        EXPECT_EQ(m.obj[k].group, group[k]);
        EXPECT_EQ(m.obj[k].vert.size() / 4, verts[k]) << k;
        EXPECT_EQ(m.obj[k].head.size(), prims[k]) << k;
    }
    EXPECT_EQ(std::vector<uint32_t>(m.obj[2].packet.begin(), m.obj[2].packet.begin() + 18),
              (std::vector<uint32_t>{0, 1, 2, 0, 1, 2, 0, 2, 3, 0, 2, 3, 0, 3, 4, 0, 3, 4}));
    Mesh one = build(text, true);
    ASSERT_EQ(one.obj.size(), 1u);
    EXPECT_EQ(one.obj[0].head.size(), 6u);
}

TEST(KeloObjMesh, TextureBytes)
{
    struct {
        double t;
        int b;
    } rows[] = {{0, 0}, {1, 255}, {0.5, 128}, {0.25, 64}, {1.25, 64}, {-0.75, 64},
                {2, 0}, {-0.0001, 255}, {1e300, 0}};
    for (const auto &row : rows)
        EXPECT_EQ(texByte(row.t), row.b) << row.t;
}

// Scales: --fit picks the largest 16.16 scale that still fits, and the
// printed text reads back as the same scale word.
TEST(KeloObjMesh, Scales)
{
    struct {
        const char *text;
        const char *fit;
    } rows[] = {{"v 1 0 0\nv 0 1 0\nv 0 0 -1\nf 1 2 3\n", "32767"},
                {"v 3 0 0\nv 0 1 0\nv 0 0 0\nf 1 2 3\n", "10922.33333"},
                {"v 0 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\n", "1"},
                {"v 65534 0 0\nv 0 1 0\nv 0 0 0\nf 1 2 3\n", "0.5"},
                {"v 1e9 0 0\nv 0 1 0\nv 0 0 0\nf 1 2 3\nv 1e30 0 0\n", "0.00003"}};
    for (const auto &row : rows) {
        ObjText t;
        FILE *fp = fmemopen((void *)row.text, strlen(row.text), "r");
        ASSERT_EQ(objRead(&t, fp, "t.obj", false), 1);
        fclose(fp);
        uint32_t scale = 0, back = 0;
        ASSERT_EQ(scaleFit(&t, &scale), 1) << row.text;
        char word[32];
        scaleText(scale, word, sizeof word);
        EXPECT_STREQ(word, row.fit);
        EXPECT_EQ(scaleParse(word, &back), 1);
        EXPECT_EQ(back, scale);
    }
    EXPECT_EQ(quantise(32767.4, SCALE_ONE), 32767);
    EXPECT_EQ(quantise(-32768.4, SCALE_ONE), -32768);
    EXPECT_EQ(quantise(32767.5, SCALE_ONE), INT32_MIN);
    uint32_t s;
    for (const char *bad : {"0", "-1", "abc", "", "1e-9", "nan", "inf", "70000"})
        EXPECT_EQ(scaleParse(bad, &s), 0) << bad;
}
