// kelo_obj.cpp -- kelo import and export: the pipeline from OBJ through
// keyblend and kelo apply back to OBJ, round trips, every refusal with its
// message and code, and the parser and mesh builder in process
#include "kit/test.h"
#include "obj.h"

#include <cstring>

using namespace kit;

namespace {

std::string kelo(const std::string &args) { return KELO + " " + args; }

ObjText parse(const std::string &text)
{
    ObjText t;
    EXPECT_FALSE(objParse(text, "t.obj", false, t)) << text;
    return t;
}

// The mesh of text at one scale.
Mesh build(const std::string &text, bool single = false, uint32_t scale = SCALE_ONE)
{
    ObjText t;
    EXPECT_FALSE(objParse(text, "t.obj", single, t)) << text;
    Mesh m;
    EXPECT_FALSE(meshBuild(t, {scale}, m)) << text;
    return m;
}

// The cube of examples/obj, its +x face at x, its texture shifted by du
// (wrapping at 1).
std::string cube(const char *x, double du)
{
    return format("o cube\nv -1 -1 -1\nv %s -1 -1\nv %s 1 -1\nv -1 1 -1\nv -1 -1 1\nv %s -1 1\n"
                  "v %s 1 1\nv -1 1 1\nvt %g 0\nvt %g 0\nvt %g 1\nvt %g 1\n",
                  x, x, x, x, du, 1 + du, 1 + du, du) +
           "f 1/1 4/2 3/3 2/4\nf 5/1 6/2 7/3 8/4\nf 1/1 2/2 6/3 5/4\n"
           "f 2/1 3/2 7/3 6/4\nf 3/1 4/2 8/3 7/4\nf 4/1 1/2 5/3 8/4\n";
}

}  // namespace

// Import with --like, keyblend, kelo apply: each applied variant is the
// variant's own import byte for byte.
TEST(KeloObj, Pipeline)
{
    Scratch dir;
    const char *variant[] = {"pushed", "shifted"};
    spit(dir / "base.obj", cube("1", 0));
    spit(dir / "pushed.obj", cube("1.5", 0));
    spit(dir / "shifted.obj", cube("1", 0.25));
    ASSERT_EQ(sh(dir.dir, kelo("import base.obj --scale 1000 -o base.kgx")).code, 0);
    for (const char *name : variant)
        ASSERT_EQ(sh(dir.dir, kelo(format("import %s.obj --like base.kgx -o %s.kgx", name, name))).code, 0);
    ASSERT_EQ(sh(dir.dir, KEYBLEND + " -n -t -o d base.kgx pushed.kgx shifted.kgx").code, 0);
    for (int k = 0; k < 2; k++) {
        Result r = sh(dir.dir, kelo(format("apply base.kgx --variant %d --vdf d.vdf --ndf d.ndf "
                                           "--tdf d.tdf -o a.kgx", k)));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(slurp(dir / "a.kgx"), slurp(dir / (std::string(variant[k]) + ".kgx"))) << k;
    }
}

// Export then import at the same scale gives the model back byte for byte:
// groups, quads, fans, untextured faces, partial and computed normals.
TEST(KeloObj, RoundTrip)
{
    Scratch dir;
    const std::string models[] = {
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -0.5 0.5 0.25\nvt 0 0\nvt 0.3 0.7\nvt 1 1\n"
        "vn 0 0 1\nvn 0.6 0 0.8\ng left\nf 1/1/1 2/2/1 3/3/2\nf 1 3 4\ng right side\n"
        "f 1//2 2//1 3//2 4//1 5//2\nf -1/-1 -2/-2 -3/-3 -4/-1\n",
        cube("1", 0.1)};
    for (const std::string &text : models) {
        spit(dir / "in.obj", text);
        for (const char *how : {"--scale 123.25", "--fit"}) {
            Result first = sh(dir.dir, kelo(std::string("import in.obj ") + how + " -o a.kgx"));
            ASSERT_EQ(first.code, 0) << first.err;
            std::string scale = first.out.empty() ? "123.25" : first.out.substr(6);
            scale.erase(scale.find_last_not_of('\n') + 1);
            ASSERT_EQ(sh(dir.dir, kelo("export a.kgx -o b.obj")).code, 0);
            ASSERT_EQ(sh(dir.dir, kelo("import b.obj --scale " + scale + " -o b.kgx")).code, 0);
            EXPECT_EQ(slurp(dir / "b.kgx"), slurp(dir / "a.kgx")) << text << how;
        }
    }
}

// Refusals: the exact message on the error stream and the exit code.
TEST(KeloObj, Errors)
{
    Scratch dir;
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    // 65535 and 65538 distinct vertices in one group.
    std::string big[2];
    for (int b = 0; b < 2; b++) {
        for (int i = 0; i < 3 * (21845 + b); i++)
            big[b] += format("v %d 0 0\n", i % 7);
        for (int i = 0; i < 21845 + b; i++)
            big[b] += format("f %d %d %d\n", 3 * i + 1, 3 * i + 2, 3 * i + 3);
    }
    struct {
        std::string text, args;
        int code;
        std::string err;
    } rows[] = {
        {"v 1 2 nan\n", "", 5, "t.obj:1: malformed number \"nan\""},
        {"v 1 2\n", "", 5, "t.obj:1: v needs 3 numbers"},
        // A damaged keyword before numbers would drop a vertex and shift
        // every index after it.
        {"vv 1 2 3\n" + tri + "f 1 2 3\n", "", 5, "t.obj:1: unknown statement with numbers \"vv\""},
        {tri + "f 1 2 4\n", "", 5, "t.obj:4: vertex index 4 out of range (3 defined so far)"},
        {tri + "f 0 1 2\n", "", 5, "t.obj:4: vertex index 0 out of range (3 defined so far)"},
        {tri + "f -4 1 2\n", "", 5, "t.obj:4: vertex index -4 out of range (3 defined so far)"},
        {tri + "f 1 2 3x\n", "", 5, "t.obj:4: malformed index \"3x\""},
        {tri + "f 1 2\n", "", 5, "t.obj:4: face with 2 corners (at least 3 needed)"},
        {tri + "vn 0 0 1\nf 1 2//1 3\n", "", 5, "t.obj:5: corners of one face in different forms"},
        {tri + "f 1/1/1/1 2 3\n", "", 5, "t.obj:4: malformed corner \"1/1/1/1\""},
        {tri + "f 1// 2 3\n", "", 5, "t.obj:4: malformed corner \"1//\""},
        {"v 0 0 0\nv 40 0 0\nv 0 1 0\nf 1 2 3\n", "--scale 1000", 5,
         "t.obj:2: coordinate 40 does not fit scale 1000"},
        {tri, "", 5, "t.obj: no faces to import"},
        {big[1], "--scale 1", 5,
         "t.obj:87384: group \"default\" uses more than 65535 vertices (an object holds at most 65535)"},
        {big[0], "--scale 1", 0, ""},
        {tri + "f 1 2 3\n", "--fit --scale 2", 1, "import: give at most one of --scale, --fit and --like"},
        {tri + "f 1 2 3\n", "--scale -2", 1, "import: --scale takes a positive number, not \"-2\""},
    };
    for (const auto &row : rows) {
        spit(dir / "t.obj", row.text);
        Result r = sh(dir.dir, kelo("import t.obj " + row.args + " -o t.kgx"));
        EXPECT_EQ(r.code, row.code) << row.err;
        // Usage errors go on with the usage line; the first line is the message.
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
                  row.code ? "kelo" + std::string(row.code == 1 ? " " : ": ") + row.err + "\n" : "");
    }
}

// A byte-order mark before the first line is not part of the first word.
TEST(KeloObj, ByteOrderMark)
{
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    EXPECT_EQ(build("\xEF\xBB\xBF" + text).obj[0].vert, build(text).obj[0].vert);
}

// --like names the first difference in topology, exit code 6; export names
// the primitive it cannot write.
TEST(KeloObj, LikeMismatchAndExport)
{
    Scratch dir;
    spit(dir / "base.obj", cube("1", 0));
    ASSERT_EQ(sh(dir.dir, kelo("import base.obj --scale 100 -o base.kgx")).code, 0);
    std::string c = cube("1", 0);
    auto swap = [](std::string s, const char *from, const char *to) {
        return s.replace(s.find(from), strlen(from), to);
    };
    struct {
        std::string text, err;
    } rows[] = {
        {c + "g extra\nf 1/1 2/2 3/3\n", "v.obj: 2 objects, base.kgx has 1"},
        {swap(c, "f 1/1 4/2 3/3 2/4\n", "f 1/1 4/2 3/3\nf 1/1 3/3 2/4\n"),
         "v.obj: object 0 (group \"cube\") has 7 primitives, base.kgx has 6"},
        {swap(c, "f 5/1 6/2 7/3 8/4", "f 6/2 7/3 8/4 5/1"),
         "v.obj:15: object 0 (group \"cube\") primitive 1 is textured quad, vertices 5 6 7 4, "
         "normals 5 6 7 4; in base.kgx: textured quad, vertices 4 5 6 7, normals 4 5 6 7"},
        {swap(c, "f 3/1 4/2 8/3 7/4", "f 3 4 8 7"),
         "v.obj:18: object 0 (group \"cube\") primitive 4 is plain quad, vertices 2 3 7 6, "
         "normals 2 3 7 6; in base.kgx: textured quad, vertices 2 3 7 6, normals 2 3 7 6"},
    };
    for (const auto &row : rows) {
        spit(dir / "v.obj", row.text);
        Result r = sh(dir.dir, kelo("import v.obj --like base.kgx -o v.kgx"));
        EXPECT_EQ(r.code, 6);
        EXPECT_EQ(r.err, "kelo: " + row.err + "\n");
    }
    // One untextured primitive of one word, scale 0.
    spit(dir / "odd.kgx", bytes({{Obj{{{1, 2, 3, 0}}, {}, {prim(0, std::string(4, 0))}, 0}}}));
    Result r = sh(dir.dir, kelo("export odd.kgx -o odd.obj"));
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "kelo: odd.kgx: offset 48: object 0 primitive 0: its packet is not two words "
                     "per corner\n");
}

// Every corner form, positive and negative indices: header and packet words
// of the one primitive.  Corners without a normal index use their vertex's
// computed normal.
TEST(KeloObj, CornerForms)
{
    const std::string square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                               "vt 0 0\nvt 1 0\nvt 0.5 1\nvn 0 0 1\nvn 0 0 -2\n";
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
        Mesh m = build(square + row.face + "\n");
        ASSERT_EQ(m.obj.size(), 1u) << row.face;
        EXPECT_EQ(m.obj[0].head, std::vector<uint32_t>{row.head}) << row.face;
        EXPECT_EQ(m.obj[0].packet, row.packet) << row.face;
    }
}

// Vertices and normals are numbered per object in file order, only those a
// face uses; a vn of length 2 is normalised.  The corners of "f 2 5 3" get
// computed normals, after the file's, from every face around their vertex
// weighted by its area: the first face's +z and the second's +y for
// vertices 0 and 1 (local), the second's alone for vertex 3.
TEST(KeloObj, NumberingAndNormals)
{
    Mesh m = build("v 9 9 9\nv 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 2\nvn 0 0 -2\n"
                   "f 2//1 3//1 4//1\nf 2 5 3\n");
    const MeshObject &o = m.obj[0];
    EXPECT_EQ(o.vert, (std::vector<int16_t>{0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(o.norm, (std::vector<int16_t>{0, 0, -4096, 0, 0, 2896, 2896, 0, 0, 2896, 2896, 0,
                                            0, 4096, 0, 0}));
    EXPECT_EQ(o.packet, (std::vector<uint32_t>{0, 1, 2, 0, 0, 0, 0, 3, 1, 1, 3, 2}));
}

// Groups: one object per name in order of first appearance, a repeated name
// joins its object, empty groups vanish, faces before any group fall into
// "default"; shared vertices are copied into each object.  A pentagon
// becomes a fan of three triangles.
TEST(KeloObj, GroupsAndPolygons)
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
    EXPECT_EQ(build(text, true).obj[0].head.size(), 6u);
}

// Texture bytes tile outside 0..1; --fit picks the largest 16.16 scale that
// still fits, and the printed text reads back as the same scale word.
TEST(KeloObj, TextureBytesAndScales)
{
    for (auto [t, b] : std::vector<std::pair<double, int>>{
             {1, 255}, {0.5, 128}, {1.25, 64}, {-0.75, 64}, {2, 0}, {1e300, 0}})
        EXPECT_EQ(texByte(t), b) << t;
    for (auto [most, fit] : std::vector<std::pair<const char *, const char *>>{
             {"1", "32767"}, {"3", "10922.33333"}, {"0", "1"}, {"65534", "0.5"}, {"1e9", "0.00003"}}) {
        uint32_t scale = 0, back = 0;
        // The vertex no face uses does not count.
        ASSERT_FALSE(scaleFit(usedCoordinates(parse(format("v %s 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\nv 1e30 0 0\n", most))), "t.obj", scale));
        EXPECT_EQ(scaleText(scale), fit) << most;
        EXPECT_TRUE(scaleParse(fit, back) && back == scale) << fit;
    }
    EXPECT_EQ(quantise(32767.4, SCALE_ONE), 32767);
    EXPECT_EQ(quantise(-32768.4, SCALE_ONE), -32768);
    EXPECT_EQ(quantise(32767.5, SCALE_ONE), INT32_MIN);
    uint32_t s;
    for (const char *bad : {"0", "-1", "abc", "", "1e-9", "nan", "inf", "70000"})
        EXPECT_FALSE(scaleParse(bad, s)) << bad;
}
