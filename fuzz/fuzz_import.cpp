// fuzz_import.cpp -- in-process fuzz target for kelo's import, the kelo
// library from the file's bytes to the KGX models it makes.  Input byte 0
// sets bit 0: the rest is a glTF asset (else an OBJ text); bit 1: the
// target models are made too (--variants) (OBJ: all faces one object);
// bit 2: the scale is fitted (else 1).  The asset's folder holds a buffer
// file, a folder, a FIFO and a link out of it.  Every model made must be
// one kelo reads back, or the target aborts; import never takes the support
// library's fatal road out, so the kit's Exit ending the run with a code is
// a finding too.  Built with -fsanitize=fuzzer it is a libFuzzer target,
// else its main replays every file of the directories it is given.
#include "gltf.h"
#include "kit/kit.h"
#include "obj.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

const kit::fs::path folder =
    kit::fs::temp_directory_path() / ("kelo-fuzz-" + std::to_string(getpid()));

// The asset's folder, removed at exit.
struct Folder {
    Folder()
    {
        kit::fs::create_directories(folder / "sub");
        std::string b(72, '\0');
        for (size_t i = 0; i < 18; i++)
            storeLE32((unsigned char *)&b[4 * i], std::bit_cast<uint32_t>(float(i % 7)));
        kit::spit(folder / "b.bin", b);
        kit::spit(folder / "sub/b.bin", b);
        mkfifo((folder / "fifo").c_str(), 0600);
        kit::fs::create_symlink("/etc/passwd", folder / "link");
    }
    ~Folder() { kit::fs::remove_all(folder); }
} scratch;

// The meshes of the bytes, or the problem.
Problem meshes(const std::string &bytes, bool gltf, bool variants, bool fit, std::vector<Mesh> &out)
{
    std::vector<uint32_t> scales{SCALE_ONE};
    if (!gltf) {
        ObjText t;
        if (Problem p = objParse(bytes, "t.obj", variants, t))
            return p;
        if (Problem p = fit ? scaleFit(usedCoordinates(t), t.name, scales[0]) : Problem{})
            return p;
        return meshBuild(t, scales, out.emplace_back());
    }
    Input in{(folder / "t.gltf").string(), {bytes.begin(), bytes.end()}};
    GltfAsset asset;
    if (Problem p = gltfDecode(in, asset))
        return p;
    if (Problem p = fit ? scaleFit(gltfCoordinates(asset), in.name, scales[0]) : Problem{})
        return p;
    return gltfMeshes(asset, in.name, scales, variants, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<Mesh> made;
    if (meshes(std::string((const char *)data + 1, size - 1), data[0] & 1, data[0] & 2, data[0] & 4,
               made))
        return 0;
    for (Mesh &m : made) {
        Model back;
        back.name = m.name;
        if (!meshImage(std::move(m), 0, "out.kgx", back.image) && modelParse(back))
            abort();
    }
    return 0;
}

#ifndef KEYBLEND_LIBFUZZER
int main(int argc, char **argv) { return kit::replayCorpus(argc, argv, LLVMFuzzerTestOneInput); }
#endif
