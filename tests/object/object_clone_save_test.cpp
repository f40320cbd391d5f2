// Cloning an object and saving its whole state, the parameter block.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "object_test_support.h"

using namespace velquin;

namespace {

class CloneSave : public objtest::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        obj = newObject(&node);
        a = newSphere("A");
        b = newSphere("B");
        refs = {a, b, &map};
    }
    // Every parameter away from its default, with keys and tables.
    void fill(IParamBlock2* pb) {
        pb->SetKey(pb_icon, 0, 2.5f);
        pb->SetKey(pb_icon, 4800, 0.1f);
        pb->SetValue(pb_radius, 0, 12.125f);
        pb->SetValue(pb_threshold, 0, 0.3f);
        pb->SetValue(pb_step, 0, 0.7f);
        pb->SetValue(pb_error, 0, 0.00002f);
        pb->SetValue(pb_fieldFunction, 0, 5);
        pb->SetValue(pb_useAverage, 0, 1);
        pb->SetValue(pb_cutoff, 0, 0.45f);
        pb->SetValue(pb_trim, 0, 0.9f);
        pb->SetKey(pb_depth, 0, 20);
        pb->SetKey(pb_depth, 160, 22);
        pb->SetValue(pb_leafLength, 0, 3.0f);
        pb->SetValue(pb_leafSize, 0, 12);
        pb->SetValue(pb_texmap, 0, &map);
        pb->SetValue(pb_mbSamples, 0, 4);
        pb->SetValue(pb_useScale, 0, 1);
        pb->SetValue(pb_useTexture, 0, 0);
        pb->SetValue(pb_textureType, 0, 1);
        pb->SetValue(pb_useClamp, 0, 1);
        pb->SetValue(pb_textureStr, 0, 0.0f);
        pb->SetValue(pb_clampTo, 0, 2.0f);
        pb->SetValue(pb_velocityThreshold, 0, 7.5f);
        pb->SetValue(pb_color, 0, 8);
        pb->SetValue(pb_allPflow, 0, 0);
        INode* nodes[] = {a, b, a};
        pb->Append(pb_nodes, 3, nodes);
        INode* flow[] = {b};
        pb->Append(pb_pflow, 1, flow);
        Point3 pts[] = {{1.0f, -2.0f, 3e-7f}, {0.1f, 0.2f, 0.3f}};
        pb->Append(pb_metaballs, 2, pts);
        float sizes[] = {1.0f / 3.0f, 4.0f};
        pb->Append(pb_metaballSizes, 2, sizes);
        Point3 cols[] = {{1.0f, 0.5f, 0.25f}};
        pb->Append(pb_colors, 1, cols);
    }
    std::string save(IParamBlock2* pb) {
        std::ostringstream os;
        EXPECT_TRUE(pb->Save(os, [&](ReferenceTarget* r) {
            for (int i = 0; i < static_cast<int>(refs.size()); ++i)
                if (refs[static_cast<size_t>(i)] == r)
                    return i;
            return r && r == clonedMap ? 2 : -1;
        }));
        return os.str();
    }

    ConstantTexmap map{0.75f};
    VelquinMetaball* obj = nullptr;
    INode* node = nullptr;
    INode* a = nullptr;
    INode* b = nullptr;
    std::vector<ReferenceTarget*> refs;
    ReferenceTarget* clonedMap = nullptr; // saved as the original map
};

TEST_F(CloneSave, CloneIsIndependentWithEqualBlock) {
    fill(obj->pblock);
    RemapDir remap;
    auto* copy = static_cast<VelquinMetaball*>(obj->Clone(remap));
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy->pblock, nullptr);
    EXPECT_NE(copy->pblock, obj->pblock);
    EXPECT_EQ(copy->GetReference(0), copy->pblock);
    EXPECT_EQ(copy->pblock->GetOwner(), copy);
    // Maps are cloned with the block; scene nodes are shared.
    auto* cm = copy->pblock->GetTexmap<ConstantTexmap>(pb_texmap);
    ASSERT_NE(cm, nullptr);
    EXPECT_NE(cm, &map);
    EXPECT_EQ(cm->Value(), 0.75f);
    EXPECT_EQ(copy->pblock->GetINode(pb_nodes, 0, 1), b);
    clonedMap = cm;
    EXPECT_EQ(save(copy->pblock), save(obj->pblock));
    EXPECT_EQ(copy->pblock->KeyCount(pb_icon), 2);

    // Editing either leaves the other alone.
    obj->pblock->SetValue(pb_radius, 0, 99.0f);
    obj->removeMetaball(a);
    EXPECT_EQ(copy->pblock->GetFloat(pb_radius), 12.125f);
    EXPECT_EQ(copy->pblock->Count(pb_nodes), 3);
    copy->pblock->SetValue(pb_threshold, 0, 0.9f);
    EXPECT_EQ(obj->pblock->GetFloat(pb_threshold), 0.3f);
    copy->DeleteThis();
    delete cm; // nothing refers to the cloned map any more
    EXPECT_EQ(obj->pblock->Count(pb_nodes), 2);
}

TEST_F(CloneSave, BlockRoundTripsEveryParameter) {
    fill(obj->pblock);
    std::string text = save(obj->pblock);

    INode* otherNode = nullptr;
    VelquinMetaball* loaded = newObject(&otherNode, "Loaded");
    std::string before = save(loaded->pblock);
    std::istringstream is(text);
    std::string err;
    ASSERT_TRUE(loaded->pblock->Load(
        is, [&](int i) { return i >= 0 && i < 3 ? refs[static_cast<size_t>(i)] : nullptr; }, &err))
        << err;
    EXPECT_NE(before, text);
    EXPECT_EQ(save(loaded->pblock), text);

    IParamBlock2* q = loaded->pblock;
    EXPECT_EQ(q->KeyCount(pb_icon), 2);
    EXPECT_EQ(q->GetFloat(pb_icon, 4800), 0.1f);
    EXPECT_EQ(q->GetFloat(pb_icon, 2400), obj->pblock->GetFloat(pb_icon, 2400));
    EXPECT_EQ(q->GetInt(pb_depth, 160), 22);
    EXPECT_EQ(q->GetFloat(pb_error), 0.00002f);
    EXPECT_EQ(q->GetTexmap<ConstantTexmap>(pb_texmap), &map);
    ASSERT_EQ(q->Count(pb_nodes), 3);
    EXPECT_EQ(q->GetINode(pb_nodes, 0, 2), a);
    EXPECT_EQ(q->GetINode(pb_pflow, 0, 0), b);
    EXPECT_EQ(q->GetPoint3(pb_metaballs, 0, 0), Point3(1.0f, -2.0f, 3e-7f));
    EXPECT_EQ(q->GetFloat(pb_metaballSizes, 0, 0), 1.0f / 3.0f);
    EXPECT_EQ(q->GetPoint3(pb_colors, 0, 0), Point3(1.0f, 0.5f, 0.25f));
    EXPECT_EQ(q->GetInt(pb_color), 8);
    EXPECT_EQ(q->GetInt(pb_allPflow), 0);
    // The loaded object's box and validity follow its loaded "icon".
    Box3 box;
    loaded->GetLocalBoundBox(0, otherNode, nullptr, box);
    EXPECT_EQ(box.pmax.x, 2.5f);
    EXPECT_FALSE(loaded->ObjectValidity(2400) == FOREVER);
}

} // namespace
