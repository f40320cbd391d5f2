// Inputs too big to hold and memory that runs out: a scene file over the size cap and a point
// file whose header claims more than it holds fail at once, before anything is read or
// allocated for them; memory running out anywhere, the plug-in's silent failures included,
// ends the program with "out of memory while ..." and exit code 3, never a crash.
//
// The big files are sparse (ftruncate): they take no disk space. The program runs in a small
// address space (RLIMIT_AS) where that proves it did not read a gigabyte into memory.
#include "renderer/Errors.h"
#include "renderer/PointFile.h"
#include "renderer/Renderer.h"
#include "tests/renderer/render_process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <new>

namespace velquin::renderer {
namespace {

namespace fs = std::filesystem;
using test::freshDir;
using test::kUnderSanitizer;
using test::namesIn;
using test::RenderProcess;

constexpr unsigned long long kMiB = 1ull << 20;

// Room for the program, its libraries and the ray server, not for a gigabyte of input.
unsigned long long smallAddressSpace() {
    return kUnderSanitizer ? 0 : 512 * kMiB;
}

// `text` followed by zeros up to `size` bytes, without writing the zeros.
void writeSparse(const fs::path& p, const std::string& text, unsigned long long size) {
    {
        std::ofstream out(p, std::ios::binary);
        out << text;
    }
    ASSERT_EQ(::truncate(p.c_str(), static_cast<off_t>(size)), 0);
}

std::string plyHeader(const std::string& format, const std::string& count) {
    return "ply\nformat " + format + " 1.0\nelement vertex " + count +
           "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
}

void expectFailure(RenderProcess& p, int code, const std::string& part) {
    int st = p.finish();
    ASSERT_TRUE(WIFEXITED(st)) << "ended by a signal or hung; stderr:\n" << p.err();
    EXPECT_EQ(WEXITSTATUS(st), code) << p.err();
    EXPECT_NE(p.err().find(part), std::string::npos) << p.err();
}

TEST(InputLimits, SceneFileOverTheCapIsRefusedBeforeReading) {
    fs::path d = freshDir("bigscene");
    for (unsigned long long size : {(1ull << 30), 256 * kMiB + 1}) {
        SCOPED_TRACE(size);
        writeSparse(d / "huge.json", "{", size);
        RenderProcess p({(d / "huge.json").string(), "-o", (d / "out.png").string()},
                        smallAddressSpace());
        expectFailure(p, 1, "the scene file is larger than 256 MiB");
    }
    EXPECT_EQ(namesIn(d), std::vector<std::string>{"huge.json"});
}

TEST(InputLimits, PointFileClaimingMoreVerticesThanItHoldsFailsAtOnce) {
    // 10^12 vertices would be 48 terabytes of records: reserving them first would throw
    // std::length_error or std::bad_alloc, not BadInput.
    for (const char* format : {"binary_little_endian", "ascii"}) {
        SCOPED_TRACE(format);
        std::string text = plyHeader(format, "1000000000000");
        try {
            parsePly(text + "1 2 3\n", "claims.ply");
            FAIL() << "accepted";
        } catch (const BadInput& e) {
            std::string m = e.what();
            EXPECT_NE(m.find("claims.ply: the file ends"), std::string::npos) << m;
            EXPECT_NE(m.find("the header claims 1000000000000 vertices; the 6 bytes after it "
                             "hold at most"),
                      std::string::npos)
                << m;
        }
    }
    // Exactly as many as fit are read; one more is refused before reading any.
    std::string two = plyHeader("ascii", "2") + "1 2 3\n4 5 6";
    EXPECT_EQ(parsePly(two, "two.ply").size(), 2u);
    std::string three = plyHeader("ascii", "3") + "1 2 3\n4 5 6";
    EXPECT_THROW(parsePly(three, "three.ply"), BadInput);
    std::string bin = plyHeader("binary_little_endian", "1");
    float xyz[3] = {1.0f, 2.0f, 3.0f};
    bin.append(reinterpret_cast<const char*>(xyz), sizeof xyz);
    PointSet one = parsePly(bin, "one.ply");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one.at(0).position, Point3(1, 2, 3));
}

TEST(InputLimits, PointFilesAreReadInPiecesNotWhole) {
    fs::path d = freshDir("bigply");
    // A gigabyte without line ends, a gigabyte whose header claims 10^12 vertices, and one
    // whose header claims a count that fits but whose lines are far too long.
    struct Case {
        std::string text;
        const char* message;
    };
    for (const Case& c : {Case{"", "not a PLY file"},
                          Case{plyHeader("binary_little_endian", "1000000000000"),
                               "the header claims 1000000000000 vertices"},
                          Case{plyHeader("ascii", "5"), "a line longer than 65536 bytes"}}) {
        SCOPED_TRACE(c.message);
        writeSparse(d / "cloud.ply", c.text, 1ull << 30);
        std::ofstream(d / "s.json")
            << R"({"nodes": [{"name": "pts", "type": "particles", "file": "cloud.ply"}]})";
        // In the program, where a gigabyte read whole would not fit.
        RenderProcess p({(d / "s.json").string(), "-o", (d / "out.png").string()},
                        smallAddressSpace());
        expectFailure(p, 1, c.message);
        // And directly: the file's name in the message.
        try {
            readPly((d / "cloud.ply").string());
            ADD_FAILURE() << "accepted";
        } catch (const BadInput& e) {
            EXPECT_NE(std::string(e.what()).find((d / "cloud.ply").string()), std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(namesIn(d), (std::vector<std::string>{"cloud.ply", "s.json"}));
}

TEST(InputLimits, LinesUpTo64KiBAreRead) {
    // "ply\n", then a comment line of exactly 65536 characters (or one more), then the rest.
    const std::string rest = plyHeader("ascii", "1").substr(4) + "1 2 3\n";
    const std::string longest = "comment " + std::string(65536 - 8, 'x');
    EXPECT_EQ(parsePly("ply\n" + longest + "\n" + rest, "long.ply").size(), 1u);
    EXPECT_EQ(parsePly("ply\n" + longest + "\r\n" + rest, "long.ply").size(), 1u);
    try {
        parsePly("ply\n" + longest + "x\n" + rest, "long.ply");
        FAIL() << "accepted";
    } catch (const BadInput& e) {
        EXPECT_NE(std::string(e.what()).find("long.ply:2: a line longer than 65536 bytes"),
                  std::string::npos)
            << e.what();
    }
}

TEST(InputLimits, StreamedPointFileReadsLikeTheBytesInMemory) {
    // A binary file bigger than any read buffer: the pieces must join exactly.
    fs::path d = freshDir("stream");
    const int n = 100000;
    std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(n) +
                       "\nproperty float x\nproperty float y\nproperty float z\nproperty uchar "
                       "red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    for (int k = 0; k < n; ++k) {
        float p[3] = {static_cast<float>(k), -static_cast<float>(k) * 0.5f, 1.0f / (k + 1)};
        unsigned char c[3] = {static_cast<unsigned char>(k), static_cast<unsigned char>(k >> 8), 7};
        text.append(reinterpret_cast<const char*>(p), sizeof p);
        text.append(reinterpret_cast<const char*>(c), sizeof c);
    }
    std::ofstream(d / "big.ply", std::ios::binary) << text;
    PointSet a = readPly((d / "big.ply").string());
    PointSet b = parsePly(text, "big.ply");
    ASSERT_EQ(a.size(), static_cast<std::size_t>(n));
    ASSERT_EQ(b.size(), static_cast<std::size_t>(n));
    for (int k : {0, 1, 4095, 4096, 65535, 65536, n - 1}) {
        const PointRecord r = a.at(static_cast<std::size_t>(k));
        EXPECT_EQ(r.position,
                  Point3(static_cast<float>(k), -static_cast<float>(k) * 0.5f, 1.0f / (k + 1)));
        EXPECT_EQ(r.color.g, static_cast<float>(((k >> 8) & 255) / 255.0));
        EXPECT_EQ(r.position, b.at(static_cast<std::size_t>(k)).position);
    }
}

TEST(InputLimits, FailedAllocationsAreCountedThroughTheNewHandler) {
    if (kUnderSanitizer)
        GTEST_SKIP() << "the sanitizers' allocators do not call the new-handler";
    const long long before = Renderer::allocationFailures();
    // The way the plug-in allocates: no exception, a null pointer. No address space holds the
    // size; it is opaque to the compiler so that the call is made.
    volatile std::size_t huge = std::numeric_limits<std::size_t>::max() - 4095;
    char* p = new (std::nothrow) char[huge];
    EXPECT_EQ(p, nullptr);
    delete[] p;
    EXPECT_EQ(Renderer::allocationFailures(), before + 1);
    // The throwing form is counted too, and still throws.
    EXPECT_THROW(::operator delete(::operator new(huge)), std::bad_alloc);
    EXPECT_EQ(Renderer::allocationFailures(), before + 2);
}

// A scene that loads in no time and whose frame compile needs gigabytes: the metaballs come
// from the vertices of a procedural plane of 4000 x 4000 segments, made during the compile.
void writeHugePlaneScene(const fs::path& d) {
    std::ofstream(d / "s.json") << R"({
 "render": {"width": 32, "height": 24},
 "camera": {"position": [0, -300, 100], "target": [0, 0, 0], "fov": 40},
 "nodes": [{"name": "grid", "type": "plane", "length": 200, "width": 200, "segments": 4000},
           {"name": "blobs", "class": "VelquinMetaball", "params": {"radius": 1},
            "nodes": ["grid"]}]
})";
}

TEST(InputLimits, RunningOutOfMemoryIsAMessageAndExitCode3) {
    if (kUnderSanitizer)
        GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
    fs::path d = freshDir("oom");
    {
        // The image itself: 30000 x 30000 RGBA floats are 14 GB.
        RenderProcess p({"-o", (d / "big.png").string(), "--width", "30000", "--height", "30000",
                         "--threads", "1"},
                        1024 * kMiB);
        expectFailure(p, 3, "out of memory while allocating the 30000x30000 image of frame 0");
    }
    {
        // The plug-in's frame compile: it reports running out only by compiling an empty
        // frame, which rendered would be a picture without the object.
        writeHugePlaneScene(d);
        RenderProcess p(
            {(d / "s.json").string(), "-o", (d / "plane.png").string(), "--threads", "1"},
            768 * kMiB);
        expectFailure(p, 3, "out of memory while compiling frame 0 for node \"blobs\"");
    }
    EXPECT_EQ(namesIn(d), std::vector<std::string>{"s.json"});
}

TEST(InputLimits, TooLittleMemoryToStartIsExitCode3) {
    if (kUnderSanitizer)
        GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
    fs::path d = freshDir("oomstart");
    // 60 MiB: the program's own static set-up ran out (the heap's 32 MiB growth margin did
    // not fit) and it aborted before main; 150 MiB: the ray server could not start.
    for (unsigned long long cap : {60 * kMiB, 150 * kMiB}) {
        SCOPED_TRACE(cap / kMiB);
        RenderProcess p({"-o", (d / "out.exr").string(), "--width", "8", "--height", "6"}, cap);
        expectFailure(p, 3, "velquin render: out of memory while ");
    }
    EXPECT_TRUE(namesIn(d).empty());
}

} // namespace
} // namespace velquin::renderer
