// What keeps a scene's load, render and teardown linear and its rays finite: loading records no
// undo entries (one per node added, each a copy of the whole list, made loading and tearing
// down quadratic), a table is filled in one append, a stop asked for while loading is honoured,
// the files a scene reads are listed, and no ray the ray server cannot take is handed to it.
#include "platform/max/hold.h"
#include "platform/max/iparamb2.h"
#include "renderer/EmbreeRayServer.h"
#include "renderer/Errors.h"
#include "renderer/PluginHost.h"
#include "renderer/SceneLoader.h"
#include "tests/renderer/render_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace velquin::renderer {
// The plug-in's classes, registered once for the whole program. The modules stay loaded to the
// end, as the class directory that refers to them does (never unloaded before it): the host is
// never freed, and this pointer, which the compiler must keep, holds it reachable to the end.
PluginHost* sceneLimitsPluginHost = nullptr;

namespace {

namespace fs = std::filesystem;

void loadPlugins() {
    if (sceneLimitsPluginHost != nullptr) {
        return;
    }
#ifdef VELQUIN_LIB_VERSION
    SetHostSDKVersion(VELQUIN_LIB_VERSION);
#endif
    sceneLimitsPluginHost = new PluginHost;
    sceneLimitsPluginHost->loadFolder(VELQUIN_PLUGIN_DIR);
}

// A VelquinMetaball naming `nodes` sphere nodes and holding a `table`-entry metaball table.
std::string blobScene(int nodes, int table) {
    std::string s = R"({"nodes": [)";
    std::string names;
    for (int i = 0; i < nodes; ++i) {
        s += R"({"name": "s)" + std::to_string(i) + R"(", "type": "sphere"}, )";
        names += std::string(i ? ", " : "") + "\"s" + std::to_string(i) + "\"";
    }
    std::string rows;
    for (int i = 0; i < table; ++i)
        rows += std::string(i ? ", " : "") + "[" + std::to_string(i) + ", 0, 0]";
    return s + R"({"name": "blob", "class": "VelquinMetaball", "nodes": [)" + names +
           R"(], "metaballs": [)" + rows + "]}]}";
}

IParamBlock2* blockOf(RenderScene& rs) {
    INode* n = rs.scene->FindNode("blob");
    return n ? n->GetObjectRef()->GetParamBlock(0) : nullptr;
}

TEST(SceneLimits, LoadingRecordsNoUndoAndAppendsTablesOnce) {
    loadPlugins();
    for (int n : {10, 40}) {
        SCOPED_TRACE(n);
        const int undoBefore = theHold.UndoCount();
        auto rs = loadScene(blobScene(n, 4 * n), "t.json", "");
        IParamBlock2* pb = blockOf(*rs);
        ASSERT_NE(pb, nullptr);
        ParamBlockDesc2* d = pb->GetDesc();
        EXPECT_EQ(pb->Count(d->IDByName("nodes")), n);
        EXPECT_EQ(pb->Count(d->IDByName("metaballs")), 4 * n);
        EXPECT_EQ(pb->GetPoint3(d->IDByName("metaballs"), 0, 4 * n - 1),
                  Point3(static_cast<float>(4 * n - 1), 0, 0));
        // Each undo entry held a copy of the list: n entries of up to n nodes each.
        EXPECT_EQ(theHold.UndoCount(), undoBefore);
        EXPECT_FALSE(theHold.IsSuspended());
    }
}

TEST(SceneLimits, AStopEndsTheLoadingAtTheNextNode) {
    loadPlugins();
    std::atomic<bool> stop{true};
    try {
        loadScene(blobScene(3, 3), "t.json", "", &stop);
        FAIL() << "loaded";
    } catch (const Interrupted& e) {
        EXPECT_STREQ(e.what(), "loading the scene t.json");
    }
    EXPECT_FALSE(theHold.IsSuspended());
    stop = false;
    EXPECT_NO_THROW(loadScene(blobScene(3, 3), "t.json", "", &stop));
}

TEST(SceneLimits, TheFilesASceneReadsAreListed) {
    fs::path d = test::freshDir("inputs");
    std::ofstream(d / "p.ply") << "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                                  "property float y\nproperty float z\nend_header\n0 0 0\n";
    std::ofstream(d / "s.json")
        << R"({"nodes": [{"name": "p", "type": "particles", "file": "p.ply"}]})";
    auto rs = loadSceneFile((d / "s.json").string());
    EXPECT_EQ(rs->inputFiles,
              (std::vector<std::string>{(d / "s.json").string(), (d / "p.ply").string()}));
}

TEST(SceneLimits, OnlyRaysTheServerTakesAreUsable) {
    const double o[3] = {0.0, -1e18, 0.0};
    const float dir[3] = {0.0f, 1.0f, 0.0f};
    EXPECT_TRUE(EmbreeRayServer::usable(o, dir, 0.0, 1e18));
    EXPECT_TRUE(EmbreeRayServer::usable(o, dir, 0.0, std::numeric_limits<double>::infinity()));
    const double far[3] = {0.0, -1.0000001e18, 0.0};
    EXPECT_FALSE(EmbreeRayServer::usable(far, dir, 0.0, 1e18));
    const double nan[3] = {std::nan(""), 0.0, 0.0};
    EXPECT_FALSE(EmbreeRayServer::usable(nan, dir, 0.0, 1e18));
    const float inf[3] = {std::numeric_limits<float>::infinity(), 0.0f, 0.0f};
    EXPECT_FALSE(EmbreeRayServer::usable(o, inf, 0.0, 1e18));
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(EmbreeRayServer::usable(o, zero, 0.0, 1e18));
    EXPECT_FALSE(EmbreeRayServer::usable(o, dir, 2.0, 1.0));
    EXPECT_FALSE(EmbreeRayServer::usable(o, dir, -1.0, 1.0));
    EXPECT_FALSE(EmbreeRayServer::usable(o, dir, 0.0, std::nan("")));
}

// A scene whose hits lie beyond the ray server's range: the camera stands near its limit and
// looks further out at a mirror sphere 1e18 away, so the reflected and shadow rays would start
// past 1e18. Those paths end; the program does not.
TEST(SceneLimits, RaysBeyondTheServersRangeEndTheirPath) {
    fs::path d = test::freshDir("farhits");
    std::ofstream(d / "s.json") << R"({
 "render": {"width": 8, "height": 6, "maxDepth": 3},
 "camera": {"position": [0, 9e14, 0], "target": [0, 1e15, 0]},
 "materials": {"m": {"type": "mirror"}},
 "nodes": [{"name": "s", "type": "sphere", "radius": 1, "visible": true, "material": "m",
            "transform": {"scale": 5e17, "position": [0, 1.5005e18, 0]}}]
})";
    test::RenderProcess p({(d / "s.json").string(), "-o", (d / "out.png").string()});
    const int st = p.finish();
    ASSERT_TRUE(WIFEXITED(st)) << p.err();
    EXPECT_EQ(WEXITSTATUS(st), 0) << p.err();
}

} // namespace
} // namespace velquin::renderer
