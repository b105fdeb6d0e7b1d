// fuzz_engine.cpp -- in-process fuzz target for the difference engine
//
// Runs the header check and the vertex, normal and texture comparisons on
// one input against a fixed model, in the process itself, so that a
// coverage-guided fuzzer can drive them.  The first input byte chooses the
// setting: bit 0 makes the input the variant (else the base), bit 1 turns
// on verbose lines, bit 2 dump lines, both written to /dev/null.
//
// The library ends a run through Exit; here Exit jumps back to the target
// instead, which then closes every file of the run.  The engine keeps
// nothing on the stack that needs unwinding, so the jump is safe.
//
// Built with clang and -fsanitize=fuzzer it is a libFuzzer target
// (fuzz/libfuzzer.sh); otherwise it gets the small main below, which
// replays every file named on its command line or found in a named
// directory, as ctest does with fuzz/corpus/.
#include "defs.h"
#include "kit/model.h"

#include <unistd.h>

#include <csetjmp>

int32_t Verbose = 0;
uint8_t Dump = 0;
FILE *vout = stdout;
FILE *dout = stdout;

static jmp_buf backToTarget;

void Exit(int32_t code)
{
    if (code != 0)
        longjmp(backToTarget, 1);
}

namespace {

std::string scratchName(const char *what)
{
    return (kit::fs::temp_directory_path() /
            ("keyblend-fuzz-" + std::to_string(getpid()) + "-" + what))
        .string();
}

// The fixed partner: two objects with vertices, normals and primitives of
// each mode, so that an input of either role reaches every comparison.
std::string partnerModel()
{
    using namespace kit;
    return bytes({{Obj{{{0, 0, 0, 0}, {1, 2, 3, 4}, {5, 6, 7, 8}}, {{0, 0, 1, 0}, {0, 1, 0, 0}},
                       {prim(12, std::string(16, 7)), prim(4, std::string(12, 3)), prim(0, "\1\2\3\4")}},
                   Obj{{{9, 9, 9, 9}}, {}, {prim(4, std::string(8, 1))}}}});
}

// Every handle is opened before the engine runs, so that after a jump back
// all of them are known and can be closed.  A scratch file that cannot be
// opened leaves nothing to fuzz.
FileHandle *openGuarded(const std::string &name, const char *mode)
{
    if (setjmp(backToTarget) != 0)
        abort();
    return fileOpen(name.c_str(), mode);
}

// Runs the engine as the driver does for one variant; a fatal report jumps
// back here and ends the run.  (Each setjmp sits in a routine of its own
// whose locals do not change after it, so none is lost by the jump.)
void runEngine(FileHandle *base, FileHandle *var, FileHandle *const *out)
{
    if (setjmp(backToTarget) == 0 && kgx_diff(base, var) > 0) {
        vn_diff(base, var, out[0], out[1]);
        mat_diff(base, var, out[2]);
    }
}

// A close that fails reports and jumps back here, and the next close goes on.
void closeGuarded(FileHandle *fh)
{
    if (setjmp(backToTarget) == 0)
        fileClose(fh);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string partnerPath = scratchName("partner.kgx");
    static const std::string inputPath = scratchName("input.kgx");
    static const std::string outPath[3] = {scratchName("out.vdf"), scratchName("out.ndf"),
                                           scratchName("out.tdf")};
    static FILE *devNull = fopen("/dev/null", "w");
    static bool ready = false;
    if (!ready) {
        kit::spit(partnerPath, partnerModel());
        atexit([] {
            for (const std::string *p : {&partnerPath, &inputPath, &outPath[0], &outPath[1],
                                         &outPath[2]})
                remove(p->c_str());
        });
        ready = true;
    }
    if (size == 0)
        return 0;
    kit::spit(inputPath, std::string((const char *)data + 1, size - 1));
    Verbose = data[0] & 2;
    Dump = (data[0] & 4) ? 1 : 0;
    vout = dout = devNull;

    bool inputIsVariant = data[0] & 1;
    FileHandle *base = openGuarded(inputIsVariant ? partnerPath : inputPath, "r");
    FileHandle *var = openGuarded(inputIsVariant ? inputPath : partnerPath, "r");
    FileHandle *out[3];
    for (int k = 0; k < 3; k++)
        out[k] = openGuarded(outPath[k], "w");
    runEngine(base, var, out);
    for (FileHandle *fh : {base, var, out[0], out[1], out[2]})
        closeGuarded(fh);
    _igno_ = 0;
    return 0;
}

#ifndef KEYBLEND_LIBFUZZER
// Replays inputs: each argument is a file, or a directory whose files are
// all replayed.  Any fault ends the process through the sanitizers.
int main(int argc, char **argv)
{
    long n = 0;
    auto replay = [&n](const kit::fs::path &p) {
        std::string bytes = kit::slurp(p);
        LLVMFuzzerTestOneInput((const uint8_t *)bytes.data(), bytes.size());
        n++;
    };
    for (int i = 1; i < argc; i++) {
        if (kit::fs::is_directory(argv[i])) {
            for (auto &e : kit::fs::directory_iterator(argv[i]))
                replay(e.path());
        } else {
            replay(argv[i]);
        }
    }
    printf("replayed %ld inputs\n", n);
    return n ? 0 : 1;
}
#endif
