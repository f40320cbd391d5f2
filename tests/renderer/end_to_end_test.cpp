// `velquin render` as a user runs it: example scenes against stored reference images, the same
// image whatever the thread count, and clear failures with exit code 1 for bad input.
//
// To regenerate the references after a deliberate change of the renderer or the plug-in, run
// the test with VELQUIN_UPDATE_REFERENCES=1 in the environment; it then writes them instead of
// comparing.
#include "renderer/Image.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velquin::renderer {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int code = -1;
    std::string err;
};

fs::path scratchDir() {
    fs::path d = fs::temp_directory_path() / ("velquin_e2e_" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

// The scratch folder goes when the program ends, whatever the tests left in it.
class ScratchCleanup : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(fs::temp_directory_path() / ("velquin_e2e_" + std::to_string(::getpid())),
                       ec);
    }
};
const auto* const g_cleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

RunResult run(const std::string& args) {
    fs::path errFile = scratchDir() / "stderr.txt";
    std::string cmd = std::string("'") + VELQUIN_PROGRAM + "' render " + args + " --plugins '" +
                      VELQUIN_PLUGIN_DIR + "' >/dev/null 2>'" + errFile.string() + "'";
    int st = std::system(cmd.c_str());
    RunResult r;
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    return r;
}

std::string scene(const std::string& name) {
    return std::string(VELQUIN_SCENES_DIR) + "/" + name + ".json";
}

std::vector<std::uint8_t> pixels(const fs::path& p) {
    int w = 0, h = 0;
    return readPng8(p.string(), w, h);
}

void renderSmall(const std::string& sceneArg, const fs::path& out, const std::string& extra) {
    RunResult r =
        run(sceneArg + " -o '" + out.string() + "' --width 64 --height 48 --quiet " + extra);
    ASSERT_EQ(r.code, 0) << r.err;
}

class ExampleScene : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleScene, MatchesTheStoredReference) {
    std::string name = GetParam();
    fs::path out = scratchDir() / (name + ".png");
    // Motion blur needs several samples; the others render at one sample per pixel.
    std::string spp = name == "motion_blur" ? "--spp 4" : "--spp 1";
    std::string arg = name == "default" ? "" : "'" + scene(name) + "'";
    renderSmall(arg, out, spp + " --threads 2");
    fs::path ref = fs::path(VELQUIN_REFERENCE_DIR) / (name + ".png");
    if (std::getenv("VELQUIN_UPDATE_REFERENCES")) {
        fs::copy_file(out, ref, fs::copy_options::overwrite_existing);
        GTEST_SKIP() << "reference written: " << ref;
    }
    ASSERT_TRUE(fs::exists(ref)) << ref << " is missing; run with VELQUIN_UPDATE_REFERENCES=1";
    EXPECT_TRUE(pixels(out) == pixels(ref)) << name << " differs from " << ref;
}

INSTANTIATE_TEST_SUITE_P(Scenes, ExampleScene,
                         ::testing::Values("default", "motion_blur", "noise", "glass", "average"));

TEST(RenderDeterminism, SameImageWithOneAndTwoThreads) {
    for (const char* name : {"default", "motion_blur"}) {
        std::string arg = std::string(name) == "default" ? "" : "'" + scene(name) + "'";
        fs::path a = scratchDir() / (std::string(name) + "_t1.png");
        fs::path b = scratchDir() / (std::string(name) + "_t2.png");
        renderSmall(arg, a, "--spp 2 --threads 1");
        renderSmall(arg, b, "--spp 2 --threads 2");
        EXPECT_TRUE(pixels(a) == pixels(b)) << name;
    }
}

// With two threads a frame is closed (its hierarchies freed) while its image is written; the
// next frame must still start from a closed one and come out as on one thread.
TEST(RenderDeterminism, FrameSequenceSameWithOneAndTwoThreads) {
    const std::string arg = "'" + scene("motion_blur") + "'";
    fs::path d = scratchDir();
    renderSmall(arg, d / "seq_t1.png", "--spp 1 --threads 1 --frames 0:3");
    renderSmall(arg, d / "seq_t2.png", "--spp 1 --threads 2 --frames 0:3");
    for (const char* f : {"0000", "0001", "0002", "0003"}) {
        std::string one = "seq_t1." + std::string(f) + ".png";
        std::string two = "seq_t2." + std::string(f) + ".png";
        EXPECT_TRUE(pixels(d / one) == pixels(d / two)) << f;
    }
}

TEST(RenderOutput, RegionFramesAndExr) {
    fs::path d = scratchDir();
    RunResult r = run("-o '" + (d / "seq.png").string() +
                      "' --width 32 --height 24 --spp 1 --quiet --frames 2:6:2 --region 0,0,16,24");
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* f : {"seq.0002.png", "seq.0004.png", "seq.0006.png"})
        EXPECT_TRUE(fs::exists(d / f)) << f;
    EXPECT_FALSE(fs::exists(d / "seq.png"));
    // Outside the region nothing is traced: transparent black.
    std::vector<std::uint8_t> px = pixels(d / "seq.0002.png");
    EXPECT_EQ(px[(0 * 32 + 31) * 4 + 3], 0);
    EXPECT_EQ(px[(0 * 32 + 0) * 4 + 3], 255);
    r = run("-o '" + (d / "lin.exr").string() + "' --width 16 --height 12 --quiet");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(d / "lin.exr"));
}

TEST(RenderOutput, DefaultSceneSaysWhereItWrote) {
    fs::path d = scratchDir();
    RunResult r = run("-o '" + (d / "said.png").string() + "' --width 16 --height 12");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("wrote " + (d / "said.png").string()), std::string::npos) << r.err;
}

// ---- bad input ----

fs::path writeScene(const std::string& name, const std::string& text) {
    fs::path p = scratchDir() / name;
    std::ofstream(p) << text;
    return p;
}

void expectBadInput(const std::string& args, std::initializer_list<const char*> parts) {
    RunResult r = run(args + " --width 8 --height 6 --quiet -o '" +
                      (scratchDir() / "bad.png").string() + "'");
    EXPECT_EQ(r.code, 1) << args << "\n" << r.err;
    for (const char* p : parts)
        EXPECT_NE(r.err.find(p), std::string::npos) << "missing \"" << p << "\" in: " << r.err;
    EXPECT_FALSE(fs::exists(scratchDir() / "bad.png"));
}

const char* kBlob = R"({"name": "b", "class": "VelquinMetaball")";

TEST(RenderBadInput, MissingAndMalformedScenes) {
    expectBadInput("/nonexistent/scene.json", {"/nonexistent/scene.json", "cannot open"});
    fs::path p = writeScene("broken.json", "{\"nodes\": [ }");
    expectBadInput("'" + p.string() + "'", {p.string().c_str(), "not valid JSON"});
    p = writeScene("wrongtype.json", R"({"render": {"width": "wide"}})");
    expectBadInput("'" + p.string() + "'", {"render.width", "expected a number, got a string"});
    p = writeScene("unknownkey.json", R"({"camera": {"fov": 30, "zoom": 2}})");
    expectBadInput("'" + p.string() + "'", {"camera", "unknown key \"zoom\""});
}

TEST(RenderBadInput, ObjectsParametersAndNodeLists) {
    fs::path p = writeScene("class.json", R"({"nodes": [{"name": "x", "class": "NoSuchBlob"}]})");
    expectBadInput("'" + p.string() + "'",
                   {"nodes[0].class", "unknown class \"NoSuchBlob\"", "VelquinMetaball"});
    p = writeScene("param.json",
                   std::string(R"({"nodes": [)") + kBlob + R"(, "params": {"radiuss": 3}}]})");
    expectBadInput("'" + p.string() + "'",
                   {"nodes[0].params.radiuss", "unknown parameter \"radiuss\"", "threshold"});
    p = writeScene("value.json",
                   std::string(R"({"nodes": [)") + kBlob + R"(, "params": {"radius": [1, 2]}}]})");
    expectBadInput("'" + p.string() + "'", {"nodes[0].params.radius", "expected a number"});
    p = writeScene("bool.json",
                   std::string(R"({"nodes": [)") + kBlob + R"(, "params": {"useAverage": 1}}]})");
    expectBadInput("'" + p.string() + "'", {"useAverage", "expected true or false"});
    p = writeScene("nodes.json",
                   std::string(R"({"nodes": [)") + kBlob + R"(, "nodes": ["ghost"]}]})");
    expectBadInput("'" + p.string() + "'", {"nodes[0].nodes[0]", "no node named \"ghost\""});
}

TEST(RenderBadInput, UnreadableFiles) {
    fs::path p = writeScene("mesh.json",
                            R"({"nodes": [{"name": "m", "type": "mesh", "file": "missing.obj"}]})");
    expectBadInput("'" + p.string() + "'", {"nodes[0].file", "missing.obj"});
    p = writeScene("ply.json",
                   R"({"nodes": [{"name": "m", "type": "particles", "file": "missing.ply"}]})");
    expectBadInput("'" + p.string() + "'", {"nodes[0].file", "missing.ply"});
}

TEST(RenderBadInput, OutputPathAndPluginFolder) {
    RunResult r = run("-o /nonexistent/dir/out.png --width 8 --height 6 --quiet");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("/nonexistent/dir/out.png"), std::string::npos) << r.err;
    r = run("-o '" + (scratchDir() / "x.gif").string() + "' --quiet");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(".png or .exr"), std::string::npos) << r.err;
    fs::path empty = scratchDir() / "empty_plugins";
    fs::create_directories(empty);
    std::string cmd = std::string("'") + VELQUIN_PROGRAM + "' render --quiet --plugins '" +
                      empty.string() + "' -o '" + (scratchDir() / "p.png").string() + "' 2>'" +
                      (scratchDir() / "perr.txt").string() + "'";
    int st = std::system(cmd.c_str());
    EXPECT_EQ(WEXITSTATUS(st), 1);
    std::ifstream in(scratchDir() / "perr.txt");
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_NE(ss.str().find("no plug-in module"), std::string::npos) << ss.str();
}

TEST(RenderBadUsage, ExitCodeTwo) {
    EXPECT_EQ(run("--frames 5:2 --quiet").code, 2);
    EXPECT_EQ(run("--region 1,2,3 --quiet").code, 2);
    EXPECT_EQ(run("--motion-blur maybe --quiet").code, 2);
    EXPECT_EQ(run("--frame 1 --frames 1:2 --quiet").code, 2);
}

} // namespace
} // namespace velquin::renderer
