// Runs the built `velquin trace` on the reference vectors and checks the program's exit codes.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/vectors/trace_compare.h"

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A file name of the running test's own, so that tests may run in parallel.
std::string tempPath(const std::string& name) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string tag = "velquin_" + std::to_string(::getpid()) + "_";
    if (info)
        tag += std::string(info->test_suite_name()) + "_" + info->name() + "_";
    for (char& c : tag)
        if (c == '/')
            c = '_';
    return ::testing::TempDir() + tag + name;
}

// Runs velquin with `args` (already quoted for the shell), optionally feeding `stdinText`.
RunResult runVelquin(const std::string& args, const std::string* stdinText = nullptr) {
    const std::string outPath = tempPath("out.txt"), errPath = tempPath("err.txt");
    std::string cmd = std::string("'") + VELQUIN_EXECUTABLE + "' " + args;
    if (stdinText) {
        const std::string inPath = tempPath("in.json");
        writeFile(inPath, *stdinText);
        cmd += " < '" + inPath + "'";
    }
    cmd += " > '" + outPath + "' 2> '" + errPath + "'";
    RunResult r;
    int status = std::system(cmd.c_str());
    if (status != -1 && WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return r;
}

std::string vectorPath(const std::string& name) {
    return std::string(VELQUIN_VECTORS_DIR) + "/trace/" + name;
}

class ReferenceVectors : public ::testing::TestWithParam<const char*> {};

TEST_P(ReferenceVectors, TraceMatchesExpectedLines) {
    const std::string kind = GetParam();
    const std::string input = vectorPath(kind + ".json");
    const std::string expected = readFile(vectorPath(kind + ".expected.jsonl"));
    ASSERT_FALSE(expected.empty())
        << "no reference output at " << vectorPath(kind + ".expected.jsonl")
        << " (set VELQUIN_VECTORS_DIR)";
    RunResult r = runVelquin("trace '" + input + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto diffs = velquin::testing::compareTraceOutput(expected, r.out);
    std::string report;
    for (std::size_t i = 0; i < diffs.size() && i < 40; ++i)
        report += diffs[i] + "\n";
    EXPECT_TRUE(diffs.empty()) << kind << ": " << diffs.size() << " differences\n" << report;
}

INSTANTIATE_TEST_SUITE_P(Trace, ReferenceVectors,
                         ::testing::Values("static", "moving", "average", "texture", "colors"),
                         [](const auto& info) { return std::string(info.param); });

// The comparison itself: it must see the last bit and nothing else.
TEST(TraceCompare, EqualValuesWrittenDifferentlyMatch) {
    const std::string e = R"({"hit": true, "t": 1.5, "point": [1,2,3], "normal": [0.5,null,1]})"
                          "\n{\"hit\": false}\n";
    const std::string a =
        R"({"hit": true, "t": 1.50000000, "point": [1.0,2e0,3.00], "normal": [5e-1,null,1]})"
        "\n{\"hit\": false}\n";
    EXPECT_TRUE(velquin::testing::compareTraceOutput(e, a).empty());
}

TEST(TraceCompare, ReportsLineFieldAndBothValues) {
    const std::string e = "{\"hit\": false}\n"
                          R"({"hit": true, "t": 0.1, "point": [1,2,3], "normal": [0,0,1]})"
                          "\n";
    // 0.10000000000000002 is the next double; 1.00000012 the next float after 1.
    const std::string a =
        "{\"hit\": false}\n"
        R"({"hit": true, "t": 0.10000000000000002, "point": [1.00000012,2,3], "normal": [0,0,1]})"
        "\n";
    const auto d = velquin::testing::compareTraceOutput(e, a);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0], "line 2: t: expected 0.10000000000000001 (0x1.999999999999ap-4), got "
                    "0.10000000000000002 (0x1.999999999999bp-4)");
    EXPECT_EQ(d[1], "line 2: point[0]: expected 1 (0x1p+0), got 1.00000012 (0x1.000002p+0)");
}

TEST(TraceCompare, FlagsHitNullColourAndCountDifferences) {
    using velquin::testing::compareTraceOutput;
    const std::string hit = R"({"hit": true, "t": 2, "point": [1,2,3], "normal": [0,0,1]})";
    EXPECT_EQ(compareTraceOutput("{\"hit\": false}\n", hit + "\n").size(), 1u);
    EXPECT_EQ(compareTraceOutput(hit + "\n", hit + "\n{\"hit\": false}\n").size(), 1u);
    const std::string withNull = R"({"hit": true, "t": 2, "point": [1,2,3], "normal": [0,0,null]})";
    EXPECT_EQ(compareTraceOutput(hit + "\n", withNull + "\n").size(), 1u);
    const std::string withColor =
        R"({"hit": true, "t": 2, "point": [1,2,3], "normal": [0,0,1], "color": [1,1,1]})";
    EXPECT_EQ(compareTraceOutput(withColor + "\n", hit + "\n").size(), 1u);
    // Parsed values: "-0" reads as the integer 0, so the sign of a zero is not compared.
    const std::string negZero = R"({"hit": true, "t": 2, "point": [1,2,3], "normal": [-0,0,1]})";
    EXPECT_TRUE(compareTraceOutput(hit + "\n", negZero + "\n").empty());
}

// --- the program's exit codes and messages ---

TEST(VelquinProgram, HelpSucceeds) {
    RunResult r = runVelquin("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("trace"), std::string::npos);
    EXPECT_EQ(runVelquin("trace --help").exitCode, 0);
}

TEST(VelquinProgram, UsageErrorsExitWithTwo) {
    EXPECT_EQ(runVelquin("").exitCode, 2);
    EXPECT_EQ(runVelquin("nosuchcommand").exitCode, 2);
    EXPECT_EQ(runVelquin("trace").exitCode, 2);
    EXPECT_EQ(runVelquin("trace --bogus x.json").exitCode, 2);
    EXPECT_EQ(runVelquin("trace a.json b.json").exitCode, 2);
}

TEST(VelquinProgram, BadInputExitsWithOneNamingFileAndField) {
    const std::string path = tempPath("bad.json");
    writeFile(path, R"({"frame": {"positions": [[0,0,0]]},
                        "rays": [{"origin": [0,0,0], "direction": [1,0], "tmin": 0, "tmax": 1}]})");
    RunResult r = runVelquin("trace '" + path + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "velquin trace: " + path + ": rays[0].direction: expected an array of 3 numbers\n");
    std::remove(path.c_str());
}

TEST(VelquinProgram, MalformedJsonNamesLineAndColumn) {
    const std::string text = "{\"rays\": [\n  {\"origin\": [0,0,0],}\n]}";
    RunResult r = runVelquin("trace -", &text);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(
        r.err.rfind("velquin trace: <stdin>: malformed JSON: parse error at line 2, column 22", 0),
        0u)
        << r.err;
}

TEST(VelquinProgram, MissingFileIsBadInput) {
    RunResult r = runVelquin("trace '" + tempPath("does-not-exist.json") + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;
}

TEST(VelquinProgram, ReadsStandardInputAndWritesOneLinePerRay) {
    const std::string text = R"({"frame": {"positions": []}, "rays": [
        {"origin": [0,0,-10], "direction": [0,0,1], "tmin": 0, "tmax": 100},
        {"origin": [0,0,-10], "direction": [0,0,1], "tmin": 0, "tmax": 100, "nearest": 50}]})";
    RunResult r = runVelquin("trace -", &text);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // No metaballs: nothing to hit.
    EXPECT_EQ(r.out, "{\"hit\": false}\n{\"hit\": false}\n");
}

} // namespace
