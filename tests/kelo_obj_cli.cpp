// kelo_obj_cli.cpp -- kelo import and export as a user runs them: the
// pipeline from OBJ through keyblend and kelo apply back to OBJ, round
// trips, and every refusal with its exact message and exit code
#include "kit/test.h"

using namespace kit;

#include "../app/kelo/obj.h"

#include <cstring>

namespace {

std::string kelo(const std::string &args) { return KELO + " " + args; }

ObjText parse(const fs::path &path)
{
    ObjText t;
    EXPECT_EQ(objReadFile(&t, path.c_str(), false), 1) << path;
    return t;
}

// The cube of examples/obj in three shapes: the base, its +x face pushed out
// by half a unit, and its texture shifted by a quarter (wrapping at 1).
const char cubeHead[] = "o cube\nv -1 -1 -1\nv %s -1 -1\nv %s 1 -1\nv -1 1 -1\n"
                        "v -1 -1 1\nv %s -1 1\nv %s 1 1\nv -1 1 1\n";
const char cubeFaces[] = "f 1/1 4/2 3/3 2/4\nf 5/1 6/2 7/3 8/4\nf 1/1 2/2 6/3 5/4\n"
                         "f 2/1 3/2 7/3 6/4\nf 3/1 4/2 8/3 7/4\nf 4/1 1/2 5/3 8/4\n";

std::string cube(const char *x, double du)
{
    char head[256];
    snprintf(head, sizeof head, cubeHead, x, x, x, x);
    char tex[128];
    snprintf(tex, sizeof tex, "vt %g 0\nvt %g 0\nvt %g 1\nvt %g 1\n", du, 1 + du, 1 + du, du);
    return std::string(head) + tex + cubeFaces;
}

}  // namespace

// Import with --like, keyblend, kelo apply, export: each applied variant is
// the variant's own import byte for byte, and its exported positions are
// the variant's OBJ positions to within half a step of the scale.
TEST(KeloObjCli, Pipeline)
{
    Scratch dir;
    spit(dir / "base.obj", cube("1", 0));
    spit(dir / "pushed.obj", cube("1.5", 0));
    spit(dir / "shifted.obj", cube("1", 0.25));
    ASSERT_EQ(sh(dir.dir, kelo("import base.obj --scale 1000 -o base.kgx")).code, 0);
    ASSERT_EQ(sh(dir.dir, kelo("import pushed.obj --like base.kgx -o pushed.kgx")).code, 0);
    ASSERT_EQ(sh(dir.dir, kelo("import shifted.obj --like base.kgx -o shifted.kgx")).code, 0);
    Result kb = sh(dir.dir, KEYBLEND + " -n -t -o d base.kgx pushed.kgx shifted.kgx");
    ASSERT_EQ(kb.code, 0) << kb.err;
    const char *variant[] = {"pushed", "shifted"};
    for (int k = 0; k < 2; k++) {
        std::string name = variant[k], applied = "applied" + std::to_string(k);
        Result r = sh(dir.dir, kelo("apply base.kgx --variant " + std::to_string(k) +
                              " --vdf d.vdf --ndf d.ndf --tdf d.tdf -o " + applied + ".kgx"));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(slurp(dir / (applied + ".kgx")), slurp(dir / (name + ".kgx"))) << name;
        ASSERT_EQ(sh(dir.dir, kelo("export " + applied + ".kgx -o " + applied + ".obj")).code, 0);
        ObjText want = parse(dir / (name + ".obj")), got = parse(dir / (applied + ".obj"));
        ASSERT_EQ(got.pos.size(), want.pos.size());
        for (size_t i = 0; i < want.pos.size(); i++)
            EXPECT_NEAR(got.pos[i], want.pos[i], 0.5 / 1000) << name << " " << i;
        uint32_t scale = 1000 * SCALE_ONE;
        Mesh mWant, mGot;
        ASSERT_EQ(meshBuild(&mWant, &want, &scale, 1), 1);
        ASSERT_EQ(meshBuild(&mGot, &got, &scale, 1), 1);
        EXPECT_EQ(mGot.obj[0].packet, mWant.obj[0].packet) << name;
    }
}

// Export then import at the same scale gives the model back byte for byte:
// groups, quads, fans, untextured faces, partial and computed normals.
TEST(KeloObjCli, RoundTrip)
{
    Scratch dir;
    const char *models[] = {
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -0.5 0.5 0.25\nvt 0 0\nvt 0.3 0.7\nvt 1 1\n"
        "vn 0 0 1\nvn 0.6 0 0.8\ng left\nf 1/1/1 2/2/1 3/3/2\nf 1 3 4\ng right side\n"
        "f 1//2 2//1 3//2 4//1 5//2\nf -1/-1 -2/-2 -3/-3 -4/-1\n",
        nullptr,
    };
    std::string cubeText = cube("1", 0.1);
    models[1] = cubeText.c_str();
    for (const char *text : models) {
        spit(dir / "in.obj", text);
        for (const char *how : {"--scale 123.25", "--fit"}) {
            Result first = sh(dir.dir, kelo(std::string("import in.obj ") + how + " -o a.kgx"));
            ASSERT_EQ(first.code, 0) << first.err;
            std::string scale = first.out.empty() ? "123.25" : first.out.substr(6);
            scale.erase(scale.find_last_not_of('\n') + 1);
            ASSERT_EQ(sh(dir.dir, kelo("export a.kgx -o b.obj")).code, 0);
            Result second = sh(dir.dir, kelo("import b.obj --scale " + scale + " -o b.kgx"));
            ASSERT_EQ(second.code, 0) << second.err;
            EXPECT_EQ(slurp(dir / "b.kgx"), slurp(dir / "a.kgx")) << text << how;
        }
    }
}

// Refusals: the exact message on the error stream and the exit code.
TEST(KeloObjCli, Errors)
{
    Scratch dir;
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    // 65535 and 65538 distinct vertices in one group.
    std::string big[2];
    for (int b = 0; b < 2; b++) {
        int faces = 21845 + b;
        for (int i = 0; i < 3 * faces; i++)
            big[b] += "v " + std::to_string(i % 7) + " 0 0\n";
        for (int i = 0; i < faces; i++)
            big[b] += "f " + std::to_string(3 * i + 1) + " " + std::to_string(3 * i + 2) + " " +
                      std::to_string(3 * i + 3) + "\n";
    }
    struct {
        std::string text, args;
        int code;
        std::string err;
    } rows[] = {
        {"v 1 2 x\n", "", 5, "t.obj:1: malformed number \"x\"\n"},
        {"v 1 2 nan\n", "", 5, "t.obj:1: malformed number \"nan\"\n"},
        {"v 1 2\n", "", 5, "t.obj:1: v needs 3 numbers\n"},
        {"vn 1 2\n", "", 5, "t.obj:1: vn needs 3 numbers\n"},
        {tri + "f 1 2 4\n", "", 5, "t.obj:4: vertex index 4 out of range (3 defined so far)\n"},
        {tri + "f 0 1 2\n", "", 5, "t.obj:4: vertex index 0 out of range (3 defined so far)\n"},
        {tri + "f -4 1 2\n", "", 5, "t.obj:4: vertex index -4 out of range (3 defined so far)\n"},
        {tri + "f 1/1 2/1 3/1\n", "", 5,
         "t.obj:4: texture index 1 out of range (0 defined so far)\n"},
        {tri + "f 1 2 3x\n", "", 5, "t.obj:4: malformed index \"3x\"\n"},
        {tri + "f 1 2\n", "", 5, "t.obj:4: face with 2 corners (at least 3 needed)\n"},
        {tri + "vn 0 0 1\nf 1 2//1 3\n", "", 5, "t.obj:5: corners of one face in different forms\n"},
        {tri + "f 1/1/1/1 2 3\n", "", 5, "t.obj:4: malformed corner \"1/1/1/1\"\n"},
        {tri + "f 1// 2 3\n", "", 5, "t.obj:4: malformed corner \"1//\"\n"},
        {"v 0 0 0\nv 40 0 0\nv 0 1 0\nf 1 2 3\n", "--scale 1000", 5,
         "t.obj:2: coordinate 40 does not fit scale 1000\n"},
        {tri, "", 5, "t.obj: no faces to import\n"},
        {big[1], "--scale 1", 5,
         "t.obj:87384: group \"default\" uses more than 65535 vertices "
         "(an object holds at most 65535)\n"},
        {big[0], "--scale 1", 0, ""},
        {tri + "f 1 2 3\n", "--fit --scale 2", 1,
         "kelo import: give at most one of --scale, --fit and --like\n"},
        {tri + "f 1 2 3\n", "--scale -2", 1,
         "kelo import: --scale takes a positive number, not \"-2\"\n"},
        {tri + "f 1 2 3\n", "--objects some", 1,
         "kelo import: --objects takes by-group or single, not \"some\"\n"},
    };
    for (const auto &row : rows) {
        spit(dir / "t.obj", row.text);
        Result r = sh(dir.dir, kelo("import t.obj " + row.args + " -o t.kgx"));
        EXPECT_EQ(r.code, row.code) << row.err;
        // Usage errors go on with the usage line; the first line is the message.
        std::string err = row.code == 1 ? r.err.substr(0, r.err.find('\n') + 1) : r.err;
        EXPECT_EQ(err, row.err);
    }
}

// --like names the first difference in topology, exit code 6.
TEST(KeloObjCli, LikeMismatch)
{
    Scratch dir;
    spit(dir / "base.obj", cube("1", 0));
    ASSERT_EQ(sh(dir.dir, kelo("import base.obj --scale 100 -o base.kgx")).code, 0);
    std::string c = cube("1", 0);
    auto swap = [](std::string s, const char *from, const char *to) {
        s.replace(s.find(from), strlen(from), to);
        return s;
    };
    struct {
        std::string text, err;
    } rows[] = {
        {c + "g extra\nf 1/1 2/2 3/3\n", "v.obj: 2 objects, base.kgx has 1\n"},
        {swap(c, "f 1/1 4/2 3/3 2/4\n", "f 1/1 4/2 3/3\nf 1/1 3/3 2/4\n"),
         "v.obj: object 0 (group \"cube\") has 7 primitives, base.kgx has 6\n"},
        {swap(c, "f 5/1 6/2 7/3 8/4", "f 6/2 7/3 8/4 5/1"),
         "v.obj:15: object 0 (group \"cube\") primitive 1 is textured quad, vertices 5 6 7 4, "
         "normals 5 6 7 4; in base.kgx: textured quad, vertices 4 5 6 7, normals 4 5 6 7\n"},
        {swap(c, "f 3/1 4/2 8/3 7/4", "f 3 4 8 7"),
         "v.obj:18: object 0 (group \"cube\") primitive 4 is plain quad, vertices 2 3 7 6, "
         "normals 2 3 7 6; in base.kgx: textured quad, vertices 2 3 7 6, normals 2 3 7 6\n"},
        {swap(swap(c, "vt 0 0\n", "v 2 2 2\nvt 0 0\n"), "f 4/1 1/2 5/3 8/4", "f 4/1 1/2 5/3 9/4"),
         "v.obj: object 0 (group \"cube\") has 9 vertices, base.kgx has 8\n"},
    };
    for (const auto &row : rows) {
        spit(dir / "v.obj", row.text);
        Result r = sh(dir.dir, kelo("import v.obj --like base.kgx -o v.kgx"));
        EXPECT_EQ(r.code, 6);
        EXPECT_EQ(r.err, row.err);
    }
    // A model whose packets are not two words per corner cannot be exported.
    // One untextured primitive of one word, scale 0.
    spit(dir / "odd.kgx", bytes({{Obj{{{1, 2, 3, 0}}, {}, {prim(0, std::string(4, 0))}, 0}}}));
    Result r = sh(dir.dir, kelo("export odd.kgx -o odd.obj"));
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "odd.kgx: object 0 primitive 0: its packet is not two words per corner\n");
}
