// fuzz_engine.cpp -- in-process fuzz target for runVariants, keyblend's run
// over the variants, on one input against a fixed model.  Input byte 0 sets
// bit 0: the input is the variant (else the base); bits 1, 2: verbose and
// dump lines; bit 3: a variant that cannot be opened; bits 4, 5: no normal,
// no texture output.  After a run that ends normally every output holds
// exactly the records its count says, and a run that a fatal report ends
// ends with a status keyblend documents, or the target aborts.  The kit's
// Exit jumps back to the target.  Built with -fsanitize=fuzzer it is a libFuzzer target,
// else its main replays every file of the directories it is given.
#include "engine.h"
#include "kelo_diff.h"
#include "kit/kit.h"

#include <unistd.h>

#include <cctype>
#include <csetjmp>
#include <set>
#include <sstream>

static jmp_buf backToTarget;

namespace {

const std::string scratch =
    (kit::fs::temp_directory_path() / ("keyblend-fuzz-" + std::to_string(getpid()))).string();
const std::string partner = scratch + ".kgx", input = scratch + "-in.kgx", out = scratch + "-out";
FileHandle *base;  // the run's base, while it is open

// The statuses keyblend documents: the numbers in the first column of the
// table in the section on exit codes.
std::set<int> documentedCodes()
{
    std::string doc = kit::slurp(KEYBLEND_DOCS), table = doc.substr(doc.find("## Exit codes"));
    std::istringstream rows(table.substr(0, table.find("\n#", 1)));
    std::set<int> codes;
    for (std::string row; std::getline(rows, row);)
        for (size_t at = 2; row.rfind("| ", 0) == 0 && at < row.find('|', 2); at++)
            if (isdigit((unsigned char)row[at]) && !isdigit((unsigned char)row[at - 1]))
                codes.insert(std::stoi(row.substr(at)));
    return codes;
}
const std::set<int> documented = documentedCodes();

// Each setjmp sits in a routine of its own whose locals do not change after
// it.  The run's result, or -1 when a fatal report ended it.
int32_t runGuarded(const std::string &baseName, char **variants, int32_t n)
{
    if (setjmp(backToTarget) != 0)
        return -1;
    base = fileOpen(baseName.c_str(), "r");
    return runVariants(base, variants, n);
}

// Closes what the run holds, letting each handle go first, so that after a
// close that reports and jumps back, trying again goes on with the next.
void closeAll()
{
    if (setjmp(backToTarget) != 0) {
        closeAll();
        return;
    }
    FileHandle *fh = base;
    base = nullptr;
    fileClose(fh);
    runAbandon();
}

// The output holds its count of whole records and nothing more.
void checkOutput(const std::string &path, KeloKind kind)
{
    std::string file = kit::slurp(path);
    uint64_t at = KELO_RECORDS_AT, records = 0;
    for (; at + KELO_RECORD_HEAD <= file.size(); records++)
        at += KELO_RECORD_HEAD +
              (uint64_t)kit::word(file, at + 4 * REC_COUNT) * 2 * keloElementValues(kind);
    if (file.size() < KELO_RECORDS_AT || at != file.size() ||
        records != kit::word(file, KELO_COUNT_AT))
        abort();
}

// Writes the fixed model, two objects with primitives of each mode so that
// either role reaches every comparison; removes every scratch file at exit.
struct ScratchFiles {
    ScratchFiles()
    {
        using namespace kit;
        spit(partner, bytes({{Obj{{{0, 0, 0, 0}, {1, 2, 3, 4}, {5, 6, 7, 8}},
                                  {{0, 0, 1, 0}, {0, 1, 0, 0}},
                                  {prim(MODE_TEXTURED | MODE_FOUR_CORNERS, std::string(16, 7)),
                                   prim(MODE_TEXTURED, std::string(12, 3)), prim(0, "\1\2\3\4")}},
                              Obj{{{9, 9, 9, 9}}, {}, {prim(MODE_TEXTURED, std::string(8, 1))}}}}));
    }
    ~ScratchFiles()
    {
        for (const std::string &p : {partner, input})
            remove(p.c_str());
        for (const char *e : KELO_EXT)
            remove((out + "." + e).c_str());
    }
} scratchFiles;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *devNull = fopen("/dev/null", "w");
    kit::exitJump = &backToTarget;
    if (size == 0)
        return 0;
    kit::spit(input, std::string((const char *)data + 1, size - 1));
    Verbose = data[0] & 2;
    Dump = (data[0] & 4) ? 1 : 0;
    NormalKelo = !(data[0] & 16);
    UVKelo = !(data[0] & 32);
    vout = dout = devNull;
    outputName = strCopy(out.c_str());
    for (const char *e : KELO_EXT)
        remove((out + "." + e).c_str());
    std::string variant = data[0] & 1 ? input : partner, missing = scratch + "-missing";
    char *variants[] = {variant.data(), missing.data()};
    int32_t code = runGuarded(data[0] & 1 ? partner : input, variants, data[0] & 8 ? 2 : 1);
    if (code < 0 && !documented.count(kit::exitCode))
        abort();
    closeAll();
    memFree(outputName);
    _igno_ = 0;
    for (int k = 0; k < KINDS && code == 0; k++)
        if (k == KIND_VDF || (k == KIND_NDF ? NormalKelo : UVKelo))
            checkOutput(out + "." + KELO_EXT[k], (KeloKind)k);
    return 0;
}

#ifndef KEYBLEND_LIBFUZZER
int main(int argc, char **argv) { return kit::replayCorpus(argc, argv, LLVMFuzzerTestOneInput); }
#endif
