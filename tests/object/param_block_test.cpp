// The object's parameter block: identity, rollouts, every parameter's definition (the file
// format of saved scenes and the names scripts use), the defaults of a new block and clamping.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/max_texmap.h"
#include "object/Module.h"
#include "object/ParamBlock.h"

namespace velquin {
namespace {

TEST(ParamBlockDesc, IdentityAndOwner) {
    ParamBlockDesc2* d = GetVelquinMetaballParamDesc();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d, GetVelquinMetaballParamDesc()); // one descriptor for the module
    EXPECT_EQ(d->ID, 0);
    EXPECT_EQ(d->int_name, "params");
    EXPECT_EQ(d->local_name, 0);
    EXPECT_EQ(d->flags, 0x26);
    EXPECT_EQ(d->ref_no, 0);
    EXPECT_EQ(d->cd, GetVelquinMetaballDesc());
    EXPECT_EQ(GetVelquinMetaballDesc()->GetParamBlockDescByID(0), d);
    EXPECT_EQ(GetVelquinMetaballDesc()->GetParamBlockDescByName("params"), d);
    EXPECT_EQ(d->Count(), 28);
}

TEST(ParamBlockDesc, RolloutsInOrder) {
    struct Row {
        MapID id;
        int dialog, title, flags;
    };
    const Row rows[] = {
        {0, 103, 4, 0}, {3, 212, 12, 1}, {1, 210, 37, 0}, {2, 102, 15, 1}, {4, 211, 109, 1}};
    ParamBlockDesc2* d = GetVelquinMetaballParamDesc();
    ASSERT_EQ(d->NumRollouts(), 5);
    for (int i = 0; i < 5; ++i) {
        ParamMapInfo* m = d->GetMapByIndex(i);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->id, rows[i].id) << i;
        EXPECT_EQ(m->dlgTemplate, rows[i].dialog) << i;
        EXPECT_EQ(m->title, rows[i].title) << i;
        EXPECT_EQ(m->rollupFlags, rows[i].flags) << i;
    }
    EXPECT_STREQ(rolloutName(0), "GeneralRollout");
    EXPECT_STREQ(rolloutName(3), "TextureRollout");
    EXPECT_EQ(rolloutName(5), nullptr);
}

// One parameter as the block defines it. kind: 'f' float default, 'i' integer default, '-' none.
struct Expected {
    ParamID id;
    const char* name;
    ParamType2 type;
    int flags;
    int display;
    char defKind;
    float defF;
    int defI;
    char rangeKind; // 'f', 'i' or '-'
    float lo, hi;
    MapID map;
    ControlType2 control;
    std::vector<int> ctrls;
    EditSpinnerType editType;
    float scale;
};

const std::vector<Expected>& expectedParams() {
    constexpr float M = 1000000.0f;
    constexpr int S = TYPE_SPINNER, CB = TYPE_SINGLECHEKBOX, CO = TYPE_INTCOMBOBOX;
    constexpr int F = EDITTYPE_FLOAT, PI = EDITTYPE_POS_INT;
    static const std::vector<Expected> rows = {
        {1,
         "nodes",
         0x811,
         0x1004,
         25,
         '-',
         0,
         0,
         '-',
         0,
         0,
         1,
         TYPE_NODELISTBOX,
         {1336, 0, 0, 1333},
         F,
         0.0f},
        {2, "metaballs", 0x803, 0x1004, 0, '-', 0, 0, '-', 0, 0, -1, TYPE_NONE_CTRL, {}, F, 0.0f},
        {4, "allPflow", 4, 0, 16, 'i', 0, 1, '-', 0, 0, 2, CB, {1002}, F, 0.0f},
        {3,
         "pflow",
         0x811,
         0x1004,
         17,
         '-',
         0,
         0,
         '-',
         0,
         0,
         2,
         TYPE_NODELISTBOX,
         {1003, 0, 0, 1004},
         F,
         0.0f},
        {0, "icon", 0, 1, 26, 'f', 10.0f, 0, 'f', 0.0001f, M, 0, S, {1034, 1035}, F, 0.1f},
        {5, "radius", 0, 1, 6, 'f', 20.0f, 0, 'f', 0.0001f, M, 0, S, {1012, 1013}, F, 0.1f},
        {6, "threshold", 0, 1, 27, 'f', 0.5f, 0, 'f', 0.0001f, M, 0, S, {1014, 1015}, F, 0.1f},
        {7, "step", 0, 1, 28, 'f', 1.0f, 0, 'f', 0.0001f, M, 0, S, {1016, 1017}, F, 0.1f},
        {8,
         "error",
         0,
         1,
         29,
         'f',
         0x1.a36e2ep-14f,
         0,
         'f',
         0x1.4f8b58p-17f,
         M,
         0,
         S,
         {1018, 1019},
         F,
         0.1f},
        {9, "fieldFunction", 1, 0, 30, 'i', 0, 1, '-', 0, 0, 0, CO, {1002}, F, 0.0f},
        {10, "useAverage", 4, 0, 31, 'i', 0, 0, '-', 0, 0, 0, CB, {1123}, F, 0.0f},
        {11, "cutoff", 0, 1, 32, 'f', 0.5f, 0, 'f', 0.0001f, M, 0, S, {1020, 1021}, F, 0.1f},
        {12,
         "trim",
         0,
         1,
         33,
         'f',
         0x1.4cccccp-1f,
         0,
         'f',
         0.0001f,
         M,
         0,
         S,
         {1022, 1023},
         F,
         0.1f},
        {13, "depth", 1, 1, 34, 'i', 0, 15, 'i', 1, 50, 0, S, {1028, 1029}, PI, -1.0f},
        {14, "leafLength", 0, 1, 35, 'f', 8.0f, 0, 'f', 0.0001f, M, 0, S, {1030, 1031}, F, 0.1f},
        {15, "leafSize", 1, 1, 36, 'i', 0, 30, 'i', 1, 10000, 0, S, {1032, 1033}, PI, -1.0f},
        {16, "texmap", 15, 0x4, 5, '-', 0, 0, '-', 0, 0, 3, TYPE_TEXMAPBUTTON, {1036}, F, 0.0f},
        {17, "mbSamples", 1, 1, 7, 'i', 0, 2, 'i', 1, 160, 0, S, {1037, 1038}, PI, -1.0f},
        {18, "useScale", 4, 0, 11, 'i', 0, 0, '-', 0, 0, 0, CB, {1124}, F, 0.0f},
        {19, "useTexture", 4, 0, 13, 'i', 0, 1, '-', 0, 0, 3, CB, {1003}, F, 0.0f},
        {21, "textureType", 1, 0, 14, 'i', 0, 0, '-', 0, 0, 3, CO, {1004}, F, 0.0f},
        {22, "useClamp", 4, 0, 23, 'i', 0, 0, '-', 0, 0, 3, CB, {1125}, F, 0.0f},
        {20, "textureStr", 0, 1, 24, 'f', 1.0f, 0, 'f', 0.0f, M, 3, S, {1041, 1042}, F, 0.1f},
        {23, "clampTo", 0, 1, 42, 'f', 1.0f, 0, 'f', 0.0001f, M, 3, S, {1039, 1040}, F, 0.1f},
        {24,
         "metaballSizes",
         0x800,
         0x1004,
         0,
         '-',
         0,
         0,
         '-',
         0,
         0,
         -1,
         TYPE_NONE_CTRL,
         {},
         F,
         0.0f},
        {25,
         "velocityThreshold",
         0,
         1,
         38,
         'f',
         -1.0f,
         0,
         'f',
         -1.0f,
         M,
         0,
         S,
         {1036, 1039},
         F,
         0.1f},
        {26, "color", 1, 0, 30, 'i', 0, 0, '-', 0, 0, 0, CO, {1003}, F, 0.0f},
        {27, "colors", 0x803, 0x1004, 0, '-', 0, 0, '-', 0, 0, -1, TYPE_NONE_CTRL, {}, F, 0.0f},
    };
    return rows;
}

TEST(ParamBlockDesc, EveryParameterInIndexOrder) {
    ParamBlockDesc2* d = GetVelquinMetaballParamDesc();
    const auto& rows = expectedParams();
    ASSERT_EQ(d->Count(), static_cast<int>(rows.size()));
    for (int i = 0; i < d->Count(); ++i) {
        const Expected& e = rows[static_cast<std::size_t>(i)];
        const ParamDef* p = d->GetParamDefByIndex(i);
        SCOPED_TRACE(e.name);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->ID, e.id);
        EXPECT_EQ(p->int_name, e.name);
        EXPECT_EQ(p->type, e.type);
        EXPECT_EQ(p->flags, e.flags);
        EXPECT_EQ(p->local_name, e.display);
        EXPECT_EQ(p->tabSize, 0);
        EXPECT_EQ(p->validator, nullptr);
        if (e.defKind == 'f') {
            EXPECT_EQ(p->defFloat, e.defF);
        } else if (e.defKind == 'i') {
            EXPECT_EQ(p->defInt, e.defI);
        }
        EXPECT_EQ(p->hasRange, e.rangeKind != '-');
        if (e.rangeKind == 'f') {
            EXPECT_EQ(p->rangeLowF, e.lo);
            EXPECT_EQ(p->rangeHighF, e.hi);
        } else if (e.rangeKind == 'i') {
            EXPECT_EQ(p->rangeLowI, static_cast<int>(e.lo));
            EXPECT_EQ(p->rangeHighI, static_cast<int>(e.hi));
        }
        EXPECT_EQ(p->ui.map, e.map);
        EXPECT_EQ(p->ui.control, e.control);
        EXPECT_EQ(p->ui.ctrlIDs, e.ctrls);
        EXPECT_EQ(p->ui.entries, 0);
        if (e.control == TYPE_SPINNER) {
            EXPECT_EQ(p->ui.editType, e.editType);
            EXPECT_EQ(p->ui.scale, e.scale);
        }
    }
}

TEST(ParamBlockDesc, LookupByScriptNameForAll) {
    ParamBlockDesc2* d = GetVelquinMetaballParamDesc();
    std::vector<bool> seen(28, false);
    for (const Expected& e : expectedParams()) {
        EXPECT_EQ(d->IDByName(e.name), e.id) << e.name;
        ASSERT_GE(e.id, 0);
        ASSERT_LT(e.id, 28);
        seen[static_cast<std::size_t>(e.id)] = true;
    }
    for (bool s : seen) {
        EXPECT_TRUE(s); // IDs 0..27 are all used
    }
    EXPECT_EQ(d->IDByName("mbsamples"), pb_mbSamples); // scripts ignore case
    EXPECT_EQ(d->IDByName("colour"), -1);
    EXPECT_EQ(d->FindParamDef(28), nullptr);
}

TEST(ParamBlockDesc, ListEntriesInOrder) {
    const std::vector<int> ff = {45, 106, 107, 108, 46, 47, 40};
    auto f = listEntries(pb_fieldFunction);
    EXPECT_EQ(std::vector<int>(f.begin(), f.end()), ff);
    std::vector<int> color = {39, 41};
    color.insert(color.end(), ff.begin(), ff.end());
    auto c = listEntries(pb_color);
    EXPECT_EQ(std::vector<int>(c.begin(), c.end()), color);
    // The sixth colour entry is stored as 5 and names the fifth-power kernel.
    EXPECT_EQ(c[5], IDS_POWER_OF_FIVE);
    auto tt = listEntries(pb_textureType);
    EXPECT_EQ(std::vector<int>(tt.begin(), tt.end()), (std::vector<int>{43, 44}));
    EXPECT_TRUE(listEntries(pb_radius).empty());
}

class NewBlock : public ::testing::Test {
protected:
    IParamBlock2 pb{GetVelquinMetaballParamDesc(), nullptr};
};

TEST_F(NewBlock, HasEveryDefault) {
    EXPECT_EQ(pb.GetFloat(pb_icon), 10.0f);
    EXPECT_EQ(pb.GetFloat(pb_radius), 20.0f);
    EXPECT_EQ(pb.GetFloat(pb_threshold), 0.5f);
    EXPECT_EQ(pb.GetFloat(pb_step), 1.0f);
    EXPECT_EQ(pb.GetFloat(pb_error), 0x1.a36e2ep-14f);
    EXPECT_EQ(pb.GetInt(pb_fieldFunction), 1);
    EXPECT_EQ(pb.GetInt(pb_useAverage), 0);
    EXPECT_EQ(pb.GetFloat(pb_cutoff), 0.5f);
    EXPECT_EQ(pb.GetFloat(pb_trim), 0x1.4cccccp-1f);
    EXPECT_EQ(pb.GetInt(pb_depth), 15);
    EXPECT_EQ(pb.GetFloat(pb_leafLength), 8.0f);
    EXPECT_EQ(pb.GetInt(pb_leafSize), 30);
    EXPECT_EQ(pb.GetTexmap(pb_texmap), nullptr);
    EXPECT_EQ(pb.GetInt(pb_mbSamples), 2);
    EXPECT_EQ(pb.GetInt(pb_useScale), 0);
    EXPECT_EQ(pb.GetInt(pb_useTexture), 1);
    EXPECT_EQ(pb.GetInt(pb_textureType), 0);
    EXPECT_EQ(pb.GetInt(pb_useClamp), 0);
    EXPECT_EQ(pb.GetFloat(pb_textureStr), 1.0f);
    EXPECT_EQ(pb.GetFloat(pb_clampTo), 1.0f);
    EXPECT_EQ(pb.GetFloat(pb_velocityThreshold), -1.0f);
    EXPECT_EQ(pb.GetInt(pb_color), 0);
    EXPECT_EQ(pb.GetInt(pb_allPflow), 1);
    for (ParamID id : {pb_nodes, pb_metaballs, pb_pflow, pb_metaballSizes, pb_colors}) {
        EXPECT_EQ(pb.Count(id), 0) << id;
    }
}

TEST_F(NewBlock, ValuesOutsideTheRangesClamp) {
    pb.SetValue(pb_textureStr, 0, -5.0f);
    EXPECT_EQ(pb.GetFloat(pb_textureStr), 0.0f); // down to exactly 0
    pb.SetValue(pb_error, 0, 0.0f);
    EXPECT_EQ(pb.GetFloat(pb_error), 0x1.4f8b58p-17f); // 0.00001
    pb.SetValue(pb_velocityThreshold, 0, -7.0f);
    EXPECT_EQ(pb.GetFloat(pb_velocityThreshold), -1.0f);
    for (ParamID id : {pb_icon, pb_radius, pb_threshold, pb_step, pb_cutoff, pb_trim, pb_leafLength,
                       pb_clampTo}) {
        pb.SetValue(id, 0, -1.0f);
        EXPECT_EQ(pb.GetFloat(id), 0x1.a36e2ep-14f) << id; // 0.0001
        pb.SetValue(id, 0, 2.0e6f);
        EXPECT_EQ(pb.GetFloat(id), 1000000.0f) << id;
    }
    struct IntRange {
        ParamID id;
        int lo, hi;
    };
    for (IntRange r : {IntRange{pb_depth, 1, 50}, IntRange{pb_leafSize, 1, 10000},
                       IntRange{pb_mbSamples, 1, 160}}) {
        pb.SetValue(r.id, 0, 0);
        EXPECT_EQ(pb.GetInt(r.id), r.lo) << r.id;
        pb.SetValue(r.id, 0, r.hi + 1);
        EXPECT_EQ(pb.GetInt(r.id), r.hi) << r.id;
        pb.SetValue(r.id, 0, r.hi);
        EXPECT_EQ(pb.GetInt(r.id), r.hi) << r.id;
    }
    // The sixth entry of the colour list is stored as its index.
    pb.SetValue(pb_color, 0, 5);
    EXPECT_EQ(pb.GetInt(pb_color), 5);
}

} // namespace
} // namespace velquin
