#pragma once

// Builds RIFF files byte by byte, independently of the code under test, and keeps them in a
// temporary directory that disappears with the fixture.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<unsigned char>;

inline Bytes Id(const char* id) {
    return Bytes(id, id + 4);
}

inline Bytes LE16(uint16_t v) {
    return {uint8_t(v & 0xFF), uint8_t(v >> 8)};
}

inline Bytes LE32(uint32_t v) {
    return {uint8_t(v & 0xFF), uint8_t(v >> 8 & 0xFF), uint8_t(v >> 16 & 0xFF), uint8_t(v >> 24)};
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Text bytes, with a terminating zero unless told otherwise.
inline Bytes Text(const std::string& s, bool terminated = true) {
    Bytes out(s.begin(), s.end());
    if (terminated) {
        out.push_back(0);
    }
    return out;
}

// A chunk whose header claims `size` whatever the content really is (no pad byte added).
inline Bytes ChunkClaiming(const char* id, uint32_t size, const Bytes& content) {
    return Cat({Id(id), LE32(size), content});
}

// A well-formed chunk: header, content and the pad byte after odd content.
inline Bytes Chunk(const char* id, const Bytes& content) {
    Bytes out = ChunkClaiming(id, static_cast<uint32_t>(content.size()), content);
    if (content.size() % 2 != 0) {
        out.push_back(0);
    }
    return out;
}

// A "RIFF" or "LIST" chunk: the stored size counts the type word.
inline Bytes Form(const char* id, const char* type, const Bytes& content) {
    return Cat({Id(id), LE32(static_cast<uint32_t>(content.size() + 4)), Id(type), content});
}

inline Bytes Wave(const Bytes& content) {
    return Form("RIFF", "WAVE", content);
}

// The 16 format bytes, followed by `extra` (the longer "fmt " variants).
inline Bytes FmtContent(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                        const Bytes& extra = {}) {
    const uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
    return Cat({LE16(format), LE16(channels), LE32(rate), LE32(rate * align), LE16(align),
                LE16(bits), extra});
}

inline Bytes Fmt(uint16_t channels, uint32_t rate, uint16_t bits) {
    return Chunk("fmt ", FmtContent(1, channels, rate, bits));
}

inline Bytes Samples16(const std::vector<short>& v) {
    Bytes out;
    for (short s : v) {
        Bytes b = LE16(static_cast<uint16_t>(s));
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

inline uint32_t GetLE32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "cihear_wav_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    // A .wav path not used before in this test: rewriting a file in place makes some filesystems
    // flush it to disk, which slows tests that write many files down.
    std::string FreshPath(const std::string& stem) {
        return Path(stem + std::to_string(++fresh) + ".wav");
    }

    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string path = Path(name);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        EXPECT_TRUE(out.good());
        return path;
    }

    Bytes Read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path dir;
    int fresh = 0;
};

}  // namespace wavtest
