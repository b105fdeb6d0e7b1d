// micro.cpp -- micro-benchmarks of keyblend's hot routines
//
// The element comparison runs through the engine itself (kgx_diff and
// vn_diff) on a base and an identical variant, so it measures the reads and
// the comparison of every element without any element writes.  The put
// benchmarks write to /dev/null: each put is still one flushed write call,
// so they show what a put costs beside the write it must make.
#include "engine.h"
#include "kgx_model.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t ELEMENTS = 65000;

std::string scratchFile(const char *leaf)
{
    const char *dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/keyblend-micro-" + std::to_string(getpid()) +
           "-" + leaf;
}

void writeFile(const std::string &path, const std::vector<unsigned char> &bytes)
{
    FILE *fp = fopen(path.c_str(), "wb");
    if (!fp || fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size() || fclose(fp) != 0)
        abort();
}

// A model of one object with ELEMENTS vertices and no normals or primitives.
std::vector<unsigned char> oneObjectModel()
{
    KgxObjectArrays ob;
    for (uint32_t i = 0; i < ELEMENT_VALUES * ELEMENTS; i++)
        ob.vert.push_back((int16_t)(i * 7));
    ob.scale = 1;
    return kgxBuild(0, {ob});
}

// A file of raw bytes to read values from, rewound whenever it runs out.
struct ReadFixture {
    std::string path;
    FileHandle *fh;
    int32_t size;
    explicit ReadFixture(int32_t bytes) : path(scratchFile("read")), size(bytes)
    {
        writeFile(path, std::vector<unsigned char>((size_t)bytes, 0x5A));
        fh = fileOpen(path.c_str(), "r");
    }
    ~ReadFixture()
    {
        fileClose(fh);
        unlink(path.c_str());
    }
};

void BM_get2ByteArray(benchmark::State &state)
{
    ReadFixture f(1 << 20);
    int16_t values[4];
    for (auto _ : state) {
        if (f.fh->pos > f.size - 8)
            fileSeek(f.fh, 0);
        benchmark::DoNotOptimize(get2ByteArray(values, 4, f.fh));
        benchmark::DoNotOptimize(values);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_get2ByteArray);

void BM_get4Bytes(benchmark::State &state)
{
    ReadFixture f(1 << 20);
    for (auto _ : state) {
        if (f.fh->pos > f.size - 4)
            fileSeek(f.fh, 0);
        benchmark::DoNotOptimize(get4Bytes(f.fh));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_get4Bytes);

void BM_put2ByteArray(benchmark::State &state)
{
    FileHandle *out = fileOpen("/dev/null", "w");
    const int16_t values[4] = {1, -2, 3, -4};
    for (auto _ : state)
        benchmark::DoNotOptimize(put2ByteArray(values, 4, out));
    fileClose(out);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_put2ByteArray);

void BM_put2Bytes(benchmark::State &state)
{
    FileHandle *out = fileOpen("/dev/null", "w");
    for (auto _ : state)
        benchmark::DoNotOptimize(put2Bytes(0, out));
    fileClose(out);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_put2Bytes);

// The comparison loop over ELEMENTS identical elements per iteration.
void BM_elementCompare(benchmark::State &state)
{
    std::string basePath = scratchFile("base.kgx"), varPath = scratchFile("var.kgx");
    std::vector<unsigned char> model = oneObjectModel();
    writeFile(basePath, model);
    writeFile(varPath, model);
    FileHandle *base = fileOpen(basePath.c_str(), "r");
    FileHandle *var = fileOpen(varPath.c_str(), "r");
    FileHandle *out = fileOpen("/dev/null", "w");
    FILE *quiet = freopen("/dev/null", "w", stderr);  // the "No vertex differs" warning
    for (auto _ : state) {
        fileSeek(base, 0);
        fileSeek(var, 0);
        if (kgx_diff(base, var) != 1 || vn_diff(base, var, out, nullptr) != 1)
            abort();
    }
    (void)quiet;
    fileClose(out);
    fileClose(var);
    fileClose(base);
    unlink(basePath.c_str());
    unlink(varPath.c_str());
    state.SetItemsProcessed(state.iterations() * ELEMENTS);
}
BENCHMARK(BM_elementCompare);

}  // namespace

BENCHMARK_MAIN();
