// kelo_obj.cpp -- kelo import and export: from OBJ through keyblend and kelo
// apply back to each variant, round trips, refusals, and the meshes that
// OBJ texts make
#include "kit/test.h"
#include "obj.h"

#include <cstring>

using namespace kit;

namespace {

std::string kelo(const std::string &args) { return KELO + " " + args; }

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

// The mesh of an OBJ text at scale 1 (or the problem), one line per object:
// its group, vertex values, normal values, primitive headers and packet words.
std::string mesh(const std::string &text, bool single = false)
{
    ObjText t;
    Mesh m;
    if (Problem p = objParse(text, "t.obj", single, t); p || (p = meshBuild(t, {SCALE_ONE}, m)))
        return problemMessage(p);
    std::string s;
    auto add = [&s](const char *fmt, const auto &values) {
        for (auto x : values)
            s += format(fmt, x);
    };
    for (const MeshObject &o : m.obj) {
        s += o.group + ":";
        add(" %d", o.vert), s += " |", add(" %d", o.norm), s += " |", add(" %x", o.head), s += " |";
        add(" %x", o.packet), s += "\n";
    }
    return s;
}

}  // namespace

// Import with --like, keyblend, kelo apply: each applied variant is the
// variant's own import byte for byte.
TEST(KeloObj, Pipeline)
{
    Scratch dir;
    spit(dir / "base.obj", cube("1", 0));
    spit(dir / "pushed.obj", cube("1.5", 0));
    spit(dir / "shifted.obj", cube("1", 0.25));
    ASSERT_EQ(sh(dir.dir, kelo("import base.obj --scale 1000 -o base.kgx")).code, 0);
    for (std::string v : {"pushed", "shifted"})
        ASSERT_EQ(sh(dir.dir, kelo("import " + v + ".obj --like base.kgx -o " + v + ".kgx")).code, 0);
    ASSERT_EQ(sh(dir.dir, KEYBLEND + " -n -t -o d base.kgx pushed.kgx shifted.kgx").code, 0);
    for (auto [k, v] : {std::pair{0, "pushed"}, {1, "shifted"}}) {
        Result r = sh(dir.dir, kelo(format("apply base.kgx --variant %d --vdf d.vdf --ndf d.ndf --tdf d.tdf "
                                           "-o a.kgx", k)));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(slurp(dir / "a.kgx"), slurp(dir / (std::string(v) + ".kgx"))) << v;
    }
}

// Export then import at the same scale gives the model back byte for byte:
// groups, quads, fans, untextured faces, partial and computed normals.
TEST(KeloObj, RoundTrip)
{
    Scratch dir;
    for (const std::string &text :
         {std::string("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -0.5 0.5 0.25\nvt 0 0\nvt 0.3 0.7\nvt 1 1\nvn 0 0 1\n"
                      "vn 0.6 0 0.8\ng left\nf 1/1/1 2/2/1 3/3/2\nf 1 3 4\ng right side\n"
                      "f 1//2 2//1 3//2 4//1 5//2\nf -1/-1 -2/-2 -3/-3 -4/-1\n"),
          cube("1", 0.1)}) {
        spit(dir / "in.obj", text);
        ASSERT_EQ(sh(dir.dir, kelo("import in.obj --scale 123.25 -o a.kgx")).code, 0);
        ASSERT_EQ(sh(dir.dir, kelo("export a.kgx -o b.obj")).code, 0);
        ASSERT_EQ(sh(dir.dir, kelo("import b.obj --scale 123.25 -o b.kgx")).code, 0);
        EXPECT_EQ(slurp(dir / "b.kgx"), slurp(dir / "a.kgx")) << text;
    }
}

// Refusals: the exact message on the error stream and the exit code.
TEST(KeloObj, Errors)
{
    Scratch dir;
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n", c = cube("1", 0);
    spit(dir / "base.obj", c);
    ASSERT_EQ(sh(dir.dir, kelo("import base.obj --scale 100 -o base.kgx")).code, 0);
    auto swap = [&c](const char *from, const char *to) {
        return std::string(c).replace(c.find(from), strlen(from), to);
    };
    std::string big[2];  // 65535 and 65538 distinct vertices in one group
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
        // A damaged keyword before numbers would drop a vertex and shift every index after it.
        {"vv 1 2 3\n" + tri + "f 1 2 3\n", "", 5, "t.obj:1: unknown statement with numbers \"vv\""},
        {tri + "f 1 2 4\n", "", 5, "t.obj:4: vertex index 4 out of range (3 defined so far)"},
        {tri + "f 0 1 2\n", "", 5, "t.obj:4: vertex index 0 out of range (3 defined so far)"},
        {tri + "f -4 1 2\n", "", 5, "t.obj:4: vertex index -4 out of range (3 defined so far)"},
        {tri + "f 1 2 3x\n", "", 5, "t.obj:4: malformed index \"3x\""},
        {tri + "f 1 2\n", "", 5, "t.obj:4: face with 2 corners (at least 3 needed)"},
        {tri + "vn 0 0 1\nf 1 2//1 3\n", "", 5, "t.obj:5: corners of one face in different forms"},
        {tri + "f 1/1/1/1 2 3\n", "", 5, "t.obj:4: malformed corner \"1/1/1/1\""},
        {tri + "f 1// 2 3\n", "", 5, "t.obj:4: malformed corner \"1//\""},
        // Coordinates round to the nearest step, which must lie in -32768..32767.
        {"v 0 0 0\nv 40 0 0\nv 0 1 0\nf 1 2 3\n", "--scale 1000", 5, "t.obj:2: coordinate 40 does not fit scale 1000"},
        {"v 0 0 0\nv 32767.4 -32768.4 0\nv 0 1 0\nf 1 2 3\n", "--scale 1", 0, ""},
        {"v 0 0 0\nv 32767.5 0 0\nv 0 1 0\nf 1 2 3\n", "--scale 1", 5,
         "t.obj:2: coordinate 32767.5 does not fit scale 1"},
        {tri, "", 5, "t.obj: no faces to import"},
        {big[1], "--scale 1", 5,
         "t.obj:87384: group \"default\" uses more than 65535 vertices (an object holds at most 65535)"},
        {big[0], "--scale 1", 0, ""},
        {tri + "f 1 2 3\n", "--fit --scale 2", 1, "import: give at most one of --scale, --fit and --like"},
        {tri + "f 1 2 3\n", "--scale -2", 1, "import: --scale takes a positive number, not \"-2\""},
        // --like names the first difference in topology.
        {c + "g extra\nf 1/1 2/2 3/3\n", "--like base.kgx", 6, "t.obj: 2 objects, base.kgx has 1"},
        {swap("f 1/1 4/2 3/3 2/4\n", "f 1/1 4/2 3/3\nf 1/1 3/3 2/4\n"), "--like base.kgx", 6,
         "t.obj: object 0 (group \"cube\") has 7 primitives, base.kgx has 6"},
        {swap("f 5/1 6/2 7/3 8/4", "f 6/2 7/3 8/4 5/1"), "--like base.kgx", 6,
         "t.obj:15: object 0 (group \"cube\") primitive 1 is textured quad, vertices 5 6 7 4, "
         "normals 5 6 7 4; in base.kgx: textured quad, vertices 4 5 6 7, normals 4 5 6 7"},
        {swap("f 3/1 4/2 8/3 7/4", "f 3 4 8 7"), "--like base.kgx", 6,
         "t.obj:18: object 0 (group \"cube\") primitive 4 is plain quad, vertices 2 3 7 6, "
         "normals 2 3 7 6; in base.kgx: textured quad, vertices 2 3 7 6, normals 2 3 7 6"},
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

// The meshes OBJ texts make.  Every corner form and negative indices, with
// texture bytes that tile outside 0..1; corners without a normal index get
// their vertex's normal, computed after the file's from every face around
// it weighted by its area; a vn of length 2 is normalised; vertices and
// normals are numbered per object in file order, only those a face uses.
// One object per group in order of first appearance, a repeated name joins
// its object, empty groups vanish, faces before any group are "default";
// shared vertices are copied into each object; a pentagon is a fan.  A
// byte-order mark before the first line is skipped.
TEST(KeloObj, Meshes)
{
    const std::string sq = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0.5 1\nvn 0 0 1\nvn 0 0 -2\n";
    const std::string groups = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -1 1 0\n"
                               "f 1 2 3\ng a\nf 1 3 4\no empty\ng b\nf 1 2 3 4 5\ng a\nf 2 3 4\n";
    const std::string rows[][2] = {
        {sq + "f 1 2 3", "| 600 | 0 1 2 0 1 2\n"},
        {sq + "f 1/1 2/2 3/3", "| 4000600 | 0 ff000001 80ff0002 0 1 2\n"},
        {sq + "vt 1.25 -0.75\nvt 2 1e300\nf 1/4 2/5 3/4", "| 4000600 | 40400000 1 40400002 0 1 2\n"},
        {sq + "f 1//2 2//1 3//2", "| 0 0 4096 0 0 0 -4096 0 | 600 | 0 1 2 1 0 1\n"},
        {sq + "f 4/3/1 3/2/1 2/1/1 1/1/2", "| c000800 | 80ff0003 ff000002 1 0 0 0 0 1\n"},
        // Vertex 4 is the third the face uses: local number 2.
        {sq + "f -4/-3/-2 -3/-2/-1 -1/-1/-1", "| 4000600 | 0 ff000001 80ff0002 0 1 1\n"},
        {"\xEF\xBB\xBF" + sq + "f 1 2 3", "default: 0 0 0 0 1 0 0 0 1 1 0 0 |"},
        {"v 9 9 9\nv 0 0 0\nv 2 0 0\nv 0 2 0\nv 0 0 2\nvn 0 0 -2\nf 2//1 3//1 4//1\nf 2 5 3",
         "default: 0 0 0 0 2 0 0 0 0 2 0 0 0 0 2 0 | 0 0 -4096 0 0 2896 2896 0 0 2896 2896 0 0 4096 0 0"
         " | 600 600 | 0 1 2 0 0 0 0 3 1 1 3 2\n"},
        {groups, "default: 0 0 0 0 1 0 0 0 1 1 0 0 | 0 0 4096 0 0 0 4096 0 0 0 4096 0 | 600 | 0 1 2 0 1 2\n"
                 "a: 0 0 0 0 1 0 0 0 1 1 0 0 0 1 0 0 | 0 0 4096 0 0 0 4096 0 0 0 4096 0 0 0 4096 0 | 600 600"
                 " | 0 2 3 0 2 3 1 2 3 1 2 3\n"
                 "b: 0 0 0 0 1 0 0 0 1 1 0 0 0 1 0 0 -1 1 0 0 | 0 0 4096 0 0 0 4096 0 0 0 4096 0 0 0 4096 0 0 0"
                 " 4096 0 | 600 600 600 | 0 1 2 0 1 2 0 2 3 0 2 3 0 3 4 0 3 4\n"},
    };
    for (const auto &[text, part] : rows)
        EXPECT_NE(mesh(text + "\n").find(part), std::string::npos) << text << "\n" << mesh(text + "\n");
    EXPECT_NE(mesh(groups, true).find("| 600 600 600 600 600 600 |"), std::string::npos);
}

// --fit picks the largest 16.16 scale at which every coordinate a face uses
// fits, and prints it so that it reads back as the same scale word.
TEST(KeloObj, Scales)
{
    for (auto [most, fit] : {std::pair{"1", "32767"}, {"3", "10922.33333"}, {"0", "1"}, {"65534", "0.5"},
                             {"1e9", "0.00003"}}) {
        ObjText t;
        uint32_t scale = 0, back = 0;
        std::string text = format("v %s 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\nv 1e30 0 0\n", most);
        ASSERT_FALSE(objParse(text, "t.obj", false, t) || scaleFit(usedCoordinates(t), "t.obj", scale));
        EXPECT_EQ(scaleText(scale), fit) << most;
        EXPECT_TRUE(scaleParse(fit, back) && back == scale) << fit;
    }
    uint32_t s;
    for (const char *bad : {"0", "-1", "abc", "", "1e-9", "nan", "inf", "70000"})
        EXPECT_FALSE(scaleParse(bad, s)) << bad;
}
