// The dialog resources: every control's ID, kind, text and rectangle, and the string table the
// rollouts read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/win.h"
#include "object/ParamIds.h"
#include "ui/Resources.h"

namespace {

struct Expected {
    int id; // -1: no ID
    ControlKind kind;
    const char* cls; // for custom controls
    const char* text;
    int x, y, cx, cy;
};

constexpr ControlKind L = ControlKind::Label, G = ControlKind::GroupBox, C = ControlKind::CheckBox,
                      X = ControlKind::Custom, CB = ControlKind::ComboBox,
                      LB = ControlKind::ListBox, PB = ControlKind::PushButton,
                      DPB = ControlKind::DefPushButton;

const DialogTemplate* find(const std::vector<DialogTemplate>& all, int id) {
    for (const DialogTemplate& t : all)
        if (t.resourceId == id)
            return &t;
    return nullptr;
}

void expectControls(const DialogTemplate& t, const std::vector<Expected>& want) {
    ASSERT_EQ(t.controls.size(), want.size()) << "dialog " << t.resourceId;
    for (size_t i = 0; i < want.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        const Expected& w = want[i];
        SCOPED_TRACE("dialog " + std::to_string(t.resourceId) + " control " + std::to_string(i));
        EXPECT_EQ(c.id, w.id);
        EXPECT_EQ(c.kind(), w.kind);
        if (w.kind == ControlKind::Custom) {
            EXPECT_EQ(c.className, w.cls);
        }
        EXPECT_EQ(c.text, w.text);
        EXPECT_EQ(c.x, w.x);
        EXPECT_EQ(c.y, w.y);
        EXPECT_EQ(c.cx, w.cx);
        EXPECT_EQ(c.cy, w.cy);
        if (w.kind == ControlKind::Label && w.x != 0) {
            EXPECT_EQ(c.style & SS_TYPEMASK, SS_RIGHT); // labels are right-aligned
        }
    }
}

TEST(Resources, SixDialogsInTheirFontAndSize) {
    auto all = velquin::dialogTemplates();
    ASSERT_EQ(all.size(), 6u);
    const int sizes[][3] = {{103, 108, 281}, {212, 108, 115}, {210, 108, 114},
                            {102, 108, 132}, {211, 108, 61},  {209, 144, 180}};
    for (const auto& s : sizes) {
        const DialogTemplate* t = find(all, s[0]);
        ASSERT_NE(t, nullptr) << s[0];
        EXPECT_EQ(t->cx, s[1]);
        EXPECT_EQ(t->cy, s[2]);
        EXPECT_EQ(t->fontName, "MS Sans Serif");
        EXPECT_EQ(t->fontSize, 8);
        EXPECT_EQ(t->isModalPopup(), s[0] == 209);
    }
    const DialogTemplate* events = find(all, 209);
    EXPECT_EQ(events->caption, "Add Particle Flow Events");
    EXPECT_NE(events->style & WS_CAPTION, 0u);
    EXPECT_NE(events->style & WS_SYSMENU, 0u);
}

TEST(Resources, GeneralRollout) {
    auto all = velquin::dialogTemplates();
    expectControls(*find(all, 103), {{-1, L, "", "Icon size:", 6, 4, 50, 8},
                                     {1034, X, "CustEdit", "", 58, 4, 36, 10},
                                     {1035, X, "SpinnerControl", "", 96, 4, 7, 10},
                                     {-1, G, "", "Size", 2, 14, 104, 48},
                                     {1124, C, "", "Use particle size", 7, 25, 67, 10},
                                     {-1, L, "", "Radius:", 6, 37, 50, 8},
                                     {1012, X, "CustEdit", "", 58, 37, 36, 10},
                                     {1013, X, "SpinnerControl", "", 96, 37, 7, 10},
                                     {-1, L, "", "Threshold:", 6, 49, 50, 8},
                                     {1014, X, "CustEdit", "", 58, 49, 36, 10},
                                     {1015, X, "SpinnerControl", "", 96, 49, 7, 10},
                                     {-1, G, "", "Quality", 2, 63, 104, 47},
                                     {-1, L, "", "Step length:", 6, 74, 50, 8},
                                     {1016, X, "CustEdit", "", 58, 74, 36, 10},
                                     {1017, X, "SpinnerControl", "", 96, 74, 7, 10},
                                     {-1, L, "", "Max error:", 6, 85, 50, 8},
                                     {1018, X, "CustEdit", "", 58, 85, 36, 10},
                                     {1019, X, "SpinnerControl", "", 96, 85, 7, 10},
                                     {-1, L, "", "MB samples:", 5, 96, 51, 8},
                                     {1037, X, "CustEdit", "", 58, 96, 36, 10},
                                     {1038, X, "SpinnerControl", "", 96, 96, 7, 10},
                                     {-1, G, "", "Distance Function", 2, 111, 104, 41},
                                     {1002, CB, "", "", 7, 122, 96, 112},
                                     {1123, C, "", "Use average distance", 7, 139, 85, 10},
                                     {-1, G, "", "Color", 2, 152, 104, 28},
                                     {1003, CB, "", "", 7, 163, 96, 112},
                                     {-1, G, "", "Average Parameters", 2, 182, 104, 36},
                                     {-1, L, "", "Cutoff:", 6, 194, 50, 8},
                                     {1020, X, "CustEdit", "", 58, 194, 36, 10},
                                     {1021, X, "SpinnerControl", "", 96, 194, 7, 10},
                                     {-1, L, "", "Trim:", 6, 205, 50, 8},
                                     {1022, X, "CustEdit", "", 58, 205, 36, 10},
                                     {1023, X, "SpinnerControl", "", 96, 205, 7, 10},
                                     {-1, G, "", "Bounding Volume Hierarchy", 2, 219, 104, 46},
                                     {-1, L, "", "Tree depth:", 5, 230, 50, 8},
                                     {1028, X, "CustEdit", "", 57, 230, 36, 10},
                                     {1029, X, "SpinnerControl", "", 95, 230, 7, 10},
                                     {-1, L, "", "Leaf length:", 5, 241, 50, 8},
                                     {1030, X, "CustEdit", "", 57, 241, 36, 10},
                                     {1031, X, "SpinnerControl", "", 95, 241, 7, 10},
                                     {-1, L, "", "Leaf size:", 5, 252, 50, 8},
                                     {1032, X, "CustEdit", "", 57, 252, 36, 10},
                                     {1033, X, "SpinnerControl", "", 95, 252, 7, 10},
                                     {-1, L, "", "Pflow vel. tresh.:", 2, 268, 55, 8},
                                     {1036, X, "CustEdit", "", 60, 268, 36, 10},
                                     {1039, X, "SpinnerControl", "", 98, 268, 7, 10}});
}

TEST(Resources, TextureNodesFlowAboutAndEventsDialogs) {
    auto all = velquin::dialogTemplates();
    expectControls(*find(all, 212), {{-1, G, "", "Texture", 2, 2, 104, 71},
                                     {1003, C, "", "Use texture", 7, 14, 52, 10},
                                     {1036, X, "CustButton", "", 8, 27, 95, 13},
                                     {1004, CB, "", "", 7, 43, 96, 112},
                                     {-1, L, "", "Strength:", 8, 59, 47, 8},
                                     {1041, X, "CustEdit", "", 57, 59, 36, 10},
                                     {1042, X, "SpinnerControl", "", 95, 59, 7, 10},
                                     {-1, G, "", "Field", 2, 74, 104, 38},
                                     {1125, C, "", "Clamp field before texture", 7, 86, 95, 10},
                                     {-1, L, "", "Clamp to:", 7, 99, 48, 8},
                                     {1039, X, "CustEdit", "", 57, 99, 36, 10},
                                     {1040, X, "SpinnerControl", "", 95, 99, 7, 10}});
    expectControls(*find(all, 210), {{-1, G, "", "Metaball Objects", 2, 1, 104, 111},
                                     {1336, LB, "", "", 7, 11, 93, 84},
                                     {1334, X, "CustButton", "Pick", 7, 98, 28, 11},
                                     {1332, X, "CustButton", "Add", 39, 98, 28, 11},
                                     {1333, X, "CustButton", "Remove", 70, 98, 30, 11}});
    expectControls(*find(all, 102), {{1002, C, "", "All Particle Flow Events", 7, 4, 89, 10},
                                     {-1, G, "", "Particle Flow Events", 2, 17, 103, 112},
                                     {1003, LB, "", "", 7, 27, 93, 84},
                                     {1001, PB, "", "Add", 7, 114, 46, 11},
                                     {1004, X, "CustButton", "Remove", 55, 114, 46, 11}});
    expectControls(*find(all, 211), {{-1, L, "", "Author:", 0, 1, 102, 8},
                                     {-1, L, "", velquin::kAboutAuthor, 0, 12, 102, 8},
                                     {-1, L, "", "Contact:", 0, 25, 102, 8},
                                     {-1, L, "", velquin::kAboutContact, 0, 36, 102, 8},
                                     {-1, L, "", "Version 1.14", 0, 51, 102, 8}});
    for (const ControlTemplate& c : find(all, 211)->controls)
        EXPECT_EQ(c.style & SS_TYPEMASK, SS_CENTER);
    expectControls(*find(all, 209), {{1265, LB, "", "", 4, 5, 135, 153},
                                     {1, DPB, "", "OK", 37, 162, 50, 14},
                                     {2, PB, "", "Cancel", 89, 162, 50, 14}});

    // The rollout lists take one selection and notify; the events list takes several.
    const DWORD nodeList = find(all, 210)->control(1336)->style;
    EXPECT_NE(nodeList & LBS_NOTIFY, 0u);
    EXPECT_NE(nodeList & WS_VSCROLL, 0u);
    EXPECT_NE(nodeList & LBS_NOINTEGRALHEIGHT, 0u);
    EXPECT_EQ(nodeList & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL), 0u);
    EXPECT_NE(find(all, 209)->control(1265)->style & LBS_EXTENDEDSEL, 0u);
    EXPECT_EQ(find(all, 103)->control(1002)->style & 0x3u, CBS_DROPDOWNLIST);
}

TEST(Resources, RegisteredUnderTheModuleHandleOnly) {
    static char tag;
    auto* module = reinterpret_cast<HINSTANCE>(&tag);
    DialogTemplate t;
    EXPECT_FALSE(FindDialogTemplate(module, 103, t));
    velquin::registerUiResources(module);
    for (int id : {102, 103, 209, 210, 211, 212})
        EXPECT_TRUE(FindDialogTemplate(module, id, t)) << id;
    char buf[64];
    ASSERT_GT(LoadStringA(module, velquin::IDS_ADD_EVENTS, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "Add Events");
    velquin::registerUiResources(nullptr); // no module: nothing to register, no crash
    UnregisterModuleResources(module);
    EXPECT_FALSE(FindDialogTemplate(module, 103, t));
}

} // namespace
