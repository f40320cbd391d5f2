// Points loaded as the vertices of a faceless mesh: every point becomes one vertex at its frame-0
// place, colours become vertex colours, and nothing else is kept.
#include "renderer/Errors.h"
#include "renderer/SceneLoader.h"

#include "platform/max/particles.h"

#include <gtest/gtest.h>

namespace velquin::renderer {
namespace {

std::string sceneWith(const std::string& particles) {
    return R"({"nodes": [{"name": "cloud", "type": "particles", "as": "mesh", )" + particles +
           "}]}";
}

TEST(PointsAsMeshTest, VerticesAndColoursAreThePoints) {
    auto rs = loadScene(
        sceneWith(
            R"("particles": [{"position": [1, 2, 3], "color": [1, 0, 0.5], "velocity": [9, 9, 9]},
                                  {"position": [-4, 5.5, 0], "color": [0, 1, 0], "radius": 3}])"),
        "t.json", "");
    INode* node = rs->scene->FindNode("cloud");
    ASSERT_NE(node, nullptr);
    auto* tri = dynamic_cast<TriObject*>(node->GetObjectRef());
    ASSERT_NE(tri, nullptr);
    const Mesh& mesh = tri->GetMesh();
    ASSERT_EQ(mesh.getNumVerts(), 2);
    EXPECT_EQ(mesh.getNumFaces(), 0);
    // A mesh does not move: the velocity is not applied to the frame-0 place.
    EXPECT_EQ(mesh.verts[0], Point3(1, 2, 3));
    EXPECT_EQ(mesh.verts[1], Point3(-4, 5.5f, 0));
    ASSERT_EQ(mesh.getNumVertCol(), 2);
    EXPECT_EQ(mesh.vertCol[0], Point3(1, 0, 0.5f));
    EXPECT_EQ(mesh.vertCol[1], Point3(0, 1, 0));
}

TEST(PointsAsMeshTest, PointsWithoutColoursGiveNoColourChannel) {
    auto rs = loadScene(sceneWith(R"("particles": [{"position": [0, 0, 0]}])"), "t.json", "");
    auto* tri = dynamic_cast<TriObject*>(rs->scene->FindNode("cloud")->GetObjectRef());
    ASSERT_NE(tri, nullptr);
    EXPECT_EQ(tri->GetMesh().getNumVerts(), 1);
    EXPECT_EQ(tri->GetMesh().getNumVertCol(), 0);
}

// Inline particles' ages set their births; one that gives none is 10 frames old, as in a file
// without ages. (Inline ages used to be read and then ignored.)
TEST(PointsAsParticlesTest, InlineAgesSetBirths) {
    auto rs = loadScene(
        R"({"nodes": [{"name": "p", "type": "particles",
                       "particles": [{"position": [0, 0, 0], "age": 2.5},
                                     {"position": [1, 0, 0]},
                                     {"position": [2, 0, 0], "age": 0, "velocity": [1, 0, 0]}]}]})",
        "t.json", "");
    auto* o = dynamic_cast<DataParticleObject*>(rs->scene->FindNode("p")->GetObjectRef());
    ASSERT_NE(o, nullptr);
    ASSERT_EQ(o->particles.size(), 3u);
    EXPECT_EQ(o->particles[0].birth, -static_cast<TimeValue>(2.5 * TicksPerFrame));
    EXPECT_EQ(o->particles[1].birth, -10 * TicksPerFrame);
    EXPECT_EQ(o->particles[2].birth, 0);
    EXPECT_EQ(o->particles[2].position, Point3(2, 0, 0)); // born at frame 0, where it is then
}

TEST(PointsAsMeshTest, UnknownFormIsNamed) {
    try {
        loadScene(R"({"nodes": [{"name": "c", "type": "particles", "as": "cloud",
                                 "particles": [{"position": [0, 0, 0]}]}]})",
                  "t.json", "");
        FAIL() << "an unknown form was accepted";
    } catch (const BadInput& e) {
        EXPECT_NE(std::string(e.what()).find("nodes[0].as"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("\"mesh\""), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace velquin::renderer
