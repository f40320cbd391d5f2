// The "VelquinMetaballOps" functions as the object implements them, and the mixin's dispatch.
#include "object/IVelquinMetaball.h"
#include "object/Module.h"
#include "object/ParamIds.h"
#include "object/VelquinMetaball.h"
#include "ui/Nodes.h"
#include "ui/Resources.h"
#include "ui/SelectByName.h"

namespace velquin {

// ---- mixin ----

FPInterfaceDesc* IVelquinMetaball::GetDesc() {
    return GetVelquinMetaballOpsDesc();
}

FPStatus IVelquinMetaball::_dispatch_fn(FunctionID fid, TimeValue t, FPValue& result, FPParams* p) {
    (void)t;
    result = FPValue(); // every function is void
    if (fid >= fn_addMetaball && fid <= fn_removePFMetaball) {
        // A call by ID skips the argument check of a call by name: refuse a missing argument
        // and a reference that is not a scene node rather than treat it as one.
        if (!p || p->Count() < 1)
            return FPS_FAIL;
        ReferenceTarget* r = (*p)[0].r;
        INode* node = dynamic_cast<INode*>(r);
        if (r && !node)
            return FPS_FAIL;
        switch (fid) {
        case fn_addMetaball:
            addMetaball(node);
            break;
        case fn_removeMetaball:
            removeMetaball(node);
            break;
        case fn_addPFMetaball:
            addPFMetaball(node);
            break;
        default:
            removePFMetaball(node);
            break;
        }
        return FPS_OK;
    }
    switch (fid) {
    case fn_pick:
        pick();
        return FPS_OK;
    case fn_add:
        add();
        return FPS_OK;
    case fn_addPF:
        addPF();
        return FPS_OK;
    default:
        return FPS_NO_SUCH_FUNCTION;
    }
}

// ---- list helpers ----

bool VelquinMetaball::listContains(ParamID id, INode* node) {
    if (!pblock)
        return false;
    int n = pblock->Count(id);
    for (int i = 0; i < n; ++i)
        if (pblock->GetINode(id, 0, i) == node)
            return true;
    return false;
}

bool VelquinMetaball::dependsOnObject(INode* node) {
    if (!node)
        return false;
    node->ClearAFlag(A_DEPENDENCY_TEST);
    NotifyDependents(FOREVER, 0, REFMSG_TEST_DEPENDENCY, NOTIFY_ALL, TRUE);
    return node->TestAFlag(A_DEPENDENCY_TEST);
}

bool VelquinMetaball::acceptsNode(INode* node) {
    return node && !listContains(pb_nodes, node) && !dependsOnObject(node);
}

void VelquinMetaball::notifyListChanged() {
    NotifyDependents(FOREVER, PART_GEOM, REFMSG_CHANGE);
    Interface* core = GetCOREInterface();
    core->RedrawViews(core->GetTime(), REDRAW_NORMAL);
}

void VelquinMetaball::appendTo(ParamID id, INode* node) {
    if (!node || !pblock || listContains(id, node) || dependsOnObject(node))
        return; // refused silently: no undo entry, no notification
    theHold.Begin();
    pblock->Append(id, 1, &node);
    theHold.Accept(getString(IDS_ADD_BLOBS));
    notifyListChanged();
}

void VelquinMetaball::removeFrom(ParamID id, INode* node) {
    if (!node || !pblock)
        return;
    int n = pblock->Count(id);
    for (int i = 0; i < n; ++i) {
        if (pblock->GetINode(id, 0, i) != node)
            continue;
        theHold.Begin();
        pblock->Delete(id, i, 1);
        theHold.Accept(getString(IDS_REMOVE_NODE));
        notifyListChanged();
        return;
    }
}

// ---- published functions ----

void VelquinMetaball::addMetaball(INode* node) {
    appendTo(pb_nodes, node);
}

void VelquinMetaball::removeMetaball(INode* node) {
    removeFrom(pb_nodes, node);
}

void VelquinMetaball::addPFMetaball(INode* node) {
    appendTo(pb_pflow, node);
}

void VelquinMetaball::removePFMetaball(INode* node) {
    removeFrom(pb_pflow, node);
}

void VelquinMetaball::pick() {
    togglePickMode(this, nodesRolloutWindow);
    if (!nodesRolloutWindow)
        return;
    if (ICustButton* button = GetICustButton(GetDlgItem(nodesRolloutWindow, IDC_PICK))) {
        button->SetType(CBT_CHECK);
        button->SetCheck(pickingActive ? TRUE : FALSE);
        ReleaseICustButton(button);
    }
}

void VelquinMetaball::add() {
    DumpHitDialog dialog(this);
    GetCOREInterface()->DoHitByNameDialog(&dialog);
}

void VelquinMetaball::addPF() {
    addParticleFlowEvents(this, flowRolloutWindow);
}

} // namespace velquin
