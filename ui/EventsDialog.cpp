// The "Add Particle Flow Events" dialog: offers the events of the Particle Flow systems that
// stand in "nodes" and appends the chosen ones to "pflow".
#include <vector>

#include "object/Module.h"
#include "object/ParamIds.h"
#include "object/VelquinMetaball.h"
#include "ui/Nodes.h"
#include "ui/Resources.h"

namespace velquin {

namespace {

constexpr int kTabReserve = 500;

void cancelEvents(HWND hWnd, VelquinMetaball* obj) {
    if (obj)
        obj->flowEventCandidates.ZeroCount();
    EndDialog(hWnd, 0);
}

INT_PTR addEventsDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* obj = reinterpret_cast<VelquinMetaball*>(GetWindowLongPtr(hWnd, GWLP_USERDATA));
    switch (msg) {
    case WM_INITDIALOG:
        obj = reinterpret_cast<VelquinMetaball*>(lParam);
        SetWindowLongPtr(hWnd, GWLP_USERDATA, lParam);
        if (obj)
            for (INode* node : obj->flowEventCandidates)
                SendDlgItemMessage(hWnd, IDC_EVENT_LIST, LB_ADDSTRING, 0,
                                   reinterpret_cast<LPARAM>(node ? node->GetName() : ""));
        return TRUE;
    case WM_CLOSE:
        cancelEvents(hWnd, obj);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            LRESULT n = SendDlgItemMessage(hWnd, IDC_EVENT_LIST, LB_GETSELCOUNT, 0, 0);
            if (obj && n > 0) {
                std::vector<int> lines(static_cast<size_t>(n));
                LRESULT got =
                    SendDlgItemMessage(hWnd, IDC_EVENT_LIST, LB_GETSELITEMS, static_cast<WPARAM>(n),
                                       reinterpret_cast<LPARAM>(lines.data()));
                for (LRESULT k = 0; k < got; ++k)
                    obj->flowEventSelection.Append(1, &lines[static_cast<size_t>(k)], kTabReserve);
            }
            EndDialog(hWnd, 1);
            return TRUE;
        }
        case IDCANCEL:
            cancelEvents(hWnd, obj);
            return TRUE;
        default:
            return TRUE; // the list's own notifications need no answer
        }
    default:
        return FALSE;
    }
}

} // namespace

int MyEnumProc::proc(ReferenceMaker* rmaker) {
    if (rmaker && rmaker->SuperClassID() == BASENODE_CLASS_ID)
        if (auto* node = dynamic_cast<INode*>(rmaker)) {
            nodes.Append(1, &node, kTabReserve);
            if (stopAfterFirst)
                return DEP_ENUM_HALT;
        }
    return DEP_ENUM_CONTINUE;
}

void addParticleFlowEvents(VelquinMetaball* obj, HWND parent) {
    if (!obj)
        return;
    obj->flowEventCandidates.ZeroCount();
    obj->flowEventSelection.ZeroCount();
    IParamBlock2* pb = obj->pblock;
    if (!pb)
        return;

    TimeValue t = GetCOREInterface()->GetTime();
    int count = pb->Count(pb_nodes);
    for (int i = 0; i < count; ++i) {
        INode* node = pb->GetINode(pb_nodes, t, i);
        if (!node)
            continue;
        Object* system = node->EvalWorldState(t).obj;
        if (!system || !system->IsParticleSystem() ||
            !system->GetInterface(PARTICLEOBJECTEXT_INTERFACE))
            continue;
        // An event is a particle-group node among the system's dependents.
        MyEnumProc dependents;
        system->DoEnumDependents(&dependents);
        for (INode* candidate : dependents.nodes) {
            Object* ref = candidate->GetObjectRef();
            if (ref && ref->GetInterface(PARTICLEGROUP_INTERFACE))
                obj->flowEventCandidates.Append(1, &candidate, kTabReserve);
        }
    }
    if (obj->flowEventCandidates.Count() == 0)
        return;

    INT_PTR closed = DialogBoxParam(moduleInstance(), MAKEINTRESOURCE(IDD_ADD_EVENTS), parent,
                                    addEventsDlgProc, reinterpret_cast<LPARAM>(obj));
    if (closed != 1 || obj->flowEventSelection.Count() == 0)
        return;
    // Events may stand in "pflow" more than once: the list is appended as chosen.
    theHold.Begin();
    for (int index : obj->flowEventSelection)
        if (index >= 0 && index < obj->flowEventCandidates.Count()) {
            INode* event = obj->flowEventCandidates[index];
            pb->Append(pb_pflow, 1, &event);
        }
    theHold.Accept(getString(IDS_ADD_EVENTS));
}

} // namespace velquin
