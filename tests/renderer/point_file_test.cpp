#include "renderer/Errors.h"
#include "renderer/PointFile.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velquin::renderer {
namespace {

TEST(PointFileTest, AsciiWithAllColumns) {
    std::string text = "ply\nformat ascii 1.0\ncomment made by hand\nelement vertex 2\n"
                       "property float x\nproperty float y\nproperty float z\n"
                       "property float radius\nproperty float vx\nproperty float vy\n"
                       "property float vz\nproperty uchar red\nproperty uchar green\n"
                       "property uchar blue\nproperty int id\nproperty float age\n"
                       "element face 0\nproperty list uchar int vertex_indices\nend_header\n"
                       "1 2 3 0.5 1 0 0 255 0 51 7 2.5\n"
                       "-1 -2 -3 1.5 0 0 -1 0 255 0 9 0\n";
    PointSet s = parsePly(text, "t.ply");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_TRUE(s.hasRadius && s.hasVelocity && s.hasColor && s.hasId && s.hasAge);
    EXPECT_EQ(s.at(0).position, Point3(1, 2, 3));
    EXPECT_EQ(s.at(0).radius, 0.5f);
    EXPECT_EQ(s.at(0).velocity, Point3(1, 0, 0));
    EXPECT_EQ(s.at(0).color.r, 1.0f);
    EXPECT_EQ(s.at(0).color.b, static_cast<float>(51.0 / 255.0));
    EXPECT_EQ(s.at(0).id, 7);
    EXPECT_EQ(s.at(0).age, 2.5f);
    EXPECT_EQ(s.at(1).id, 9);
}

TEST(PointFileTest, BinaryLittleEndianWithFloatColours) {
    std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex 2\n"
                       "property float x\nproperty float y\nproperty float z\n"
                       "property double red\nproperty double green\nproperty double blue\n"
                       "end_header\n";
    for (int k = 0; k < 2; ++k) {
        float p[3] = {1.0f + k, 2.0f, 3.0f};
        double c[3] = {0.25, 0.5, 0.75 + k * 0.25};
        text.append(reinterpret_cast<const char*>(p), sizeof p);
        text.append(reinterpret_cast<const char*>(c), sizeof c);
    }
    PointSet s = parsePly(text, "b.ply");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_FALSE(s.hasRadius);
    EXPECT_EQ(s.at(1).position, Point3(2, 2, 3));
    EXPECT_EQ(s.at(1).color.b, 1.0f); // float colours are taken as they are
    EXPECT_EQ(s.at(0).color.g, 0.5f);
    EXPECT_EQ(s.at(1).id, 1); // without ids, the vertex number
}

// A plain binary cloud over several read blocks: every position in order, and no column kept
// but the positions.
TEST(PointFileTest, BinaryCloudKeepsOnlyPositionsAcrossBlocks) {
    const int n = 70000; // a little over three blocks of 12-byte records
    std::string text = "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(n) +
                       "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
    for (int k = 0; k < n; ++k) {
        float p[3] = {static_cast<float>(k), -0.5f * static_cast<float>(k), 1.0f / (1.0f + k)};
        text.append(reinterpret_cast<const char*>(p), sizeof p);
    }
    PointSet s = parsePly(text, "cloud.ply");
    ASSERT_EQ(s.size(), static_cast<std::size_t>(n));
    EXPECT_TRUE(s.velocities.empty() && s.radii.empty() && s.colors.empty() && s.ids.empty() &&
                s.ages.empty());
    for (int k = 0; k < n; ++k)
        ASSERT_EQ(s.positions[static_cast<std::size_t>(k)],
                  Point3(static_cast<float>(k), -0.5f * static_cast<float>(k), 1.0f / (1.0f + k)))
            << k;
    const PointRecord last = s.at(static_cast<std::size_t>(n - 1));
    EXPECT_EQ(last.id, n - 1);
    EXPECT_EQ(last.radius, 0.0f);
    EXPECT_EQ(last.color.g, 1.0f);
}

void expectError(const std::string& text, const std::string& part) {
    try {
        parsePly(text, "bad.ply");
        FAIL() << "expected an error containing " << part;
    } catch (const BadInput& e) {
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("bad.ply"), std::string::npos) << e.what();
    }
}

TEST(PointFileTest, MalformedFilesSayWhatIsWrong) {
    expectError("obj\n", "not a PLY file");
    expectError("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
                "end_header\n1 2\n",
                "needs x, y and z");
    expectError("ply\nformat binary_big_endian 1.0\nend_header\n", "binary_big_endian");
    expectError("ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
                "property float z\nend_header\n1 2 3\n",
                "ends before vertex 1");
    expectError("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
                "property float z\nend_header\n1 2 oops\n",
                "bad.ply:8: vertex 0, property \"z\": \"oops\" is not a number");
    // What stream extraction refused as "not a number" is told apart: not finite, or outside
    // the property's type; a property given twice is refused in the header.
    const std::string head = "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                             "property float y\nproperty float z\n";
    expectError(head + "end_header\n1 nan 3\n", "bad.ply:8: vertex 0, property \"y\": nan is "
                                                "not a finite number");
    expectError(head + "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                       "end_header\n1 2 3 300 -1 2.5\n",
                "bad.ply:11: vertex 0, property \"red\": 300 is not a whole number from 0 to 255");
    expectError(head + "property uchar green\nproperty uchar blue\nproperty uchar red\n"
                       "end_header\n1 2 3 0 0 2.5\n",
                "property \"red\": 2.5 is not a whole number from 0 to 255");
    expectError(head + "property float red\nproperty float green\nproperty float blue\n"
                       "end_header\n1 2 3 0.5 -1 0.5\n",
                "bad.ply: vertex 0: a colour component below 0");
    expectError(head + "property float x\nend_header\n1 2 3 4\n",
                "bad.ply:7: property \"x\" named twice in element \"vertex\"");
    expectError("ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty float x\n"
                "property float y\nproperty float z\nend_header\nabc",
                "ends inside vertex 0");
    expectError("ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int v\n"
                "element vertex 1\nproperty float x\nend_header\n",
                "first element");
    expectError("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n", "end_header");
}

TEST(PointFileTest, UnreadableFileIsNamed) {
    try {
        readPly("/nonexistent/cloud.ply");
        FAIL();
    } catch (const BadInput& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/cloud.ply"), std::string::npos);
    }
}

} // namespace
} // namespace velquin::renderer
