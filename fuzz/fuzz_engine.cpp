// fuzz_engine.cpp -- in-process fuzz target for keyblend's run over the
// variants
//
// Runs the engine library's run loop (outputs created, header check,
// vertex, normal and texture comparisons, record counts corrected) on one
// input against a fixed model, in the process itself, so that a
// coverage-guided fuzzer can drive it.  The first input byte chooses the
// setting: bit 0 makes the input the variant (else the base), bit 1 turns on
// verbose lines, bit 2 dump lines (both to /dev/null), bit 3 adds a variant
// that cannot be opened, bits 4 and 5 turn the normal and the texture output
// off.  After a run that ends normally every output must hold exactly the
// records its count at offset 0 says, so a fault in the count correction
// shows as an abort.
//
// The library ends a run through Exit; here Exit jumps back to the target
// instead, which then closes what the run still holds.  Built with clang
// and -fsanitize=fuzzer it is a libFuzzer target (fuzz/libfuzzer.sh);
// otherwise it gets the small main below, which replays every file named on
// its command line or found in a named directory, as ctest does with
// fuzz/corpus/.
#include "defs.h"
#include "kgx.h"
#include "kit/model.h"

#include <unistd.h>

#include <csetjmp>

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

// Each setjmp sits in a routine of its own whose locals do not change after
// it, so none is lost by the jump.  A scratch file that cannot be opened
// leaves nothing to fuzz.
FileHandle *openGuarded(const std::string &name)
{
    if (setjmp(backToTarget) != 0)
        abort();
    return fileOpen(name.c_str(), "r");
}

// The run's result, or -1 when a fatal report ended it.
int32_t runGuarded(FileHandle *base, char **variants, int32_t n)
{
    if (setjmp(backToTarget) != 0)
        return -1;
    return runVariants(base, variants, n);
}

// runAbandon lets each handle go before closing it, so after a close that
// reports and jumps back, trying again goes on with the next one.
void abandonGuarded()
{
    if (setjmp(backToTarget) != 0) {
        abandonGuarded();
        return;
    }
    runAbandon();
}

void closeGuarded(FileHandle *fh)
{
    if (setjmp(backToTarget) == 0)
        fileClose(fh);
}

// The output holds its count of whole records and nothing more.
void checkOutput(const std::string &path, KeloKind kind)
{
    std::string file = kit::slurp(path);
    auto word = [&](size_t at) { return loadLE32((const unsigned char *)file.data() + at); };
    if (file.size() < KELO_RECORDS_AT)
        abort();
    uint64_t at = KELO_RECORDS_AT, records = 0;
    for (; at + KELO_RECORD_HEAD <= file.size(); records++)
        at += KELO_RECORD_HEAD + (uint64_t)word(at + 4 * REC_COUNT) * 2 * keloElementValues(kind);
    if (at != file.size() || records != word(KELO_COUNT_AT))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string partnerPath = scratchName("partner.kgx");
    static const std::string inputPath = scratchName("input.kgx");
    static const std::string missingPath = scratchName("missing");
    static const std::string outBase = scratchName("out");
    static const char *const ext[KINDS] = {".vdf", ".ndf", ".tdf"};
    static FILE *devNull = fopen("/dev/null", "w");
    static bool ready = false;
    if (!ready) {
        kit::spit(partnerPath, partnerModel());
        atexit([] {
            for (const std::string &p : {partnerPath, inputPath, outBase + ext[0], outBase + ext[1],
                                         outBase + ext[2]})
                remove(p.c_str());
        });
        ready = true;
    }
    if (size == 0)
        return 0;
    kit::spit(inputPath, std::string((const char *)data + 1, size - 1));
    Verbose = data[0] & 2;
    Dump = (data[0] & 4) ? 1 : 0;
    NormalKelo = !(data[0] & 16);
    UVKelo = !(data[0] & 32);
    vout = dout = devNull;
    outputName = strCopy(outBase.c_str());
    for (int k = 0; k < KINDS; k++)
        remove((outBase + ext[k]).c_str());

    bool inputIsVariant = data[0] & 1;
    char *variants[] = {(char *)(inputIsVariant ? inputPath : partnerPath).c_str(),
                        (char *)missingPath.c_str()};
    FileHandle *base = openGuarded(inputIsVariant ? partnerPath : inputPath);
    int32_t code = runGuarded(base, variants, data[0] & 8 ? 2 : 1);
    if (code < 0)
        abandonGuarded();
    closeGuarded(base);
    memFree(outputName);
    _igno_ = 0;
    const bool wanted[KINDS] = {true, NormalKelo != 0, UVKelo != 0};
    for (int k = 0; k < KINDS && code == 0; k++)
        if (wanted[k])
            checkOutput(outBase + ext[k], (KeloKind)k);
    return 0;
}

#ifndef KEYBLEND_LIBFUZZER
// Replays inputs: each argument is a file, or a directory whose files are
// all replayed.  Any fault ends the process through the sanitizers or an
// abort.
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
