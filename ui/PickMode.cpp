// The viewport pick mode that adds metaball nodes: several nodes may be picked in a row; a right
// click, a second toggle or the end of editing ends it.
#include "object/Module.h"
#include "object/ParamIds.h"
#include "object/VelquinMetaball.h"
#include "ui/Nodes.h"

namespace velquin {

namespace {

constexpr int kPickButton = 1334;

class PickControlNode : public PickModeCallback, public PickNodeCallback {
public:
    VelquinMetaball* obj = nullptr;
    HWND window = nullptr;

    BOOL HitTest(IObjParam* ip, HWND hWnd, ViewExp* vpt, IPoint2 m, int flags) override {
        (void)vpt, (void)flags;
        return ip && ip->PickNode(hWnd, m, this) ? TRUE : FALSE;
    }
    BOOL Filter(INode* node) override { return obj && obj->acceptsNode(node) ? TRUE : FALSE; }
    BOOL Pick(IObjParam* ip, ViewExp* vpt) override {
        (void)ip;
        HitRecord* hit = vpt ? vpt->GetClosestHit() : nullptr;
        if (!hit || !hit->nodeRef || !obj || !obj->pblock)
            return FALSE;
        INode* node = hit->nodeRef;
        theHold.Begin();
        obj->pblock->Append(pb_nodes, 1, &node);
        theHold.Accept(getString(IDS_ADD_BLOBS));
        obj->notifyListChanged();
        recordAddedNode(node);
        return FALSE; // stay in the mode: nodes are often picked in a row
    }
    BOOL RightClick(IObjParam* ip, ViewExp* vpt) override {
        (void)ip, (void)vpt;
        return TRUE;
    }
    void EnterMode(IObjParam* ip) override { (void)ip; }
    void ExitMode(IObjParam* ip) override {
        (void)ip;
        if (window)
            if (ICustButton* button = GetICustButton(GetDlgItem(window, kPickButton))) {
                button->SetCheck(FALSE);
                ReleaseICustButton(button);
            }
        if (obj)
            obj->pickingActive = 0;
    }
    HCURSOR GetDefCursor(IObjParam* ip) override {
        (void)ip;
        static HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
        return arrow;
    }
    HCURSOR GetHitCursor(IObjParam* ip) override {
        (void)ip;
        static HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
        return cross;
    }
    PickNodeCallback* GetFilter() override { return this; }
    BOOL AllowMultiSelect() override { return FALSE; }
};

PickControlNode thePickMode;

} // namespace

void togglePickMode(VelquinMetaball* obj, HWND nodesWindow) {
    if (!obj)
        return;
    Interface* core = GetCOREInterface();
    if (obj->pickingActive) {
        obj->pickingActive = 0;
        core->ClearPickMode();
        return;
    }
    if (!editingInterface)
        return;
    // A mode still running for another object must end (and uncheck its button) before the
    // mode is pointed at this one, or its exit would clear this object's flag.
    if (core->GetCurPickMode() == &thePickMode)
        core->ClearPickMode();
    thePickMode.window = nodesWindow;
    obj->pickingActive = 1;
    thePickMode.obj = obj;
    editingInterface->SetPickMode(&thePickMode);
}

} // namespace velquin
