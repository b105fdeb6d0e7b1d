// kelo_testkit.h -- models built by kelo's tests, scratch directories and
// runs of the built keyblend and kelo
#ifndef KELO_TESTKIT_H
#define KELO_TESTKIT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<uint8_t>;

// One object of a test model: four values per vertex and normal, primitive
// headers, and their packets back to back.
struct TObj {
    std::vector<int16_t> vert, norm;
    std::vector<uint32_t> prim;
    Bytes packets;
};
using TModel = std::vector<TObj>;

inline void le32(Bytes &b, uint32_t v)
{
    for (int s = 0; s < 32; s += 8)
        b.push_back((uint8_t)(v >> s));
}
inline void le16(Bytes &b, int16_t v)
{
    b.push_back((uint8_t)((uint16_t)v & 0xFF));
    b.push_back((uint8_t)((uint16_t)v >> 8));
}

// The model file: header, table, then each object's vertices, normals and
// primitives; tops count from the table.
inline Bytes modelBytes(const TModel &m)
{
    Bytes head, body;
    le32(head, 0x41);
    le32(head, 0);
    le32(head, (uint32_t)m.size());
    uint32_t at = 28 * (uint32_t)m.size();
    for (const TObj &o : m) {
        uint32_t vTop = at, nTop = vTop + 2 * (uint32_t)o.vert.size();
        uint32_t pTop = nTop + 2 * (uint32_t)o.norm.size();
        for (uint32_t w : {vTop, (uint32_t)o.vert.size() / 4, nTop, (uint32_t)o.norm.size() / 4,
                           pTop, (uint32_t)o.prim.size(), 4096u})
            le32(head, w);
        for (int16_t v : o.vert)
            le16(body, v);
        for (int16_t v : o.norm)
            le16(body, v);
        size_t p = 0;
        for (uint32_t h : o.prim) {
            le32(body, h);
            size_t n = 4 * (h >> 8 & 0xFF);
            body.insert(body.end(), o.packets.begin() + (long)p, o.packets.begin() + (long)(p + n));
            p += n;
        }
        at = 28 * (uint32_t)m.size() + (uint32_t)body.size();
    }
    head.insert(head.end(), body.begin(), body.end());
    return head;
}

// A hex string ("01 00 ff") as bytes; spaces are ignored.
inline Bytes hex(const std::string &s)
{
    Bytes b;
    for (size_t i = 0; i + 1 < s.size(); i++)
        if (s[i] != ' ')
            b.push_back((uint8_t)std::stoi(s.substr(i++, 2), nullptr, 16));
    return b;
}

inline void writeFile(const std::string &path, const Bytes &b)
{
    std::ofstream(path, std::ios::binary).write((const char *)b.data(), (long)b.size());
}
inline Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline std::string readText(const std::string &path)
{
    Bytes b = readFile(path);
    return std::string(b.begin(), b.end());
}

// A fresh scratch directory per test, named after it and left behind for a
// look when the test fails.
inline std::string scratch()
{
    const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(t->test_suite_name()) + "-" + t->name();
    for (char &c : name)
        if (c == '/')
            c = '_';
    // Memory-backed when there is such a place: keyblend flushes every
    // value it writes, which a disk makes slow over a thousand sets.
    std::string dir = (access("/dev/shm", W_OK) == 0 ? "/dev/shm/kelo-test-" : "/tmp/kelo-test-") + name;
    system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    return dir;
}

struct Result {
    int code;
    std::string out, err;
};

// Runs a shell command line in dir and returns its exit code and output.
inline Result run(const std::string &dir, const std::string &cmd)
{
    int status = system(("cd '" + dir + "' && " + cmd + " >.out 2>.err").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            readText(dir + "/.out"), readText(dir + "/.err")};
}

const std::string KELO = KELO_BIN;
const std::string KEYBLEND = KEYBLEND_BIN;

#endif
