// The stored fuzz inputs (fuzz/corpus: seeds, fuzz/regressions: inputs that once made a reader
// fail) through the fuzz entry points, and the readers' handling of file names that are no
// regular files.
#include "fuzz/targets/FuzzSupport.h"
#include "fuzz/targets/FuzzTargets.h"

#include "apps/velquin/trace_input.h"
#include "platform/max/object.h"
#include "renderer/Errors.h"
#include "renderer/PointFile.h"
#include "renderer/SceneLoader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace velquin::fuzz {
namespace {

namespace fs = std::filesystem;
using Target = int (*)(const std::uint8_t*, std::size_t);

std::string readBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<fs::path> inputsIn(const std::string& kind, const std::string& target) {
    std::vector<fs::path> files;
    fs::path dir = fs::path(VELQUIN_FUZZ_DIR) / kind / target;
    if (fs::is_directory(dir))
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Every stored input of the target runs through without a fault: an exception other than the
// reader's own error fails the test, a sanitizer report ends it (under the asan preset).
void runAll(const std::string& target, Target fn) {
    auto corpus = inputsIn("corpus", target);
    EXPECT_GE(corpus.size(), 5u) << "the seed corpus of " << target << " is missing";
    auto regressions = inputsIn("regressions", target);
    corpus.insert(corpus.end(), regressions.begin(), regressions.end());
    for (const fs::path& p : corpus) {
        SCOPED_TRACE(p.string());
        std::string bytes = readBytes(p);
        EXPECT_EQ(fn(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}

TEST(FuzzInputs, Scene) {
    runAll("scene", fuzzScene);
}
TEST(FuzzInputs, Render) {
    runAll("render", fuzzRender);
    for (const fs::path& p : inputsIn("corpus", "scene")) {
        SCOPED_TRACE(p.string());
        std::string bytes = readBytes(p);
        EXPECT_EQ(fuzzRender(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}
TEST(FuzzInputs, Trace) {
    runAll("trace", fuzzTrace);
}
TEST(FuzzInputs, Ply) {
    runAll("ply", fuzzPly);
}
TEST(FuzzInputs, Mesh) {
    runAll("mesh", fuzzMesh);
}

// The seeds named valid_* are accepted, so the fuzzers start from inputs that reach deep into
// the readers, not only from inputs refused at the first check.
std::vector<fs::path> validSeeds(const std::string& target) {
    std::vector<fs::path> out;
    for (const fs::path& p : inputsIn("corpus", target))
        if (p.filename().string().rfind("valid_", 0) == 0)
            out.push_back(p);
    EXPECT_FALSE(out.empty()) << target;
    return out;
}

TEST(FuzzSeeds, ValidScenesLoad) {
    registerPluginClass();
    for (const fs::path& p : validSeeds("scene")) {
        SCOPED_TRACE(p.string());
        EXPECT_NO_THROW(renderer::loadScene(readBytes(p), p.string(), scratchFolder()));
    }
}

TEST(FuzzSeeds, ValidTraceInputsParse) {
    for (const fs::path& p : validSeeds("trace")) {
        SCOPED_TRACE(p.string());
        EXPECT_NO_THROW(parseTraceInput(readBytes(p)));
    }
}

TEST(FuzzSeeds, ValidPointFilesParse) {
    for (const fs::path& p : validSeeds("ply")) {
        SCOPED_TRACE(p.string());
        EXPECT_NO_THROW(renderer::parsePly(readBytes(p), p.string()));
    }
}

std::string meshScene(const std::string& file) {
    return R"({"nodes": [{"name": "m", "type": "mesh", "file": ")" + file + "\"}]}";
}

TEST(FuzzSeeds, ValidMeshesImport) {
    for (const fs::path& p : validSeeds("mesh")) {
        SCOPED_TRACE(p.string());
        std::string bytes = readBytes(p);
        ASSERT_FALSE(bytes.empty());
        std::string ext = kMeshExtensions[(static_cast<unsigned char>(bytes[0]) & 0x7f) %
                                          std::size(kMeshExtensions)];
        std::string file =
            writeScratchFile("seed." + ext, reinterpret_cast<const std::uint8_t*>(bytes.data()) + 1,
                             bytes.size() - 1);
        EXPECT_NO_THROW(renderer::loadScene(meshScene(file), "seed.json", ""));
    }
}

// ---- names of files that are no regular files ----

std::string loadError(const std::string& scene) {
    try {
        renderer::loadScene(scene, "s.json", scratchFolder());
    } catch (const renderer::BadInput& e) {
        return e.what();
    }
    return "";
}

std::string fifoPath() {
    static const std::string path = [] {
        std::string p = (fs::path(scratchFolder()) / "pipe").string();
        EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0);
        return p;
    }();
    return path;
}

TEST(FuzzFileNames, SceneRefusesDevicesFoldersAndPipesAsPointFiles) {
    // Reading /dev/zero never ended and a pipe waited for a writer for ever.
    for (const std::string& f : {std::string("/dev/zero"), scratchFolder(), fifoPath()}) {
        SCOPED_TRACE(f);
        std::string e =
            loadError(R"({"nodes": [{"name": "p", "type": "particles", "file": ")" + f + "\"}]}");
        EXPECT_NE(e.find("s.json: nodes[0].file: \"" + f + "\" is not a regular file"),
                  std::string::npos)
            << e;
    }
}

TEST(FuzzFileNames, SceneRefusesDevicesFoldersAndPipesAsMeshFiles) {
    for (const std::string& f : {std::string("/dev/zero"), scratchFolder(), fifoPath()}) {
        SCOPED_TRACE(f);
        std::string e = loadError(meshScene(f));
        EXPECT_NE(e.find("nodes[0].file: \"" + f + "\" is not a regular file"), std::string::npos)
            << e;
    }
}

TEST(FuzzFileNames, MissingFilesKeepTheReadersMessages) {
    std::string e =
        loadError(R"({"nodes": [{"name": "p", "type": "particles", "file": "none.ply"}]})");
    EXPECT_NE(e.find("cannot open the point file"), std::string::npos) << e;
}

TEST(FuzzFileNames, ReadPlyRefusesDevicesFoldersAndPipes) {
    for (const std::string& f : {std::string("/dev/zero"), scratchFolder(), fifoPath()}) {
        SCOPED_TRACE(f);
        try {
            renderer::readPly(f);
            ADD_FAILURE() << "accepted " << f;
        } catch (const renderer::BadInput& e) {
            EXPECT_EQ(std::string(e.what()),
                      f + ": cannot read the point file: not a regular file");
        }
    }
}

TEST(FuzzFileNames, FilesNamedInsideAMeshAreOpenedOnlyWhenRegular) {
    // A glTF buffer on /dev/zero: the importer may not read it, so the mesh cannot be read.
    std::string gltf =
        R"({"asset": {"version": "2.0"}, "buffers": [{"uri": "/dev/zero", "byteLength": 64}]})";
    std::string file = writeScratchFile(
        "dev.gltf", reinterpret_cast<const std::uint8_t*>(gltf.data()), gltf.size());
    std::string e = loadError(meshScene(file));
    EXPECT_NE(e.find("cannot read the mesh file"), std::string::npos) << e;
    // An OBJ whose material library is a device still gives its triangle.
    std::string obj = "mtllib /dev/zero\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    file =
        writeScratchFile("dev.obj", reinterpret_cast<const std::uint8_t*>(obj.data()), obj.size());
    EXPECT_EQ(loadError(meshScene(file)), "");
}

TEST(FuzzFileNames, SceneFileMayBeAPipeButNoDeviceOrFolder) {
    for (const std::string& f : {std::string("/dev/zero"), scratchFolder()}) {
        try {
            renderer::loadSceneFile(f);
            ADD_FAILURE() << "accepted " << f;
        } catch (const renderer::BadInput& e) {
            EXPECT_EQ(std::string(e.what()), f + ": cannot read the scene: not a regular file");
        }
    }
    // A shell's <(...) hands the scene over a pipe.
    std::thread writer([] {
        std::ofstream out(fifoPath());
        out << R"({"render": {"width": 12}})";
    });
    auto scene = renderer::loadSceneFile(fifoPath());
    writer.join();
    EXPECT_EQ(scene->settings.width, 12);
}

// ---- what the loader hands the mesh importer ----

std::string meshFile(const std::string& name, const std::string& text) {
    return writeScratchFile(name, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(FuzzMeshImport, OnlyTheDocumentedFormatsReachTheImporter) {
    // The importer was seen to fail badly on malformed files; only the listed formats go to it.
    std::string f = meshFile("m.off", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    EXPECT_NE(loadError(meshScene(f)).find("\": expected an .obj, .ply, .stl, .gltf or .glb file"),
              std::string::npos);
    f = meshFile("M.OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_EQ(loadError(meshScene(f)), ""); // Only the reader of the extension reads the file: PLY
                                            // content named .stl once went to the
    // PLY reader unchecked after the STL reader refused it.
    f = meshFile("ply.stl", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                            "property float y\nproperty float z\nelement face 1\n"
                            "property list uchar int vertex_indices\nend_header\n"
                            "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    EXPECT_NE(loadError(meshScene(f)).find("cannot read the mesh file"), std::string::npos);
}

TEST(FuzzMeshImport, PlyHeadersAreCheckedFirst) {
    // A list of an unknown type before a missing end_header made the importer read past the file.
    const std::string head = "ply\nformat binary_little_endian 1.0\nelement vertex 3\n"
                             "property float x\nproperty float y\nproperty float z\n"
                             "element face 1\n";
    std::string e =
        loadError(meshScene(meshFile("h.ply", head + "property list uchar uend_header\n")));
    EXPECT_NE(e.find("header line 8: expected a property of a known type after an element"),
              std::string::npos)
        << e;
    e = loadError(meshScene(meshFile("n.ply", head + "property list uchar uint vertex_indices\n")));
    EXPECT_NE(e.find("the header has no end_header line"), std::string::npos) << e;
    e = loadError(meshScene(meshFile("f.ply", "ply\nelement vertex 0\nend_header\n")));
    EXPECT_NE(e.find("the header has no format line"), std::string::npos) << e;
}

std::string glb(std::uint32_t declared, std::uint32_t jsonLength, const std::string& json) {
    auto u32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    return "glTF" + u32(2) + u32(declared) + u32(jsonLength) + "JSON" + json;
}

TEST(FuzzMeshImport, BinaryGltfLengthsAreCheckedAgainstTheFile) {
    // The importer allocated what the chunk lengths claimed: gigabytes for a 473-byte file.
    const std::string json = R"({"asset":{"version":"2.0"}})";
    const auto n = static_cast<std::uint32_t>(20 + json.size());
    std::string e = loadError(meshScene(meshFile("a.glb", glb(0x02640000, 6, json))));
    EXPECT_NE(
        e.find("the header gives a length of 40108032 bytes for a file of " + std::to_string(n)),
        std::string::npos)
        << e;
    e = loadError(meshScene(meshFile("b.glb", glb(n, 0x7fffffff, json))));
    EXPECT_NE(e.find("the first chunk is no JSON chunk inside the file"), std::string::npos) << e;
    // Sound lengths reach the importer, which finds no mesh in this file.
    e = loadError(
        meshScene(meshFile("c.glb", glb(n, static_cast<std::uint32_t>(json.size()), json))));
    EXPECT_NE(e.find("cannot read the mesh file"), std::string::npos) << e;
    EXPECT_EQ(e.find("header"), std::string::npos) << e;
}

TEST(FuzzMeshImport, PolygonsBecomeFansOfTriangles) {
    // The importer's own triangulation aborted on malformed faces; the loader splits them.
    std::string f = meshFile("poly.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv -1 1 0\n"
                                         "f 1 2 3 4\nf 1 2 3 4 5\nf 1 2 3\n");
    auto scene = renderer::loadScene(meshScene(f), "s.json", "");
    ASSERT_EQ(scene->nodes.size(), 1u);
    auto* tri = static_cast<TriObject*>(scene->nodes[0].node->GetObjectRef());
    EXPECT_EQ(tri->GetMesh().numFaces, 2 + 3 + 1);
}

// ---- numbers the host's int arithmetic cannot carry ----

TEST(FuzzSceneLimits, SegmentsOfProceduralMeshes) {
    // 100000 segments overflowed the sphere's vertex count; 20000 asked for a 4.8 GB plane.
    for (const char* type : {"sphere", "plane", "torus"}) {
        SCOPED_TRACE(type);
        auto scene = [&](const std::string& segs) {
            return R"({"nodes": [{"name": "s", "type": ")" + std::string(type) +
                   R"(", "segments": )" + segs + "}]}";
        };
        EXPECT_EQ(loadError(scene("10000")), "");
        EXPECT_EQ(loadError(scene("10001")),
                  "s.json: nodes[0].segments: expected a whole number of segments from 1 to "
                  "10000, got 10001");
        EXPECT_NE(loadError(scene(R"([{"frame": 0, "value": 4}, {"frame": 9, "value": 0}])"))
                      .find("nodes[0].segments[1].value: expected a whole number of segments"),
                  std::string::npos);
    }
}

TEST(FuzzSceneLimits, FrameNumbers) {
    // Keys 2 * 13421772 frames apart overflowed the tick span between them.
    auto fov = [](const std::string& frame) {
        return R"({"camera": {"fov": [{"frame": )" + frame +
               R"(, "value": 30}, {"frame": 1000000, "value": 40}]}})";
    };
    EXPECT_EQ(loadError(fov("-1000000")), "");
    EXPECT_EQ(loadError(fov("-1000000.5")),
              "s.json: camera.fov[0].frame: expected a frame number from -1000000 to 1000000, "
              "got -1000000.5");
    EXPECT_NE(loadError(R"({"render": {"frames": [0, 2000000]}})")
                  .find("render.frames[1]: expected a frame number"),
              std::string::npos);
    EXPECT_NE(loadError(R"({"nodes": [{"name": "e", "type": "emitter", "life": 1e9}]})")
                  .find("nodes[0].life: expected a frame number"),
              std::string::npos);
}

// ---- point file faults the fuzzer found ----

std::string plyError(const std::string& text) {
    try {
        renderer::parsePly(text, "f.ply");
    } catch (const renderer::BadInput& e) {
        return e.what();
    }
    return "";
}

TEST(FuzzPointFile, VertexCountIsNotTrustedForTheReservation) {
    // The count once went to vector::reserve as it stood: length_error or a 4.8 GB allocation.
    // Now a count the rest of the file cannot hold is refused.
    const std::string head = "ply\nformat ascii 1.0\nelement vertex ";
    const std::string props =
        "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
    auto expectShort = [](const std::string& e, const std::string& start) {
        EXPECT_EQ(e.rfind(start, 0), 0u) << e;
    };
    expectShort(plyError(head + "9223372036854775807" + props + "1 2 3\n"),
                "f.ply: the file ends before vertex 1 of 9223372036854775807");
    expectShort(plyError(head + "100000000" + props + "1 2 3\n4 5 6\n"),
                "f.ply: the file ends before vertex 2 of 100000000");
    const std::string bin = "ply\nformat binary_little_endian 1.0\nelement vertex 1000000000" +
                            props + std::string(12, '\0');
    expectShort(plyError(bin), "f.ply: the file ends inside vertex 1 of 1000000000");
}

TEST(FuzzPointFile, IdsOutsideTheIntRangeAreRefused) {
    auto withId = [](double id) {
        std::string t = "ply\nformat binary_little_endian 1.0\nelement vertex 1\n"
                        "property float x\nproperty float y\nproperty float z\n"
                        "property double id\nend_header\n" +
                        std::string(12, '\0');
        t.append(reinterpret_cast<const char*>(&id), sizeof id);
        return t;
    };
    const std::string refused = "f.ply: vertex 0: the id is not a number in the int range";
    EXPECT_EQ(plyError(withId(1e300)), refused);
    EXPECT_EQ(plyError(withId(2147483648.0)), refused);
    EXPECT_EQ(plyError(withId(-2147483649.0)), refused);
    EXPECT_EQ(plyError(withId(std::numeric_limits<double>::quiet_NaN())), refused);
    EXPECT_EQ(renderer::parsePly(withId(2147483647.0), "f.ply").at(0).id, 2147483647);
    EXPECT_EQ(renderer::parsePly(withId(-2147483648.0), "f.ply").at(0).id,
              std::numeric_limits<int>::min());
}

} // namespace
} // namespace velquin::fuzz
