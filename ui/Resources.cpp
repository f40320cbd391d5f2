#include "ui/Resources.h"

#include "object/ParamIds.h"
#include "ui/Strings.h"

namespace velquin {

namespace {

constexpr int kRolloutWidth = 108;

DialogTemplate rollout(int id, int height) {
    DialogTemplate t;
    t.resourceId = id;
    t.cx = kRolloutWidth;
    t.cy = height;
    t.fontName = "MS Sans Serif";
    t.fontSize = 8;
    t.style = WS_CHILD | WS_VISIBLE | DS_SETFONT;
    return t;
}

// The host's edit-plus-spinner pair: a 36 x 10 edit and a 7 x 10 spinner.
void spinner(DialogTemplate& t, int editId, int spinId, int editX, int spinX, int y) {
    t.controls.push_back(RcCustom("CustEdit", "", editId, editX, y, 36, 10, WS_TABSTOP));
    t.controls.push_back(RcCustom("SpinnerControl", "", spinId, spinX, y, 7, 10));
}

ControlTemplate custButton(const char* text, int id, int x, int y, int cx, int cy) {
    return RcCustom("CustButton", text, id, x, y, cx, cy, WS_TABSTOP);
}

// The rollouts' lists: one selection, notify the owner, vertical scroll bar, no integral height.
constexpr DWORD kRolloutList = LBS_NOTIFY | WS_VSCROLL | LBS_NOINTEGRALHEIGHT;

DialogTemplate generalRollout() {
    DialogTemplate t = rollout(IDD_GENERAL_ROLLOUT, 281);
    auto& c = t.controls;
    c.push_back(RcRText("Icon size:", 6, 4, 50, 8));
    spinner(t, 1034, 1035, 58, 96, 4);
    c.push_back(RcGroupBox("Size", 2, 14, 104, 48));
    c.push_back(RcCheckBox("Use particle size", 1124, 7, 25, 67, 10));
    c.push_back(RcRText("Radius:", 6, 37, 50, 8));
    spinner(t, 1012, 1013, 58, 96, 37);
    c.push_back(RcRText("Threshold:", 6, 49, 50, 8));
    spinner(t, 1014, 1015, 58, 96, 49);
    c.push_back(RcGroupBox("Quality", 2, 63, 104, 47));
    c.push_back(RcRText("Step length:", 6, 74, 50, 8));
    spinner(t, 1016, 1017, 58, 96, 74);
    c.push_back(RcRText("Max error:", 6, 85, 50, 8));
    spinner(t, 1018, 1019, 58, 96, 85);
    c.push_back(RcRText("MB samples:", 5, 96, 51, 8));
    spinner(t, 1037, 1038, 58, 96, 96);
    c.push_back(RcGroupBox("Distance Function", 2, 111, 104, 41));
    c.push_back(RcComboBox(1002, 7, 122, 96, 112));
    c.push_back(RcCheckBox("Use average distance", 1123, 7, 139, 85, 10));
    c.push_back(RcGroupBox("Color", 2, 152, 104, 28));
    c.push_back(RcComboBox(1003, 7, 163, 96, 112));
    c.push_back(RcGroupBox("Average Parameters", 2, 182, 104, 36));
    c.push_back(RcRText("Cutoff:", 6, 194, 50, 8));
    spinner(t, 1020, 1021, 58, 96, 194);
    c.push_back(RcRText("Trim:", 6, 205, 50, 8));
    spinner(t, 1022, 1023, 58, 96, 205);
    c.push_back(RcGroupBox("Bounding Volume Hierarchy", 2, 219, 104, 46));
    c.push_back(RcRText("Tree depth:", 5, 230, 50, 8));
    spinner(t, 1028, 1029, 57, 95, 230);
    c.push_back(RcRText("Leaf length:", 5, 241, 50, 8));
    spinner(t, 1030, 1031, 57, 95, 241);
    c.push_back(RcRText("Leaf size:", 5, 252, 50, 8));
    spinner(t, 1032, 1033, 57, 95, 252);
    c.push_back(RcRText("Pflow vel. tresh.:", 2, 268, 55, 8));
    spinner(t, 1036, 1039, 60, 98, 268);
    return t;
}

DialogTemplate textureRollout() {
    DialogTemplate t = rollout(IDD_TEXTURE_ROLLOUT, 115);
    auto& c = t.controls;
    c.push_back(RcGroupBox("Texture", 2, 2, 104, 71));
    c.push_back(RcCheckBox("Use texture", 1003, 7, 14, 52, 10));
    c.push_back(custButton("", 1036, 8, 27, 95, 13));
    c.push_back(RcComboBox(1004, 7, 43, 96, 112));
    c.push_back(RcRText("Strength:", 8, 59, 47, 8));
    spinner(t, 1041, 1042, 57, 95, 59);
    c.push_back(RcGroupBox("Field", 2, 74, 104, 38));
    c.push_back(RcCheckBox("Clamp field before texture", 1125, 7, 86, 95, 10));
    c.push_back(RcRText("Clamp to:", 7, 99, 48, 8));
    spinner(t, 1039, 1040, 57, 95, 99);
    return t;
}

DialogTemplate nodesRollout() {
    DialogTemplate t = rollout(IDD_NODES_ROLLOUT, 114);
    auto& c = t.controls;
    c.push_back(RcGroupBox("Metaball Objects", 2, 1, 104, 111));
    c.push_back(RcListBox(1336, 7, 11, 93, 84, kRolloutList));
    c.push_back(custButton("Pick", IDC_PICK, 7, 98, 28, 11));
    c.push_back(custButton("Add", IDC_ADD_NODES, 39, 98, 28, 11));
    c.push_back(custButton("Remove", IDC_REMOVE_NODE, 70, 98, 30, 11));
    return t;
}

DialogTemplate flowRollout() {
    DialogTemplate t = rollout(IDD_FLOW_ROLLOUT, 132);
    auto& c = t.controls;
    c.push_back(RcCheckBox("All Particle Flow Events", 1002, 7, 4, 89, 10));
    c.push_back(RcGroupBox("Particle Flow Events", 2, 17, 103, 112));
    c.push_back(RcListBox(1003, 7, 27, 93, 84, kRolloutList));
    c.push_back(RcPushButton("Add", IDC_ADD_EVENTS, 7, 114, 46, 11));
    c.push_back(custButton("Remove", 1004, 55, 114, 46, 11));
    return t;
}

DialogTemplate aboutRollout() {
    DialogTemplate t = rollout(IDD_ABOUT_ROLLOUT, 61);
    auto& c = t.controls;
    c.push_back(RcCText("Author:", 0, 1, 102, 8));
    c.push_back(RcCText(kAboutAuthor, 0, 12, 102, 8));
    c.push_back(RcCText("Contact:", 0, 25, 102, 8));
    c.push_back(RcCText(kAboutContact, 0, 36, 102, 8));
    c.push_back(RcCText(kAboutVersion, 0, 51, 102, 8));
    return t;
}

DialogTemplate addEventsDialog() {
    DialogTemplate t;
    t.resourceId = IDD_ADD_EVENTS;
    t.cx = 144;
    t.cy = 180;
    t.fontName = "MS Sans Serif";
    t.fontSize = 8;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    t.caption = "Add Particle Flow Events";
    t.controls.push_back(RcListBox(IDC_EVENT_LIST, 4, 5, 135, 153, LBS_EXTENDEDSEL | WS_VSCROLL));
    t.controls.push_back(RcDefPushButton("OK", IDOK, 37, 162, 50, 14));
    t.controls.push_back(RcPushButton("Cancel", IDCANCEL, 89, 162, 50, 14));
    return t;
}

} // namespace

std::vector<DialogTemplate> dialogTemplates() {
    return {generalRollout(), textureRollout(), nodesRollout(),
            flowRollout(),    aboutRollout(),   addEventsDialog()};
}

void registerUiResources(HINSTANCE instance) {
    if (!instance)
        return;
    for (const DialogTemplate& t : dialogTemplates())
        RegisterDialogTemplate(instance, t);
    registerModuleStrings(instance);
}

} // namespace velquin
