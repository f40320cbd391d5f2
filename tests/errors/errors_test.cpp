// The catalogue of bad inputs (docs/errors.md) as tests: every case runs the real `velquin`
// program in a folder of its own, with the files the case writes there, and checks the exit
// code, the key parts of the message on standard error and that a failed run left no file
// behind (no image, no temporary file). The test's name is the name the catalogue gives.
//
// Run with VELQUIN_ERRORS_PRINT=1 in the environment to print each case's full message, as
// docs/errors.md quotes it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Every case works under this folder, which the environment removes when the program ends.
fs::path g_root;

class ScratchEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        g_root = fs::temp_directory_path() / ("velquin_errors_" + std::to_string(::getpid()));
        fs::remove_all(g_root);
        fs::create_directories(g_root);
    }
    void TearDown() override {
        // A case may have locked a folder against writing; open it again so it can go.
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(g_root, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (!it->is_symlink(ec) && it->is_directory(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(g_root, ec);
    }
};

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);

struct File {
    std::string name;
    std::string text;
};

struct Case {
    std::string name;
    std::string command; // "render" or "trace"
    std::vector<File> files;
    std::string args;
    int code;
    std::vector<std::string> expect; // parts of standard error
    std::function<void(const fs::path&)> setup = nullptr;
    // render only: add --plugins with the built module's folder (cases about plug-in folders
    // give their own)
    bool plugins = true;
    // Shell words before the program (a limit, a pipe into it) and where its standard output
    // goes ("" for a file the test reads).
    std::string prefix = "";
    std::string stdoutTo = "";
    // What a case that succeeds must have left (default: out.png exists).
    std::function<void(const fs::path&)> check = nullptr;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        names.insert(fs::relative(it->path(), dir, ec).string());
    return names;
}

const char* kBlob = R"({"name": "b", "class": "VelquinMetaball")";

std::string blobWith(const std::string& rest) {
    return std::string(R"({"nodes": [)") + kBlob + rest + "]}";
}

std::string particles(const std::string& file) {
    return R"({"nodes": [{"name": "p", "type": "particles", "file": ")" + file + R"("}]})";
}

std::string mesh(const std::string& file) {
    return R"({"nodes": [{"name": "m", "type": "mesh", "file": ")" + file + R"("}]})";
}

const char* kPlyHead = "ply\nformat ascii 1.0\nelement vertex 2\n"
                       "property float x\nproperty float y\nproperty float z\n";

const char* kTiny = R"({"render": {"width": 8, "height": 6}})";

const char* kRay = R"({"origin": [0, 0, -100], "direction": [0, 0, 1], "tmin": 0, "tmax": 1000})";

std::string traceInput(const std::string& params, const std::string& frame,
                       const std::string& rays) {
    std::string s = "{";
    if (!params.empty())
        s += R"("params": )" + params + ", ";
    if (!frame.empty())
        s += R"("frame": )" + frame + ", ";
    s += R"("rays": )" + rays + "}";
    return s;
}

void copyModule(const fs::path& dir, const char* from, const std::string& as) {
    fs::create_directories(dir / "plugins");
    fs::copy_file(from, dir / "plugins" / as, fs::copy_options::overwrite_existing);
}

std::vector<Case> sceneCases() {
    return {
        {"SceneMissing",
         "render",
         {},
         "missing.json -o out.png",
         1,
         {"missing.json: cannot open the scene: No such file or directory"}},
        {"SceneSyntaxError",
         "render",
         {{"scene.json", "{\n  \"render\": {\"width\": 8,\n  \"height\": }\n}\n"}},
         "scene.json -o out.png",
         1,
         {"scene.json: not valid JSON: parse error at line 3, column 13", "unexpected '}'"}},
        {"SceneEmptyFile",
         "render",
         {{"scene.json", ""}},
         "scene.json -o out.png",
         1,
         {"scene.json: not valid JSON", "line 1, column 1", "unexpected end of input"}},
        {"SceneNotAnObject",
         "render",
         {{"scene.json", "[1, 2]"}},
         "scene.json -o out.png",
         1,
         {"scene.json: $: expected an object at the top of the scene, got an array"}},
        {"SceneIsAFolder",
         "render",
         {},
         "scene.json -o out.png",
         1,
         {"scene.json: cannot read the scene", "not a regular file"},
         [](const fs::path& d) { fs::create_directories(d / "scene.json"); }},
        {"SceneUnknownSection",
         "render",
         {{"scene.json", R"({"light": []})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: $: unknown key \"light\"", "\"lights\""}},
        {"SceneUnknownKey",
         "render",
         {{"scene.json", R"({"camera": {"fov": 30, "zoom": 2}})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: camera: unknown key \"zoom\"", "\"fov\""}},
        {"SceneWrongType",
         "render",
         {{"scene.json", R"({"render": {"width": "wide"}})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: render.width: expected a number, got a string"}},
        {"SceneNumberTooLarge",
         "render",
         {{"scene.json", R"({"render": {"width": 1e400}})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: not valid JSON: number overflow parsing '1e400'"}},
        {"SceneSamplesZero",
         "render",
         {{"scene.json", R"({"render": {"spp": 0}})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: render.spp: expected a whole number of at least 1, got 0"}},
        {"SceneFieldOfViewOutOfRange",
         "render",
         {{"scene.json", R"({"camera": {"fov": 200}})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: camera.fov: expected a vertical field of view between 0 and 180"}},
        {"SceneUnknownLightType",
         "render",
         {{"scene.json", R"({"lights": [{"type": "spot"}]})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: lights[0].type: unknown light type \"spot\""}},
        {"SceneUnknownMaterial",
         "render",
         {{"scene.json", R"({"nodes": [{"name": "s", "type": "sphere", "material": "gold"}]})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].material: unknown material \"gold\""}},
        {"SceneUnknownTexture",
         "render",
         {{"scene.json", blobWith(R"(, "params": {"texmap": "lumps"}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.texmap: unknown texture \"lumps\""}},
        {"SceneUnknownNodeReference",
         "render",
         {{"scene.json", blobWith(R"(, "nodes": ["ghost"]})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].nodes[0]: no node named \"ghost\" in the scene"}},
        {"SceneDuplicateNodeName",
         "render",
         {{"scene.json",
           R"({"nodes": [{"name": "a", "type": "sphere"}, {"name": "a", "type": "box"}]})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[1].name: a node named \"a\" already exists"}},
        {"SceneUnknownNodeType",
         "render",
         {{"scene.json", R"({"nodes": [{"name": "a", "type": "cone"}]})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].type: unknown node type \"cone\""}},
        {"SceneUnknownClass",
         "render",
         {{"scene.json", R"({"nodes": [{"name": "x", "class": "NoSuchBlob"}]})"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].class: unknown class \"NoSuchBlob\"",
          "(known classes: VelquinMetaball)"}},
    };
}

std::vector<Case> paramCases() {
    return {
        {"ParamUnknownName",
         "render",
         {{"scene.json", blobWith(R"(, "params": {"radiuss": 3}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.radiuss: unknown parameter \"radiuss\" of class "
          "\"VelquinMetaball\"",
          "(valid: nodes, metaballs", "radius, threshold"}},
        {"ParamUnknownNodeKey",
         "render",
         {{"scene.json", blobWith(R"(, "treshold": 0.5})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].treshold: unknown parameter \"treshold\""}},
        {"ParamWrongType",
         "render",
         {{"scene.json", blobWith(R"(, "params": {"radius": "big"}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.radius: expected a number, got a string"}},
        {"ParamNotWhole",
         "render",
         {{"scene.json", blobWith(R"(, "params": {"fieldFunction": 1.5}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.fieldFunction: expected a whole number, got 1.5"}},
        {"ParamSwitchNotBoolean",
         "render",
         {{"scene.json", blobWith(R"(, "params": {"useAverage": 1}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.useAverage: parameter \"useAverage\" is a switch: "
          "expected true or false, got a number"}},
        {"ParamRadiusOutOfRange",
         "render",
         {{"scene.json", blobWith(R"(, "params": {"radius": -5}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.radius: parameter \"radius\": -5 is out of range; "
          "expected a value from 0.0001 to 1e+06"}},
        {"ParamThresholdZero",
         "render",
         {{"scene.json", blobWith(R"(, "threshold": 0})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].threshold: parameter \"threshold\": 0 is out of range; expected "
          "a value from 0.0001 to 1e+06"}},
        {"ParamKeyOutOfRange",
         "render",
         {{"scene.json",
           blobWith(
               R"(, "params": {"depth": [{"frame": 0, "value": 15}, {"frame": 10, "value": 0}]}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.depth[1].value: parameter \"depth\": 0 is out of range; "
          "expected a value from 1 to 50"}},
        {"ParamNotAnimatable",
         "render",
         {{"scene.json",
           blobWith(R"(, "params": {"fieldFunction": [{"frame": 0, "value": 1}]}})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].params.fieldFunction: parameter \"fieldFunction\" is not "
          "animatable; expected a constant"}},
        {"ParamTableEntryWrongShape",
         "render",
         {{"scene.json", blobWith(R"(, "metaballs": [[0, 0, 0], [1, 2]]})")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].metaballs[1]: expected an array of three numbers, got an array "
          "of 2"}},
    };
}

std::vector<Case> meshCases() {
    return {
        {"MeshMissing",
         "render",
         {{"scene.json", mesh("missing.obj")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: cannot read the mesh file \"missing.obj\": No such file or "
          "directory"}},
        {"MeshUnsupportedFormat",
         "render",
         {{"scene.json", mesh("shape.xyz123")}, {"shape.xyz123", "hello\n"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: cannot read the mesh file \"shape.xyz123\": expected an "
          ".obj, .ply, .stl, .gltf or .glb file"}},
        {"MeshEmptyFile",
         "render",
         {{"scene.json", mesh("empty.obj")}, {"empty.obj", ""}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: cannot read the mesh file \"empty.obj\""}},
        {"MeshNoGeometry",
         "render",
         {{"scene.json", mesh("words.obj")}, {"words.obj", "this is not a mesh at all\n"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: cannot read the mesh file \"words.obj\": it holds no mesh"}},
        {"MeshUnreadable",
         "render",
         {{"scene.json", mesh("broken.stl")},
          {"broken.stl", "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0\n"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: cannot read the mesh file \"broken.stl\""}},
        {"MeshIsAFolder",
         "render",
         {{"scene.json", mesh("shape.obj")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: \"shape.obj\" is not a regular file"},
         [](const fs::path& d) { fs::create_directories(d / "shape.obj"); }},
    };
}

std::vector<Case> pointCases() {
    const std::string head = kPlyHead;
    return {
        {"PointsMissing",
         "render",
         {{"scene.json", particles("missing.ply")}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: missing.ply: cannot open the point file: No such file"}},
        {"PointsNotPly",
         "render",
         {{"scene.json", particles("points.ply")}, {"points.ply", "plx\nformat ascii 1.0\n"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: points.ply: not a PLY file (it must start with \"ply\")"}},
        {"PointsNoEndHeader",
         "render",
         {{"scene.json", particles("points.ply")}, {"points.ply", head + "1 2 3\n4 5 6\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:7: unexpected header line \"1 2 3\" (expected format, element, property, "
          "comment or end_header)"}},
        {"PointsNoFormat",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", "ply\nelement vertex 1\nproperty float x\nproperty float y\n"
                         "property float z\nend_header\n1 2 3\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply: the PLY header has no format line"}},
        {"PointsBigEndian",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", "ply\nformat binary_big_endian 1.0\nelement vertex 1\n"
                         "property float x\nproperty float y\nproperty float z\nend_header\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:2: unsupported PLY format \"binary_big_endian\" (expected ascii or "
          "binary_little_endian)"}},
        {"PointsUnknownPropertyType",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty vec3 x\nend_header\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:4: unknown property type in \"property vec3 x\""}},
        {"PointsMissingZ",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                         "property float y\nend_header\n1 2\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply: the vertex element needs x, y and z properties"}},
        {"PointsFirstElementNotVertex",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", "ply\nformat ascii 1.0\nelement face 1\n"
                         "property list uchar int vertex_indices\nelement vertex 1\n"
                         "property float x\nproperty float y\nproperty float z\nend_header\n"
                         "3 0 0 0\n1 2 3\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply: expected the first element of the PLY file to be \"vertex\""}},
        {"PointsTruncatedLine",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", head + "end_header\n1 2 3\n4 5\n7 8 9\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:9: expected 3 numbers for vertex 1"}},
        {"PointsNotANumber",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", head + "end_header\n1 abc 3\n4 5 6\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:8: vertex 0, property \"y\": \"abc\" is not a number"}},
        {"PointsCountLargerThanAsciiFile",
         "render",
         {{"scene.json", particles("points.ply")}, {"points.ply", head + "end_header\n1 2 3\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply: the file ends before vertex 1 of 2"}},
        {"PointsCountLargerThanBinaryFile",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 1000000000000\n"
                         "property float x\nproperty float y\nproperty float z\nend_header\n" +
                             std::string(24, '\0')}},
         "scene.json -o out.png",
         1,
         {"points.ply: the file ends inside vertex 2 of 1000000000000"}},
        {"PointsNegativeCount",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", "ply\nformat ascii 1.0\nelement vertex -4\nend_header\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:3: malformed element line"}},
    };
}

std::vector<Case> pluginCases() {
    return {
        {"PluginFolderMissing",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: plug-in folder not found"},
         nullptr,
         false},
        {"PluginFolderIsAFile",
         "render",
         {{"scene.json", kTiny}, {"plugins", "not a folder\n"}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: not a folder; expected the folder that holds the plug-in modules"},
         nullptr,
         false},
        {"PluginFolderEmpty",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: no plug-in module in this folder (modules are files whose names end in .so)"},
         [](const fs::path& d) { fs::create_directories(d / "plugins"); },
         false},
        {"PluginWrongFileName",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: no plug-in module in this folder (modules are files whose names end in .so)"},
         [](const fs::path& d) { copyModule(d, VELQUIN_MODULE_FILE, "VelquinMetaball.dlo"); },
         false},
        {"PluginNotAModule",
         "render",
         {{"scene.json", kTiny}, {"plugins/notes.so", "notes\n"}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: no plug-in module in this folder",
          "plugins/notes.so: not a loadable plug-in module (", "file too short"},
         nullptr,
         false},
        {"PluginCutShort",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: no plug-in module in this folder",
          "plugins/VelquinMetaball.so: not a loadable plug-in module (the file is cut short: it "
          "has 4096 bytes, but its headers describe "},
         [](const fs::path& d) {
             copyModule(d, VELQUIN_MODULE_FILE, "VelquinMetaball.so");
             fs::resize_file(d / "plugins" / "VelquinMetaball.so", 4096);
         },
         false},
        {"PluginOtherHostVersion",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: no plug-in module in this folder",
          "plugins/other.so: built for host version 0x11223300 (release 4386, API 51, revision 0), "
          "but this host is version 0x"},
         [](const fs::path& d) { copyModule(d, VELQUIN_OTHER_HOST_MODULE, "other.so"); },
         false},
        {"PluginMissingExports",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --plugins plugins",
         1,
         {"plugins: no plug-in module in this folder",
          "plugins/half.so: not a plug-in: it does not export LibNumberClasses"},
         [](const fs::path& d) { copyModule(d, VELQUIN_NO_EXPORTS_MODULE, "half.so"); },
         false},
        {"PluginSkippedBesideGood",
         "render",
         {{"scene.json", kTiny}, {"plugins/notes.so", "x\n"}},
         "scene.json -o out.png --plugins plugins",
         0,
         {"velquin render: warning: plug-in module skipped: plugins/notes.so: not a loadable "
          "plug-in module",
          "wrote out.png"},
         [](const fs::path& d) { copyModule(d, VELQUIN_MODULE_FILE, "VelquinMetaball.so"); },
         false},
    };
}

std::vector<Case> optionCases() {
    return {
        {"OptionUnknown",
         "render",
         {},
         "--bogus -o out.png",
         2,
         {"The following argument was not expected: --bogus"}},
        {"OptionTwoScenes",
         "render",
         {},
         "a.json b.json -o out.png",
         2,
         {"The following argument was not expected: b.json"}},
        {"OptionRegionMalformed",
         "render",
         {},
         "--region 0,0,5 -o out.png",
         2,
         {"velquin render: --region: expected x0,y0,x1,y1 with x0 < x1 and y0 < y1, got "
          "\"0,0,5\""}},
        {"OptionRegionEmpty",
         "render",
         {},
         "--region 5,5,2,2 -o out.png",
         2,
         {"velquin render: --region: expected x0,y0,x1,y1", "got \"5,5,2,2\""}},
        {"OptionRegionOutsideImage",
         "render",
         {{"scene.json", kTiny}},
         "scene.json --region 0,0,100,100 -o out.png",
         1,
         {"velquin render: --region 0,0,100,100: outside the 8x6 image"}},
        {"OptionFramesReversed",
         "render",
         {},
         "--frames 5:2 -o out.png",
         2,
         {"velquin render: --frames: expected A:B or A:B:STEP with A <= B and STEP >= 1, got "
          "\"5:2\""}},
        {"OptionFramesZeroStep",
         "render",
         {},
         "--frames 1:4:0 -o out.png",
         2,
         {"velquin render: --frames: expected A:B or A:B:STEP", "got \"1:4:0\""}},
        {"OptionFrameAndFrames",
         "render",
         {},
         "--frame 1 --frames 1:2 -o out.png",
         2,
         {"--frame excludes --frames"}},
        {"OptionThreadsZero",
         "render",
         {},
         "--threads 0 -o out.png",
         2,
         {"--threads: expected a whole number of at least 1, got \"0\""}},
        {"OptionWidthNotANumber",
         "render",
         {},
         "--width wide -o out.png",
         2,
         {"--width: expected a whole number of at least 1, got \"wide\""}},
        {"OptionMotionBlurBadValue",
         "render",
         {},
         "--motion-blur maybe -o out.png",
         2,
         {"--motion-blur: maybe not in {on,off}"}},
        {"OptionOutputEmpty",
         "render",
         {},
         "-o ''",
         2,
         {"--output: expected a name, got an empty text"}},
        {"OptionPluginsEmpty",
         "render",
         {},
         "--plugins '' -o out.png",
         2,
         {"--plugins: expected a name, got an empty text"},
         nullptr,
         false},
        {"OptionNoCommand", "", {}, "", 2, {"A subcommand is required"}},
    };
}

std::vector<Case> outputCases() {
    return {
        {"OutputUnknownExtension",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.gif",
         1,
         {"velquin render: out.gif: unknown image type: the output must end in .png or .exr"}},
        {"OutputNoExtension",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out",
         1,
         {"out: unknown image type: the output must end in .png or .exr"}},
        {"OutputFolderMissing",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o renders/out.png",
         1,
         {"renders/out.png: cannot write the image: the folder \"renders\" does not exist"}},
        {"OutputFolderIsAFile",
         "render",
         {{"scene.json", kTiny}, {"renders", "a file\n"}},
         "scene.json -o renders/out.png",
         1,
         {"renders/out.png: cannot write the image: the folder \"renders\" is not a folder"}},
        {"OutputFolderUnwritable",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o locked/out.png",
         1,
         // The reason is the system's: "Permission denied", or "Read-only file system" where
         // sysfs is mounted so.
         {"velquin render: locked/out.png: cannot write the image in the folder \"locked\": "},
         [](const fs::path& d) {
             fs::create_directories(d / "locked");
             if (::geteuid() == 0) {
                 // The superuser writes in any folder whose mode forbids it; sysfs takes no
                 // new file from anyone.
                 fs::remove(d / "locked");
                 fs::create_directory_symlink("/sys", d / "locked");
             } else {
                 fs::permissions(d / "locked", fs::perms::owner_read | fs::perms::owner_exec);
             }
         }},
        {"OutputIsAFolder",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png",
         1,
         {"velquin render: out.png: cannot write the image: it is a folder"},
         [](const fs::path& d) { fs::create_directories(d / "out.png"); }},
    };
}

std::vector<Case> traceCases() {
    const std::string frame = R"({"positions": [[0, 0, 0]]})";
    const std::string rays = std::string("[") + kRay + "]";
    return {
        {"TraceNoFile", "trace", {}, "", 2, {"FILE is required"}},
        {"TraceMissing",
         "trace",
         {},
         "rays.json",
         1,
         {"velquin trace: rays.json: cannot open: No such file or directory"}},
        {"TraceIsAFolder",
         "trace",
         {},
         "rays.json",
         1,
         {"velquin trace: rays.json: cannot read: it is a folder, not a file"},
         [](const fs::path& d) { fs::create_directories(d / "rays.json"); }},
        {"TraceSyntaxError",
         "trace",
         {{"rays.json", "{\"frame\": {\"positions\": [[0, 0, 0]]},\n \"rays\": [ {]}"}},
         "rays.json",
         1,
         {"velquin trace: rays.json: malformed JSON: parse error at line 2, column 13"}},
        {"TraceEmptyInput",
         "trace",
         {{"rays.json", ""}},
         "- < rays.json",
         1,
         {"velquin trace: <stdin>: malformed JSON", "unexpected end of input"}},
        {"TraceMissingRays",
         "trace",
         {{"rays.json", R"({"frame": )" + frame + "}"}},
         "rays.json",
         1,
         {"velquin trace: rays.json: input: missing field \"rays\" (an array of rays)"}},
        {"TraceMissingFrame",
         "trace",
         {{"rays.json", traceInput("", "", "[]")}},
         "rays.json",
         1,
         {"rays.json: input: missing field \"frame\" (a still frame) or \"segments\""}},
        {"TraceUnknownParameter",
         "trace",
         {{"rays.json", traceInput(R"({"radiuss": 1})", frame, "[]")}},
         "rays.json",
         1,
         {"rays.json: params: unknown parameter \"radiuss\"; known parameters: \"radius\""}},
        {"TraceParameterOutOfRange",
         "trace",
         {{"rays.json", traceInput(R"({"radius": -1})", frame, "[]")}},
         "rays.json",
         1,
         {"rays.json: params.radius: -1 is out of range; expected a value from 0.0001 to 1e+06"}},
        {"TraceUnknownRayField",
         "trace",
         {{"rays.json", traceInput("", frame, R"([{"origin": [0, 0, 0], "dir": [0, 0, 1]}])")}},
         "rays.json",
         1,
         {"rays.json: rays[0]: unknown field \"dir\""}},
        {"TraceZeroDirection",
         "trace",
         {{"rays.json",
           traceInput(
               "", frame,
               R"([{"origin": [0, 0, -100], "direction": [0, 0, 0], "tmin": 0, "tmax": 1}])")}},
         "rays.json",
         1,
         {"rays.json: rays[0].direction: expected a non-zero direction"}},
        {"TraceSizesCount",
         "trace",
         {{"rays.json", traceInput("", R"({"positions": [[0, 0, 0]], "sizes": [1, 2]})", rays)}},
         "rays.json",
         1,
         {"rays.json: frame.sizes: has 2 entries but frame.positions has 1"}},
        {"TraceColorsMissing",
         "trace",
         {{"rays.json", traceInput(R"({"color": 2})", frame, rays)}},
         "rays.json",
         1,
         {"rays.json: frame.colors: missing; params.color 2 asks for per-metaball colours"}},
        {"TraceNumberTooLarge",
         "trace",
         {{"rays.json", traceInput(R"({"radius": 1e400})", frame, rays)}},
         "rays.json",
         1,
         {"rays.json: malformed JSON: number overflow parsing '1e400'"}},
    };
}

// Values a scene may hold that no render can use: out of single precision, a camera from which
// no ray can start, sizes and fractions beyond their meaning.
std::string tiny(const std::string& rest) {
    return R"({"render": {"width": 8, "height": 6)" + rest + "}";
}

std::vector<Case> valueCases() {
    const std::string sphere = R"("nodes": [{"name": "s", "type": "sphere", "radius": 30, )"
                               R"("visible": true}])";
    auto scene = [](const std::string& name, const std::string& text, const std::string& part) {
        return Case{name, "render", {{"scene.json", text}}, "scene.json -o out.png", 1, {part}};
    };
    return {
        scene("CameraFarAway",
              tiny(R"(}, "camera": {"position": [0, -1e19, 0], "target": [0, 0, 0]}, )" + sphere),
              "scene.json: camera.position[1]: expected a coordinate from -1e+15 to 1e+15, got "
              "-1e+19"),
        scene("CameraTargetBeyondFloat", tiny(R"(}, "camera": {"target": [0, 1e300, 0]})"),
              "scene.json: camera.target[1]: expected a number within +-3.4e+38 (single "
              "precision), got 1e+300"),
        scene("CameraUpBeyondFloat", tiny(R"(}, "camera": {"up": [0, 0, 1e300]})"),
              "scene.json: camera.up[2]: expected a number within +-3.4e+38"),
        scene("CameraAtTarget",
              tiny(R"(}, "camera": {"position": [1, 2, 3], "target": [1, 2, 3]})"),
              "scene.json: camera.target: the camera's target is its position (at frame 0)"),
        scene("RayBiasTooLarge", tiny(R"(, "rayBias": 1e30})"),
              "scene.json: render.rayBias: expected an offset from 0 to 1e+06, got 1e+30"),
        scene("RayBiasNegative", tiny(R"(, "rayBias": -0.5})"),
              "scene.json: render.rayBias: expected an offset from 0 to 1e+06, got -0.5"),
        scene("SamplesTooMany", tiny(R"(, "spp": 65537})"),
              "scene.json: render.spp: expected a whole number from 1 to 65536, got 65537"),
        scene("GlassIorBeyondFloat",
              tiny(R"(}, "materials": {"g": {"type": "glass", "ior": 1e300}})"),
              "scene.json: materials.g.ior: expected a number within +-3.4e+38"),
        scene("GlossyReflectionAboveOne",
              tiny(R"(}, "materials": {"g": {"type": "glossy", "reflection": 5}})"),
              "scene.json: materials.g.reflection: expected a fraction from 0 to 1, got 5"),
        scene("LightIntensityBeyondFloat",
              tiny(R"(}, "lights": [{"type": "ambient", "intensity": 1e300}])"),
              "scene.json: lights[0].intensity: expected a number within +-3.4e+38"),
        scene("LightIntensityNegative",
              tiny(R"(}, "lights": [{"type": "ambient", "intensity": -1}])"),
              "scene.json: lights[0].intensity: expected an intensity from 0 to 1e+06, got -1"),
        scene("ColorNegative", tiny(R"(}, "materials": {"m": {"color": [0.5, -0.2, 0.5]}})"),
              "scene.json: materials.m.color[1]: expected a colour component from 0 to 1000, got "
              "-0.2"),
        scene("BackgroundTooBright", tiny(R"(}, "background": [1e30, 0, 0])"),
              "scene.json: background[0]: expected a colour component from 0 to 1000, got 1e+30"),
        scene("SphereRadiusNegative",
              R"({"nodes": [{"name": "s", "type": "sphere", "radius": -10}]})",
              "scene.json: nodes[0].radius: expected a radius above 0, got -10"),
        scene("SphereRadiusKeyZero",
              R"({"nodes": [{"name": "s", "type": "sphere", "radius": [{"frame": 0, "value": 5}, )"
              R"({"frame": 9, "value": 0}]}]})",
              "scene.json: nodes[0].radius[1].value: expected a radius above 0, got 0"),
        scene("BoxNegativeSize", R"({"nodes": [{"name": "b", "type": "box", "height": -2}]})",
              "scene.json: nodes[0].height: expected a height of at least 0, got -2"),
        scene("ScaleZero",
              R"({"nodes": [{"name": "s", "type": "sphere", "transform": {"scale": [1, 0, 1]}}]})",
              "scene.json: nodes[0].transform.scale: expected a scale other than 0, got [1,0,1]"),
        scene("FlowParticleDiesBeforeBirth",
              R"({"nodes": [{"name": "f", "type": "pflow", "events": ["e"], "particles": )"
              R"([{"position": [0, 0, 0], "birth": 5, "death": 2}]}]})",
              "scene.json: nodes[0].particles[0].death: the particle dies (frame 2) before it is "
              "born (frame 5)"),
        scene("FlowParticleIdTwice",
              R"({"nodes": [{"name": "f", "type": "pflow", "events": ["e"], "particles": )"
              R"([{"id": 7, "position": [0, 0, 0]}, {"id": 7, "position": [1, 0, 0]}]}]})",
              "scene.json: nodes[0].particles[1].id: a particle with id 7 already exists"),
        // A terminal would obey the escape sequence; the message shows it.
        scene("ControlCharactersShown", R"({"nodes": [{"name": "a", "type": "cone\u001b[2J"}]})",
              "scene.json: nodes[0].type: unknown node type \"cone\\u001B[2J\""),
    };
}

std::vector<Case> moreMeshAndPointCases() {
    const std::string head = "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                             "property float y\nproperty float z\n";
    return {
        {"MeshPlyClaimsBillions",
         "render",
         {{"scene.json", mesh("big.ply")},
          {"big.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\n"
                      "property float x\nproperty float y\nproperty float z\nend_header\n"
                      "0123456789ab"}},
         "scene.json -o out.png",
         1,
         {"scene.json: nodes[0].file: cannot read the mesh file \"big.ply\": the header claims "
          "4000000000 vertex records, more than the 12 bytes after it can hold"}},
        {"PointsColorOutOfRange",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", head + "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                                "end_header\n1 2 3 300 -1 2.5\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:11: vertex 0, property \"red\": 300 is not a whole number from 0 to 255"}},
        {"PointsPropertyTwice",
         "render",
         {{"scene.json", particles("points.ply")},
          {"points.ply", head + "property float y\nend_header\n1 2 3 4\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:7: property \"y\" named twice in element \"vertex\""}},
        {"PointsNotFinite",
         "render",
         {{"scene.json", particles("points.ply")}, {"points.ply", head + "end_header\n1 nan 3\n"}},
         "scene.json -o out.png",
         1,
         {"points.ply:8: vertex 0, property \"y\": nan is not a finite number"}},
    };
}

std::vector<Case> moreCommandCases() {
    const std::string ply = "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                            "property float y\nproperty float z\nend_header\n0 0 0\n";
    auto modeIs = [](fs::perms expected) {
        return [expected](const fs::path& d) {
            EXPECT_EQ(fs::status(d / "out.png").permissions() & fs::perms::all, expected);
        };
    };
    const std::string longName = std::string(251, 'n') + ".png"; // 255 bytes, the most a name has
    return {
        {"OptionFrameOutOfRange",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --frame 2000000000",
         2,
         {"velquin render: --frame: expected frames from -1000000 to 1000000, got "
          "\"2000000000\""}},
        {"OptionFramesOutOfRange",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --frames 0:1000001",
         2,
         {"velquin render: --frames: expected frames from -1000000 to 1000000, got "
          "\"0:1000001\""}},
        {"OptionSamplesTooMany",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --spp 65537",
         2,
         {"velquin render: --spp: expected a whole number from 1 to 65536, got 65537"}},
        {"OutputIsTheScene",
         "render",
         {{"scene.png", kTiny}},
         "scene.png -o scene.png",
         1,
         {"velquin render: scene.png: the output is the scene file; refusing to overwrite it"}},
        {"OutputIsAPointFile",
         "render",
         {{"scene.json", particles("pts.png")}, {"pts.png", ply}},
         "scene.json -o pts.png",
         1,
         {"velquin render: pts.png: the output is the input file \"pts.png\" of this render; "
          "refusing to overwrite it"}},
        {"OutputFileTooLarge",
         "render",
         {},
         "-o out.png --width 64 --height 48",
         1,
         {"velquin render: out.png: cannot write the image: File too large"},
         nullptr,
         true,
         "ulimit -f 1 &&"},
        {"OutputLongestName",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o " + longName,
         0,
         {},
         nullptr,
         true,
         "",
         "",
         [longName](const fs::path& d) { EXPECT_TRUE(fs::exists(d / longName)); }},
        {"OutputReadOnlyKeepsItsMode",
         "render",
         {{"scene.json", kTiny}, {"out.png", "old"}},
         "scene.json -o out.png",
         0,
         {},
         [](const fs::path& d) { fs::permissions(d / "out.png", fs::perms::owner_read); },
         true,
         "",
         "",
         modeIs(fs::perms::owner_read)},
        {"TraceDevice",
         "trace",
         {},
         "/dev/zero",
         1,
         {"velquin trace: /dev/zero: cannot read: not a "
          "regular file"}},
        {"TraceStreamTooLarge",
         "trace",
         {},
         "-",
         1,
         {"velquin trace: <stdin>: the input is larger than 256 MiB"},
         nullptr,
         true,
         "head -c 268435457 /dev/zero |"},
        {"ParamsOutputFull",
         "params",
         {},
         "",
         3,
         {"velquin params: cannot write the output: No space left on device"},
         nullptr,
         true,
         "",
         "/dev/full"},
        {"InfoOutputFull",
         "info",
         {},
         std::string("--plugins ") + VELQUIN_PLUGIN_DIR,
         3,
         {"velquin info: cannot write the output: No space left on device"},
         nullptr,
         true,
         "",
         "/dev/full"},
        {"InfoBareNameIsAPath",
         "info",
         {},
         "mod.so",
         0,
         {},
         [](const fs::path& d) { fs::copy_file(VELQUIN_MODULE_FILE, d / "mod.so"); },
         true,
         "",
         "",
         [](const fs::path& d) {
             EXPECT_NE(slurp(d.parent_path() / "InfoBareNameIsAPath.stdout")
                           .find("mod.so\n  description: "),
                       std::string::npos);
         }},
        {"InfoBareNameNotOnSearchPath",
         "info",
         {},
         "libm.so.6",
         1,
         {"velquin info: libm.so.6: not a loadable plug-in module (./libm.so.6: cannot open "
          "shared object file: No such file or directory)"}},
        {"PluginLinkLoopSkipped",
         "render",
         {{"scene.json", kTiny}},
         "scene.json -o out.png --plugins plugins",
         0,
         {"velquin render: warning: plug-in module skipped: plugins/loop.so: cannot tell what it "
          "is "
          "(Too many levels of symbolic links)"},
         [](const fs::path& d) {
             copyModule(d, VELQUIN_MODULE_FILE, "VelquinMetaball.so");
             fs::create_symlink("loop.so", d / "plugins" / "loop.so");
         },
         false},
    };
}

template <class... Lists> std::vector<Case> join(Lists... lists) {
    std::vector<Case> all;
    (all.insert(all.end(), lists.begin(), lists.end()), ...);
    return all;
}

// gtest prints a failing case's parameter; its name says which one.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class BadInput : public ::testing::TestWithParam<Case> {};

TEST_P(BadInput, ExitCodeMessageAndNothingLeft) {
    const Case& c = GetParam();
    fs::path dir = g_root / c.name;
    fs::create_directories(dir);
    for (const File& f : c.files) {
        fs::create_directories((dir / f.name).parent_path());
        std::ofstream(dir / f.name, std::ios::binary) << f.text;
    }
    if (c.setup)
        c.setup(dir);
    const std::set<std::string> before = listing(dir);

    fs::path out = g_root / (c.name + ".stdout"), err = g_root / (c.name + ".stderr");
    std::string cmd = "cd " + quote(dir.string()) + " && " + c.prefix + " timeout -k 5 120 " +
                      quote(VELQUIN_PROGRAM) + (c.command.empty() ? "" : " " + c.command) + " " +
                      c.args;
    if (c.command == "render" && c.plugins)
        cmd += " --plugins " + quote(VELQUIN_PLUGIN_DIR);
    cmd +=
        " >" + quote(c.stdoutTo.empty() ? out.string() : c.stdoutTo) + " 2>" + quote(err.string());
    int st = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(st)) << cmd;
    const int code = WEXITSTATUS(st);
    const std::string message = slurp(err);
    if (std::getenv("VELQUIN_ERRORS_PRINT"))
        std::printf("---- %s (exit %d)\n%s", c.name.c_str(), code, message.c_str());

    // 124 and 137 are the timeout's: the program hung.
    EXPECT_EQ(code, c.code) << cmd << "\n" << message;
    for (const std::string& part : c.expect)
        EXPECT_NE(message.find(part), std::string::npos) << "missing \"" << part << "\" in:\n"
                                                         << message;
    if (c.code != 0) {
        // A failure writes no image, keeps no temporary file and prints no results.
        EXPECT_EQ(listing(dir), before) << "files appeared in " << dir;
        EXPECT_EQ(slurp(out), "");
    } else if (c.check) {
        c.check(dir);
    } else {
        EXPECT_TRUE(fs::exists(dir / "out.png"));
    }
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(SceneFile, BadInput, ::testing::ValuesIn(sceneCases()), caseName);
INSTANTIATE_TEST_SUITE_P(PluginParameter, BadInput, ::testing::ValuesIn(paramCases()), caseName);
INSTANTIATE_TEST_SUITE_P(SceneValue, BadInput, ::testing::ValuesIn(valueCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Mesh, BadInput, ::testing::ValuesIn(meshCases()), caseName);
INSTANTIATE_TEST_SUITE_P(PointFile, BadInput, ::testing::ValuesIn(pointCases()), caseName);
INSTANTIATE_TEST_SUITE_P(MeshOrPoints, BadInput, ::testing::ValuesIn(moreMeshAndPointCases()),
                         caseName);
INSTANTIATE_TEST_SUITE_P(CommandAndOutput, BadInput, ::testing::ValuesIn(moreCommandCases()),
                         caseName);
INSTANTIATE_TEST_SUITE_P(PluginModule, BadInput, ::testing::ValuesIn(pluginCases()), caseName);
INSTANTIATE_TEST_SUITE_P(CommandLine, BadInput, ::testing::ValuesIn(optionCases()), caseName);
INSTANTIATE_TEST_SUITE_P(OutputPath, BadInput, ::testing::ValuesIn(outputCases()), caseName);
INSTANTIATE_TEST_SUITE_P(TraceInput, BadInput, ::testing::ValuesIn(traceCases()), caseName);

} // namespace
