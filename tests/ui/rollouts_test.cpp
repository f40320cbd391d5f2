// Opening and closing the rollouts, the dialog procedures' lists and buttons, and the automatic
// bindings in both directions.
#include "tests/ui/ui_fixture.h"

#include "object/ParamBlock.h"
#include "ui/Rollouts.h"

using namespace velquin;

namespace {

class Rollouts : public uitest::UiFixture {
protected:
    void SetUp() override {
        UiFixture::SetUp();
        obj = newObject();
    }
};

TEST_F(Rollouts, OpenInDescriptorOrderWithTitlesAndRollState) {
    beginEditing();
    ASSERT_EQ(NumCommandPanelRollouts(), 5);
    const struct {
        MapID id;
        const char* title;
        bool rolledUp;
    } want[] = {{GeneralRollout, "General Parameters", false},
                {TextureRollout, "Texture Parameters", true},
                {NodesRollout, "Node Parameters", false},
                {FlowRollout, "Particle Flow Parameters", true},
                {AboutRollout, "About", true}};
    for (int i = 0; i < 5; ++i) {
        IParamMap2* m = GetCommandPanelRollout(i);
        EXPECT_EQ(m->GetMapID(), want[i].id);
        EXPECT_EQ(m->GetTitle(), want[i].title);
        EXPECT_EQ(m->IsRolledUp(), want[i].rolledUp);
        EXPECT_EQ(m->GetParamBlock(), pb());
    }
    // Maps 0 to 3 carry the object's procedures, the About rollout none.
    ParamBlockDesc2* desc = GetVelquinMetaballParamDesc();
    EXPECT_NE(dynamic_cast<VelquinMetaballParamsDlgProc*>(FindParamMap(desc, 0)->GetUserDlgProc()),
              nullptr);
    EXPECT_NE(dynamic_cast<VelquinMetaballNodesDlgProc*>(FindParamMap(desc, 1)->GetUserDlgProc()),
              nullptr);
    EXPECT_NE(dynamic_cast<VelquinMetaballPFlowDlgProc*>(FindParamMap(desc, 2)->GetUserDlgProc()),
              nullptr);
    EXPECT_NE(dynamic_cast<VelquinMetaballTextureDlgProc*>(FindParamMap(desc, 3)->GetUserDlgProc()),
              nullptr);
    EXPECT_EQ(FindParamMap(desc, 4)->GetUserDlgProc(), nullptr);
    EXPECT_EQ(obj->nodesRolloutWindow, rollout(NodesRollout));
    EXPECT_EQ(obj->flowRolloutWindow, rollout(FlowRollout));
    EXPECT_EQ(desc->GetParamDef(pb_nodes).validator, &obj->validator);
    EXPECT_EQ(editingInterface, GetCOREObjParam());
}

TEST_F(Rollouts, EndEditingClosesEverythingAndForgetsTheWindows) {
    beginEditing();
    endEditing();
    ParamBlockDesc2* desc = GetVelquinMetaballParamDesc();
    EXPECT_EQ(NumCommandPanelRollouts(), 0);
    EXPECT_EQ(LiveWindowCount(), windowsBefore);
    EXPECT_EQ(editingInterface, nullptr);
    EXPECT_EQ(obj->nodesRolloutWindow, nullptr);
    EXPECT_EQ(obj->flowRolloutWindow, nullptr);
    // Neither the descriptor nor the block keeps anything of the closed session: the validator
    // and the procedures would otherwise outlive the object.
    EXPECT_EQ(desc->GetParamDef(pb_nodes).validator, nullptr);
    for (MapID m = 0; m < 5; ++m)
        EXPECT_EQ(desc->GetUserDlgProc(m), nullptr);

    // A second session works like the first.
    beginEditing();
    EXPECT_EQ(NumCommandPanelRollouts(), 5);
    EXPECT_EQ(items(rollout(GeneralRollout), 1002, true).size(), 7u);
}

TEST_F(Rollouts, DeletedObjectLeavesNoValidatorOnTheSharedDescriptor) {
    ParamBlockDesc2* desc = GetVelquinMetaballParamDesc();
    auto* other = static_cast<VelquinMetaball*>(
        static_cast<GeomObject*>(GetVelquinMetaballDesc()->Create(FALSE)));
    desc->ParamOption(pb_nodes, p_validator, &other->validator);
    other->DeleteThis();
    EXPECT_EQ(desc->GetParamDef(pb_nodes).validator, nullptr);
    // Another object's validator stays where it is.
    beginEditing();
    auto* third = static_cast<VelquinMetaball*>(
        static_cast<GeomObject*>(GetVelquinMetaballDesc()->Create(FALSE)));
    third->DeleteThis();
    EXPECT_EQ(desc->GetParamDef(pb_nodes).validator, &obj->validator);
}

TEST_F(Rollouts, ListsHoldTheEntriesInStoredOrderAndShowTheValues) {
    pb()->SetValue(pb_fieldFunction, 0, 4);
    pb()->SetValue(pb_color, 0, 8);
    pb()->SetValue(pb_textureType, 0, 1);
    beginEditing();
    HWND general = rollout(GeneralRollout), texture = rollout(TextureRollout);
    EXPECT_EQ(items(general, 1002, true),
              (std::vector<std::string>{"Power of two", "Power of three", "Power of four",
                                        "Power of five", "Hermit in power of two",
                                        "Hermit in power of four", "Wyvill"}));
    EXPECT_EQ(items(general, 1003, true),
              (std::vector<std::string>{
                  "None", "Same as the surface", "Power of two", "Power of three", "Power of four",
                  "Power of five", "Hermit in power of two", "Hermit in power of four", "Wyvill"}));
    EXPECT_EQ(items(texture, 1004, true), (std::vector<std::string>{"Multiply", "Subtract"}));
    EXPECT_EQ(SendDlgItemMessage(general, 1002, CB_GETCURSEL, 0, 0), 4);
    EXPECT_EQ(SendDlgItemMessage(general, 1003, CB_GETCURSEL, 0, 0), 8);
    EXPECT_EQ(SendDlgItemMessage(texture, 1004, CB_GETCURSEL, 0, 0), 1);

    // Showing a rollout selects the current value again.
    SendDlgItemMessage(texture, 1004, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    FindParamMap(GetVelquinMetaballParamDesc(), TextureRollout)->SetRolledUp(false);
    EXPECT_EQ(SendDlgItemMessage(texture, 1004, CB_GETCURSEL, 0, 0), 1);
}

TEST_F(Rollouts, ChoosingTheSixthColourEntryStoresFive) {
    beginEditing();
    HWND general = rollout(GeneralRollout);
    UserSelectComboItem(general, 1003, 5);
    EXPECT_EQ(pb()->GetInt(pb_color, 0), 5);
    EXPECT_EQ(text(general, 1003), "Power of five");
    UserSelectComboItem(general, 1002, 6);
    EXPECT_EQ(pb()->GetInt(pb_fieldFunction, 0), 6);
    UserSelectComboItem(rollout(TextureRollout), 1004, 1);
    EXPECT_EQ(pb()->GetInt(pb_textureType, 0), 1);
    // Each choice is one undo step.
    ASSERT_TRUE(theHold.Undo());
    EXPECT_EQ(pb()->GetInt(pb_textureType, 0), 0);
}

TEST_F(Rollouts, SpinnersShowValuesAndStopAtTheRanges) {
    beginEditing();
    HWND general = rollout(GeneralRollout), texture = rollout(TextureRollout);
    EXPECT_EQ(text(general, 1012), "20.0");
    EXPECT_EQ(text(general, 1018), "0.0001");
    EXPECT_EQ(text(general, 1022), "0.65");
    EXPECT_EQ(text(general, 1028), "15");
    EXPECT_EQ(text(general, 1036), "-1.0");

    const struct {
        HWND dialog;
        int spinner;
        ParamID id;
        float low, high;
    } floats[] = {{general, 1035, pb_icon, 0.0001f, 1000000.0f},
                  {general, 1013, pb_radius, 0.0001f, 1000000.0f},
                  {general, 1015, pb_threshold, 0.0001f, 1000000.0f},
                  {general, 1017, pb_step, 0.0001f, 1000000.0f},
                  {general, 1019, pb_error, 0.00001f, 1000000.0f},
                  {general, 1021, pb_cutoff, 0.0001f, 1000000.0f},
                  {general, 1023, pb_trim, 0.0001f, 1000000.0f},
                  {general, 1031, pb_leafLength, 0.0001f, 1000000.0f},
                  {general, 1039, pb_velocityThreshold, -1.0f, 1000000.0f},
                  {texture, 1042, pb_textureStr, 0.0f, 1000000.0f},
                  {texture, 1040, pb_clampTo, 0.0001f, 1000000.0f}};
    for (const auto& f : floats) {
        SCOPED_TRACE(f.id);
        UserSetSpinner(f.dialog, f.spinner, -50.0f);
        EXPECT_EQ(pb()->GetFloat(f.id, 0), f.low);
        UserSetSpinner(f.dialog, f.spinner, 5.0e6f);
        EXPECT_EQ(pb()->GetFloat(f.id, 0), f.high);
    }
    const struct {
        int spinner;
        ParamID id;
        int high;
    } ints[] = {{1029, pb_depth, 50}, {1033, pb_leafSize, 10000}, {1038, pb_mbSamples, 160}};
    for (const auto& i : ints) {
        SCOPED_TRACE(i.id);
        UserSetSpinner(general, i.spinner, 0.0f);
        EXPECT_EQ(pb()->GetInt(i.id, 0), 1);
        UserSetSpinner(general, i.spinner, 1.0e6f);
        EXPECT_EQ(pb()->GetInt(i.id, 0), i.high);
    }
    EXPECT_EQ(text(general, 1032), "10000");
    UserSetSpinner(general, 1019, 0.0f);
    UserSetSpinner(texture, 1042, -1.0f);
    EXPECT_EQ(text(general, 1018), "0.00001");
    EXPECT_EQ(text(texture, 1041), "0.0"); // "textureStr" goes down to exactly 0
}

TEST_F(Rollouts, TypedValuesReachTheBlockAndScriptChangesReachTheControls) {
    beginEditing();
    HWND general = rollout(GeneralRollout);
    UserEnterText(general, 1012, "3.5");
    EXPECT_EQ(pb()->GetFloat(pb_radius, 0), 3.5f);
    EXPECT_EQ(theHold.UndoCount(), 1);
    UserEnterText(general, 1012, "big");
    EXPECT_EQ(pb()->GetFloat(pb_radius, 0), 3.5f);
    EXPECT_EQ(text(general, 1012), "3.5");
    EXPECT_EQ(theHold.UndoCount(), 1);
    UserEnterText(general, 1030, "-4");
    EXPECT_EQ(pb()->GetFloat(pb_leafLength, 0), 0.0001f);

    pb()->SetValue(pb_threshold, 0, 0.25f);
    EXPECT_EQ(text(general, 1014), "0.25");
    pb()->SetValue(pb_useScale, 0, 1);
    EXPECT_EQ(IsDlgButtonChecked(general, 1124), BST_CHECKED);
    pb()->SetValue(pb_color, 0, 2);
    EXPECT_EQ(SendDlgItemMessage(general, 1003, CB_GETCURSEL, 0, 0), 2);
}

TEST_F(Rollouts, CheckBoxesToggleTheirBooleans) {
    beginEditing();
    HWND general = rollout(GeneralRollout), flow = rollout(FlowRollout),
         texture = rollout(TextureRollout);
    EXPECT_EQ(IsDlgButtonChecked(flow, 1002), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(texture, 1003), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(general, 1123), BST_UNCHECKED);
    UserClickButton(general, 1123);
    EXPECT_EQ(pb()->GetInt(pb_useAverage, 0), 1);
    UserClickButton(flow, 1002);
    EXPECT_EQ(pb()->GetInt(pb_allPflow, 0), 0);
    UserClickButton(texture, 1125);
    EXPECT_EQ(pb()->GetInt(pb_useClamp, 0), 1);
    UserClickButton(texture, 1003);
    EXPECT_EQ(pb()->GetInt(pb_useTexture, 0), 0);
}

TEST_F(Rollouts, NodeListShowsTheTableAndItsRemoveButtonDeletesTheChosenLine) {
    INode* a = newSphere("A");
    INode* b = newSphere("B");
    obj->addMetaball(a);
    beginEditing();
    HWND nodes = rollout(NodesRollout);
    EXPECT_EQ(items(nodes, 1336, false), (std::vector<std::string>{"A"}));
    obj->addMetaball(b);
    EXPECT_EQ(items(nodes, 1336, false), (std::vector<std::string>{"A", "B"}));

    UserClickButton(nodes, 1333); // nothing chosen: nothing removed
    EXPECT_EQ(pb()->Count(pb_nodes), 2);
    UserSelectListItem(nodes, 1336, 0);
    UserClickButton(nodes, 1333);
    ASSERT_EQ(pb()->Count(pb_nodes), 1);
    EXPECT_EQ(pb()->GetINode(pb_nodes, 0, 0), b);
    EXPECT_EQ(items(nodes, 1336, false), (std::vector<std::string>{"B"}));
}

TEST_F(Rollouts, TextureButtonShowsAndTakesTheMap) {
    beginEditing();
    HWND texture = rollout(TextureRollout);
    ICustButton* button = GetICustButton(GetDlgItem(texture, 1036));
    ASSERT_NE(button, nullptr);
    EXPECT_STREQ(button->GetText(), "None");
    UserClickButton(texture, 1036); // no browser: nothing happens
    EXPECT_EQ(pb()->GetTexmap(pb_texmap), nullptr);
    ReleaseICustButton(button);
}

TEST_F(Rollouts, CreationPanelDisablesTheAddingButtons) {
    core->SetCommandPanelTaskMode(TASK_MODE_CREATE);
    beginEditing(BEGIN_EDIT_CREATE);
    HWND nodes = rollout(NodesRollout), flow = rollout(FlowRollout);
    for (int id : {1332, 1334, 1333})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(nodes, id))) << id;
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(flow, 1001)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(flow, 1004))); // left to the host's binding

    // A click on a disabled button reaches nobody.
    newSphere("A");
    core->SetHitByNameChooser(ChooseNodesByName({"A"}));
    UserClickButton(nodes, 1332);
    UserClickButton(nodes, 1334);
    EXPECT_EQ(core->HitByNameDialogCount(), 0);
    EXPECT_EQ(core->GetCurPickMode(), nullptr);
    EXPECT_EQ(pb()->Count(pb_nodes), 0);
}

TEST_F(Rollouts, ModifyPanelHighlightsAddAndMakesPickACheckButton) {
    GetColorManager()->SetColor(kActiveCommand, RGB(10, 200, 30));
    beginEditing();
    HWND nodes = rollout(NodesRollout), flow = rollout(FlowRollout);
    const CustButtonState* add = FindCustButtonState(GetDlgItem(nodes, 1332));
    const CustButtonState* pick = FindCustButtonState(GetDlgItem(nodes, 1334));
    ASSERT_NE(add, nullptr);
    ASSERT_NE(pick, nullptr);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(nodes, 1332)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(nodes, 1334)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(nodes, 1333)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(flow, 1001)));
    EXPECT_EQ(add->highlight, RGB(10, 200, 30));
    EXPECT_EQ(pick->highlight, RGB(10, 200, 30));
    EXPECT_EQ(pick->type, CBT_CHECK);
    EXPECT_EQ(add->type, CBT_PUSH);
}

TEST_F(Rollouts, AboutShowsAuthorContactAndVersion) {
    beginEditing();
    HWND about = rollout(AboutRollout);
    std::vector<std::string> lines;
    for (HWND c : GetChildWindows(about)) {
        char buf[128] = "";
        GetWindowText(c, buf, sizeof buf);
        lines.emplace_back(buf);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"Author:", kAboutAuthor, "Contact:", kAboutContact,
                                               "Version 1.14"}));
}

} // namespace
