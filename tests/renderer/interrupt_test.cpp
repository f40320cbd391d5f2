// `velquin render` stopped by SIGINT and SIGTERM: no image is left under the output name (nor a
// temporary file beside it) unless --write-partial asks for what was rendered, frames already
// written stay, a second signal stops at once, and the exit code is 128 + the signal.
//
// The program is signalled once its progress shows that the buckets have started; the scene is
// far too slow to finish before the signal arrives, and the program stops at the next row.
#include "renderer/Image.h"
#include "tests/renderer/render_process.h"

#include <OpenEXR/ImfRgbaFile.h>
#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

namespace velquin::renderer {
namespace {

namespace fs = std::filesystem;
using test::freshDir;
using test::namesIn;
using test::RenderProcess;

// Frame 0 looks away from the blobs (nothing but background: quick), frame 1 at them, where
// 64 samples a pixel take many seconds for the whole image.
void writeScene(const fs::path& dir) {
    std::ofstream(dir / "s.json") << R"({
 "render": {"width": 160, "height": 120, "spp": 64},
 "camera": {"position": [0, -240, 40],
            "target": [{"frame": 0, "value": [0, -2000, 40]}, {"frame": 1, "value": [0, 0, 40]}],
            "fov": 30},
 "lights": [{"type": "directional", "direction": [-0.45, 0.7, -1.0], "shadows": true}],
 "materials": {"blobs": {"type": "glossy", "color": [0.8, 0.3, 0.2], "reflection": 0.3}},
 "nodes": [{"name": "blobs", "class": "VelquinMetaball", "material": "blobs",
            "params": {"radius": 60, "threshold": 0.5},
            "metaballs": [[0, 0, 40], [40, 0, 50], [-40, 10, 35], [10, -20, 70]]}]
})";
}

std::vector<std::string> slowFrame(const fs::path& dir, const std::string& out) {
    return {
        (dir / "s.json").string(), "-o", (dir / out).string(), "--frame", "1", "--threads", "1"};
}

std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void expectExitCode(int status, int code, const std::string& err) {
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal or hung; stderr:\n" << err;
    EXPECT_EQ(WEXITSTATUS(status), code) << err;
}

// The RGBA floats of an EXR file, and its size.
std::vector<Imf::Rgba> readExr(const fs::path& p, int& w, int& h) {
    Imf::RgbaInputFile in(p.string().c_str());
    Imath::Box2i dw = in.dataWindow();
    w = dw.max.x - dw.min.x + 1;
    h = dw.max.y - dw.min.y + 1;
    std::vector<Imf::Rgba> px(static_cast<std::size_t>(w) * h);
    in.setFrameBuffer(px.data() - dw.min.x - dw.min.y * w, 1, static_cast<std::size_t>(w));
    in.readPixels(dw.min.y, dw.max.y);
    return px;
}

TEST(Interrupt, StopsWithoutWritingAndExits128PlusTheSignal) {
    struct Case {
        int sig;
        const char* out;
        int code;
    };
    for (Case c : {Case{SIGINT, "out.png", 130}, Case{SIGTERM, "out.exr", 143}}) {
        SCOPED_TRACE(c.out);
        fs::path d = freshDir(std::string("plain_") + c.out);
        writeScene(d);
        RenderProcess p(slowFrame(d, c.out));
        ASSERT_TRUE(p.started());
        ASSERT_TRUE(p.waitFor("rendering: 0%")) << p.err();
        p.signal(c.sig);
        int st = p.finish();
        expectExitCode(st, c.code, p.err());
        EXPECT_NE(
            p.err().find(std::string("interrupted: ") + (d / c.out).string() + " not written"),
            std::string::npos)
            << p.err();
        // Neither the image nor a temporary file beside it.
        EXPECT_EQ(namesIn(d), std::vector<std::string>{"s.json"});
    }
}

TEST(Interrupt, WritePartialWritesWhatWasRenderedAtFullSize) {
    fs::path d = freshDir("partial");
    writeScene(d);
    for (int sig : {SIGINT, SIGTERM}) {
        const bool png = sig == SIGINT;
        const std::string out = png ? "part.png" : "part.exr";
        SCOPED_TRACE(out);
        RenderProcess p(plus(slowFrame(d, out), {"--write-partial"}));
        ASSERT_TRUE(p.waitFor("rendering: 0%")) << p.err();
        p.signal(sig);
        int st = p.finish();
        expectExitCode(st, png ? 130 : 143, p.err());
        EXPECT_NE(p.err().find("wrote the partial image " + (d / out).string()), std::string::npos)
            << p.err();
        ASSERT_TRUE(fs::exists(d / out));
        // The last bucket (bottom right) is the last to start: stopped long before it, its
        // pixels are transparent black.
        int w = 0, h = 0;
        if (png) {
            std::vector<std::uint8_t> px = readPng8((d / out).string(), w, h);
            ASSERT_EQ(w, 160);
            ASSERT_EQ(h, 120);
            const std::uint8_t* last = &px[px.size() - 4];
            EXPECT_EQ(last[0] + last[1] + last[2] + last[3], 0);
        } else {
            std::vector<Imf::Rgba> px = readExr(d / out, w, h);
            ASSERT_EQ(w, 160);
            ASSERT_EQ(h, 120);
            EXPECT_EQ(static_cast<float>(px.back().a), 0.0f);
            EXPECT_EQ(static_cast<float>(px.back().r), 0.0f);
        }
    }
    EXPECT_EQ(namesIn(d), (std::vector<std::string>{"part.exr", "part.png", "s.json"}));
}

TEST(Interrupt, FramesWrittenBeforeTheStopStayAndTheStoppedOneIsNotWritten) {
    fs::path d = freshDir("frames");
    writeScene(d);
    RenderProcess p({(d / "s.json").string(), "-o", (d / "seq.png").string(), "--frames", "0:2",
                     "--threads", "1"});
    ASSERT_TRUE(p.waitFor("wrote " + (d / "seq.0000.png").string())) << p.err();
    ASSERT_TRUE(p.waitFor("frame 1: 0%")) << p.err();
    p.signal(SIGINT);
    int st = p.finish();
    expectExitCode(st, 130, p.err());
    EXPECT_NE(p.err().find("seq.0001.png not written; 1 earlier frame written"), std::string::npos)
        << p.err();
    EXPECT_EQ(namesIn(d), (std::vector<std::string>{"s.json", "seq.0000.png"}));
    int w = 0, h = 0;
    readPng8((d / "seq.0000.png").string(), w, h);
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 120);
}

TEST(Interrupt, SecondSignalStopsAtOnceWithoutAPartialImage) {
    fs::path d = freshDir("twice");
    writeScene(d);
    // One bucket inside the blobs at a huge sample count: a single row takes seconds, so the
    // first signal alone would leave the program finishing that row.
    RenderProcess p(plus(slowFrame(d, "twice.png"),
                         {"--spp", "16384", "--region", "64,44,96,76", "--write-partial"}));
    ASSERT_TRUE(p.waitFor("rendering: 0%")) << p.err();
    p.signal(SIGINT);
    ASSERT_TRUE(p.waitFor("stopping after the running buckets")) << p.err();
    p.signal(SIGINT);
    int st = p.finish();
    expectExitCode(st, 130, p.err());
    EXPECT_NE(p.err().find("interrupted again"), std::string::npos) << p.err();
    EXPECT_EQ(namesIn(d), std::vector<std::string>{"s.json"});
}

// A pipe named as the scene and never written to: the program waits in the open. The first
// signal stops it there and says that the loading is what it stops.
TEST(Interrupt, WhileWaitingForTheSceneFromAPipe) {
    fs::path d = freshDir("fifo");
    ASSERT_EQ(::mkfifo((d / "s.json").c_str(), 0600), 0);
    RenderProcess p({(d / "s.json").string(), "-o", (d / "out.png").string()});
    // The open blocks for as long as there is no writer; the signal may come at any time.
    ::usleep(300 * 1000);
    p.signal(SIGTERM);
    ASSERT_TRUE(p.waitFor("velquin render: stopping the loading (interrupt again to stop at "
                          "once)"))
        << p.err();
    int st = p.finish();
    expectExitCode(st, 143, p.err());
    EXPECT_NE(p.err().find("velquin render: interrupted while "), std::string::npos) << p.err();
    EXPECT_NE(p.err().find("the scene " + (d / "s.json").string() + ": nothing written"),
              std::string::npos)
        << p.err();
    EXPECT_EQ(namesIn(d), std::vector<std::string>{"s.json"});
}

} // namespace
} // namespace velquin::renderer
