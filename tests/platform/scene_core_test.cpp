#include "host/max_scene.h"
#include "host/win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class SceneCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCOREInterface();
        ip = GetCOREObjParam();
        vp = ip->GetActiveViewport();
        ViewCamera cam; // top view, one pixel per unit: world (x, y) at (320 + x, 240 - y)
        cam.perspective = false;
        cam.position = Point3(0, 0, 100);
        cam.up = Point3(0, 1, 0);
        cam.orthoWidth = 640.0f;
        vp->SetCamera(cam);
    }
    void TearDown() override { ResetCOREInterface(); }

    // A 20 x 20 box standing at (x, y).
    INode* boxAt(const char* name, float x, float y) {
        auto* box = new BoxObject();
        box->width.SetConstant(20.0f);
        box->length.SetConstant(20.0f);
        INode* n = ip->GetScene().CreateNode(box, name);
        n->SetNodeTMConstant(TransMatrix(Point3(x, y, 0)));
        return n;
    }

    IObjParam* ip = nullptr;
    ViewExp* vp = nullptr;
};

// A pick mode that logs the protocol and takes what PickNode finds, refusing one node by name.
class LoggingPickMode : public PickModeCallback, public PickNodeCallback {
public:
    std::vector<std::string> log;
    std::vector<INode*> picked;
    std::string refuse;
    BOOL endOnPick = FALSE;
    HCURSOR def = reinterpret_cast<HCURSOR>(0x10), hit = reinterpret_cast<HCURSOR>(0x20);

    BOOL HitTest(IObjParam* ip, HWND hWnd, ViewExp* vpt, IPoint2 m, int flags) override {
        (void)vpt, (void)flags;
        log.push_back("hit");
        return ip->PickNode(hWnd, m, GetFilter()) != nullptr;
    }
    BOOL Pick(IObjParam* ip, ViewExp* vpt) override {
        (void)ip;
        log.push_back("pick");
        HitRecord* h = vpt->GetClosestHit();
        if (h)
            picked.push_back(h->nodeRef);
        return endOnPick;
    }
    BOOL RightClick(IObjParam*, ViewExp*) override {
        log.push_back("right");
        return TRUE;
    }
    void EnterMode(IObjParam*) override { log.push_back("enter"); }
    void ExitMode(IObjParam*) override { log.push_back("exit"); }
    HCURSOR GetDefCursor(IObjParam*) override { return def; }
    HCURSOR GetHitCursor(IObjParam*) override { return hit; }
    PickNodeCallback* GetFilter() override { return this; }
    BOOL Filter(INode* node) override { return refuse != node->GetName(); }
};

TEST_F(SceneCoreTest, PickModeProtocolFilterAndRightClick) {
    INode* a = boxAt("a", 0, 0);
    boxAt("b", 100, 0);
    LoggingPickMode mode;
    mode.refuse = "b";
    ip->SetPickMode(&mode);
    EXPECT_EQ(ip->GetCurPickMode(), &mode);
    EXPECT_EQ(ip->GetCurrentCursor(), mode.def);

    EXPECT_TRUE(ip->SimulateMouseMove(vp, IPoint2{330, 240})); // the right edge of a
    EXPECT_EQ(ip->GetCurrentCursor(), mode.hit);
    EXPECT_FALSE(ip->SimulateMouseMove(vp, IPoint2{420, 240})); // b is refused
    EXPECT_EQ(ip->GetCurrentCursor(), mode.def);

    EXPECT_FALSE(ip->SimulatePick(vp, IPoint2{420, 240}));
    EXPECT_TRUE(ip->SimulatePick(vp, IPoint2{331, 245}));
    EXPECT_TRUE(ip->SimulatePick(vp, IPoint2{600, 10}) == FALSE); // empty space
    EXPECT_EQ(mode.picked, (std::vector<INode*>{a}));
    EXPECT_EQ(ip->GetCurPickMode(), &mode); // Pick answered FALSE: the mode goes on

    ip->SimulateRightClick(vp, IPoint2{0, 0});
    EXPECT_EQ(ip->GetCurPickMode(), nullptr);
    EXPECT_EQ(mode.log, (std::vector<std::string>{"enter", "hit", "hit", "hit", "hit", "pick",
                                                  "hit", "right", "exit"}));
    // Without a mode the mouse does nothing.
    EXPECT_FALSE(ip->SimulatePick(vp, IPoint2{331, 245}));
    ip->SimulateRightClick(vp, IPoint2{0, 0});
    EXPECT_EQ(mode.log.size(), 9u);
}

TEST_F(SceneCoreTest, NewModeEndsTheOldAndPickCanEndTheMode) {
    boxAt("a", 0, 0);
    LoggingPickMode first, second;
    ip->SetPickMode(&first);
    ip->SetPickMode(&second);
    EXPECT_EQ(first.log, (std::vector<std::string>{"enter", "exit"}));
    second.endOnPick = TRUE;
    EXPECT_TRUE(ip->SimulatePick(vp, IPoint2{330, 240}));
    EXPECT_EQ(ip->GetCurPickMode(), nullptr);
    EXPECT_EQ(second.log.back(), "exit");
    ip->ClearPickMode(); // nothing to end
    EXPECT_EQ(second.log.size(), 4u);
}

TEST_F(SceneCoreTest, PickNodeTakesTheClosestVisibleUnfrozenNode) {
    INode* a = boxAt("a", 0, 0);
    INode* b = boxAt("b", 3, 0);                                  // edges at x = 10 and 13
    EXPECT_EQ(ip->PickNode(vp->GetHWnd(), IPoint2{329, 240}), a); // 1 pixel from a, 4 from b
    EXPECT_EQ(vp->NumHits(), 2);
    EXPECT_EQ(ip->PickNode(nullptr, IPoint2{334, 240}), b);
    b->Hide(TRUE);
    EXPECT_EQ(ip->PickNode(nullptr, IPoint2{334, 240}), a);
    a->Freeze(TRUE);
    EXPECT_EQ(ip->PickNode(nullptr, IPoint2{334, 240}), nullptr);
    HWND unknown = reinterpret_cast<HWND>(&a);
    EXPECT_EQ(ip->PickNode(unknown, IPoint2{334, 240}), nullptr);
}

// The select-by-name dialog's owner, logging what it is given.
class NameDialog : public HitByNameDlgCallback {
public:
    std::vector<std::vector<INode*>> calls;
    std::string refuse;
    BOOL single = FALSE;
    const char* dialogTitle() override { return "Add Things"; }
    const char* buttonText() override { return "Add"; }
    BOOL singleSelect() override { return single; }
    int filter(INode* node) override { return refuse != node->GetName(); }
    void proc(INodeTab& tab) override {
        std::vector<INode*> v;
        for (int i = 0; i < tab.Count(); ++i)
            v.push_back(tab[i]);
        calls.push_back(v);
    }
};

TEST_F(SceneCoreTest, SelectByNameDrivenByAChooser) {
    INode* a = boxAt("a", 0, 0);
    INode* b = boxAt("b", 50, 0);
    INode* c = boxAt("c", 100, 0);
    INode* frozen = boxAt("frozen", 150, 0);
    frozen->Freeze(TRUE);
    NameDialog dlg;
    dlg.refuse = "b";

    EXPECT_FALSE(ip->DoHitByNameDialog(&dlg)); // no chooser: nobody confirms
    EXPECT_TRUE(dlg.calls.empty());

    ip->SetHitByNameChooser(ChooseNodesByName({"c", "b", "a", "frozen", "c"}));
    EXPECT_TRUE(ip->DoHitByNameDialog(&dlg));
    const HitByNameView& view = ip->LastHitByNameView();
    EXPECT_EQ(view.title, "Add Things");
    EXPECT_EQ(view.button, "Add");
    EXPECT_EQ(view.offered, (std::vector<INode*>{a, c})); // filtered and frozen left out
    ASSERT_EQ(dlg.calls.size(), 1u);
    EXPECT_EQ(dlg.calls[0], (std::vector<INode*>{c, a})); // chooser order, each once

    // A chooser cannot slip in a node the dialog did not list.
    ip->SetHitByNameChooser([b](const HitByNameView&, std::vector<INode*>& chosen) {
        chosen.push_back(b);
        return true;
    });
    EXPECT_TRUE(ip->DoHitByNameDialog(&dlg));
    EXPECT_TRUE(dlg.calls.back().empty());

    dlg.single = TRUE;
    ip->SetHitByNameChooser(ChooseNodesByName({"c", "a"}));
    ip->DoHitByNameDialog(&dlg);
    EXPECT_EQ(dlg.calls.back(), (std::vector<INode*>{c}));

    ip->SetHitByNameChooser([](const HitByNameView&, std::vector<INode*>&) { return false; });
    size_t before = dlg.calls.size();
    EXPECT_FALSE(ip->DoHitByNameDialog(&dlg)); // cancelled
    EXPECT_EQ(dlg.calls.size(), before);
    EXPECT_EQ(ip->HitByNameDialogCount(), 5);

    // Without a callback the dialog selects.
    ip->SetHitByNameChooser(ChooseNodesByName({"b", "frozen"}));
    EXPECT_TRUE(ip->DoHitByNameDialog(nullptr));
    EXPECT_EQ(ip->GetSelNodeCount(), 1);
    EXPECT_EQ(ip->GetSelNode(0), b);
}

TEST_F(SceneCoreTest, RedrawsAreCountedAndRecordTheScene) {
    INode* a = boxAt("a", 0, 0);
    a->SetWireColor(RGB(0, 255, 0));
    ip->RedrawViews(160, REDRAW_NORMAL);
    EXPECT_EQ(ip->RedrawCount(), 1);
    EXPECT_EQ(ip->LastRedrawTime(), 160);
    GraphicsWindow* gw = vp->getGW();
    EXPECT_EQ(gw->Segments().size(), 36u); // 12 faces, 3 edges each
    EXPECT_EQ(gw->Segments()[0].color, Point3(0, 1, 0));
    ip->SelectNode(a);
    ip->RedrawViews(0);
    EXPECT_EQ(gw->Segments()[0].color, GetUIColor(COLOR_SELECTION));
    a->Freeze(TRUE);
    ip->RedrawViews(0);
    EXPECT_EQ(gw->Segments()[0].color, GetUIColor(COLOR_FREEZE));
    a->Hide(TRUE);
    ip->SetTime(320);
    EXPECT_EQ(ip->GetTime(), 320);
    EXPECT_EQ(ip->RedrawCount(), 4);
    EXPECT_TRUE(gw->Segments().empty());
    ip->SetTime(480, FALSE);
    EXPECT_EQ(ip->RedrawCount(), 4);
}

// An object whose creation follows a two-point drag (its size is the drag length).
class DragObject : public GeomObject {
public:
    static int deleted;
    float size = -1.0f;
    ~DragObject() override { ++deleted; }
    class CB : public CreateMouseCallBack {
    public:
        DragObject* obj = nullptr;
        Point3 p0;
        int proc(ViewExp* vpt, int msg, int point, int, IPoint2 m, Matrix3& mat) override {
            IPoint2 out;
            Point3 p = vpt->SnapPoint(m, out, nullptr, SNAP_IN_PLANE);
            if (msg == MOUSE_ABORT)
                return CREATE_ABORT;
            if (msg == MOUSE_POINT && point == 0) {
                mat.SetTrans(p);
                p0 = p;
                return CREATE_CONTINUE;
            }
            if (msg == MOUSE_POINT && point == 1) {
                obj->size = (p - p0).Length();
                return obj->size < 0.001f ? CREATE_ABORT : CREATE_STOP;
            }
            return CREATE_CONTINUE;
        }
    } cb;
    CreateMouseCallBack* GetCreateMouseCallBack() override {
        cb.obj = this;
        return &cb;
    }
    const char* GetObjectName() override { return "Drag"; }
};
int DragObject::deleted = 0;

TEST_F(SceneCoreTest, CreationByDragPlacesTheNodeOrDeletesTheObject) {
    DragObject::deleted = 0;
    auto* obj = new DragObject();
    INode* n = ip->CreateObjectByDrag(obj, vp, IPoint2{340, 240}, IPoint2{340, 235});
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n->GetName(), "Drag001");
    EXPECT_EQ(obj->size, 5.0f);
    EXPECT_EQ(n->GetNodeTM(0).GetTrans(), Point3(20, 0, 0));
    EXPECT_EQ(n->GetObjectRef(), obj);

    EXPECT_EQ(ip->CreateObjectByDrag(new DragObject(), vp, IPoint2{340, 240}, IPoint2{340, 240}),
              nullptr);
    EXPECT_EQ(DragObject::deleted, 1);
    EXPECT_EQ(ip->GetScene().NumNodes(), 1);
}

TEST(SceneColours, UiColoursAndColourManager) {
    ResetCOREInterface();
    EXPECT_EQ(GetUIColor(COLOR_SELECTION), Point3(1, 1, 1));
    SetUIColor(COLOR_FREEZE, Point3(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(GetUIColor(COLOR_FREEZE), Point3(0.5f, 0.5f, 0.5f));
    COLORREF active = GetColorManager()->GetColor(kActiveCommand);
    EXPECT_NE(active, RGB(0, 0, 0));
    GetColorManager()->SetColor(kActiveCommand, RGB(1, 2, 3));
    EXPECT_EQ(GetColorManager()->GetColor(kActiveCommand), RGB(1, 2, 3));
    ResetCOREInterface();
    EXPECT_EQ(GetColorManager()->GetColor(kActiveCommand), active);
    EXPECT_EQ(GetUIColor(COLOR_FREEZE), Point3(0.55f, 0.55f, 0.55f));
    EXPECT_EQ(ColorRefToPoint3(RGB(255, 0, 51)), Point3(1.0f, 0.0f, 0.2f));
}

INT_PTR CALLBACK_quiet(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

TEST(SceneCustButton, StateBelongsToTheWindow) {
    static int moduleTag;
    HINSTANCE module = reinterpret_cast<HINSTANCE>(&moduleTag);
    DialogTemplate t;
    t.resourceId = 4242;
    t.cx = 100;
    t.cy = 40;
    t.controls.push_back(RcCustom("CustButton", "Pick", 1334, 7, 7, 28, 11));
    t.controls.push_back(RcPushButton("Add", 1001, 40, 7, 28, 11));
    RegisterDialogTemplate(module, t);
    HWND dlg = CreateDialogParamA(module, MAKEINTRESOURCEA(4242), nullptr, CALLBACK_quiet, 0);
    ASSERT_NE(dlg, nullptr);

    ICustButton* pick = GetICustButton(GetDlgItem(dlg, 1334));
    ASSERT_NE(pick, nullptr);
    EXPECT_TRUE(pick->IsEnabled());
    pick->Disable();
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, 1334)));
    pick->Enable();
    pick->SetCheck(TRUE); // a push button keeps no check
    EXPECT_FALSE(pick->IsChecked());
    pick->SetType(CBT_CHECK);
    pick->SetCheck(TRUE);
    pick->SetHighlightColor(GetColorManager()->GetColor(kActiveCommand));
    ReleaseICustButton(pick);

    pick = GetICustButton(GetDlgItem(dlg, 1334)); // a new interface, the same button
    EXPECT_TRUE(pick->IsChecked());
    EXPECT_EQ(pick->GetType(), CBT_CHECK);
    EXPECT_EQ(pick->GetHighlightColor(), GetColorManager()->GetColor(kActiveCommand));
    ReleaseICustButton(pick);
    EXPECT_TRUE(FindCustButtonState(GetDlgItem(dlg, 1334))->checked);

    EXPECT_EQ(GetICustButton(GetDlgItem(dlg, 1001)), nullptr); // a platform button
    EXPECT_EQ(GetICustButton(nullptr), nullptr);
    DestroyWindow(dlg);
    UnregisterModuleResources(module);
}

} // namespace
