#include "ui/Rollouts.h"

#include "object/Module.h"
#include "object/ParamBlock.h"
#include "object/ParamIds.h"
#include "object/VelquinMetaball.h"
#include "ui/Nodes.h"
#include "ui/Resources.h"
#include "ui/SelectByName.h"

namespace velquin {

namespace {

// Fills a drop-down list from string-table entries. A missing string still takes its line, so
// that line i always stands for stored value i.
void fillList(HWND window, int id, std::span<const int> entries) {
    SendDlgItemMessage(window, id, CB_RESETCONTENT, 0, 0);
    for (int s : entries) {
        const char* text = getString(s);
        SendDlgItemMessage(window, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text ? text : ""));
    }
}

void selectValue(HWND window, int id, VelquinMetaball* obj, ParamID param, TimeValue t) {
    if (!obj || !obj->pblock)
        return;
    int v = obj->pblock->GetInt(param, t);
    SendDlgItemMessage(window, id, CB_SETCURSEL, static_cast<WPARAM>(static_cast<std::intptr_t>(v)),
                       0);
}

bool clicked(UINT msg, WPARAM wParam, int id) {
    return msg == WM_COMMAND && LOWORD(wParam) == id && HIWORD(wParam) == BN_CLICKED;
}

bool creating() {
    return GetCOREInterface()->GetCommandPanelTaskMode() == TASK_MODE_CREATE;
}

} // namespace

void updateNodeButtons(HWND window) {
    ICustButton* add = GetICustButton(GetDlgItem(window, IDC_ADD_NODES));
    ICustButton* pick = GetICustButton(GetDlgItem(window, IDC_PICK));
    ICustButton* remove = GetICustButton(GetDlgItem(window, IDC_REMOVE_NODE));
    if (creating()) {
        // The object does not exist as a node yet: nothing may be added or removed.
        for (ICustButton* b : {add, pick, remove})
            if (b)
                b->Disable();
    } else {
        COLORREF highlight = GetColorManager()->GetColor(kActiveCommand);
        if (add) {
            add->Enable();
            add->SetHighlightColor(highlight);
        }
        if (pick) {
            pick->Enable();
            pick->SetType(CBT_CHECK);
            pick->SetHighlightColor(highlight);
        }
    }
    for (ICustButton* b : {add, pick, remove})
        if (b)
            ReleaseICustButton(b);
}

INT_PTR VelquinMetaballParamsDlgProc::DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg,
                                              WPARAM wParam, LPARAM lParam) {
    (void)map, (void)wParam, (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        fillList(hWnd, pbctrl::kFieldFunctionCombo, kFieldFunctionEntries);
        fillList(hWnd, pbctrl::kColorCombo, kColorEntries);
        [[fallthrough]];
    case WM_SHOWWINDOW:
        selectValue(hWnd, pbctrl::kFieldFunctionCombo, obj_, pb_fieldFunction, t);
        selectValue(hWnd, pbctrl::kColorCombo, obj_, pb_color, t);
        break;
    default:
        break;
    }
    return 0;
}

INT_PTR VelquinMetaballTextureDlgProc::DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg,
                                               WPARAM wParam, LPARAM lParam) {
    (void)map, (void)wParam, (void)lParam;
    switch (msg) {
    case WM_INITDIALOG:
        fillList(hWnd, pbctrl::kTextureTypeCombo, kTextureTypeEntries);
        [[fallthrough]];
    case WM_SHOWWINDOW:
        selectValue(hWnd, pbctrl::kTextureTypeCombo, obj_, pb_textureType, t);
        break;
    default:
        break;
    }
    return 0;
}

INT_PTR VelquinMetaballNodesDlgProc::DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg,
                                             WPARAM wParam, LPARAM lParam) {
    (void)t, (void)map, (void)lParam;
    if (!obj_)
        return 0;
    if (msg == WM_INITDIALOG) {
        obj_->nodesRolloutWindow = hWnd;
        updateNodeButtons(hWnd);
    } else if (msg == WM_DESTROY) {
        // The window goes with the rollout; a handle kept beyond it could name another window.
        if (obj_->nodesRolloutWindow == hWnd)
            obj_->nodesRolloutWindow = nullptr;
    } else if (clicked(msg, wParam, IDC_ADD_NODES)) {
        DumpHitDialog dialog(obj_);
        GetCOREInterface()->DoHitByNameDialog(&dialog);
    } else if (clicked(msg, wParam, IDC_PICK)) {
        togglePickMode(obj_, hWnd);
        if (ICustButton* pick = GetICustButton(GetDlgItem(hWnd, IDC_PICK))) {
            pick->SetType(CBT_CHECK);
            pick->SetCheck(obj_->pickingActive ? TRUE : FALSE);
            ReleaseICustButton(pick);
        }
    }
    return 0;
}

INT_PTR VelquinMetaballPFlowDlgProc::DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg,
                                             WPARAM wParam, LPARAM lParam) {
    (void)t, (void)map, (void)lParam;
    if (!obj_)
        return 0;
    if (msg == WM_INITDIALOG) {
        obj_->flowRolloutWindow = hWnd;
        if (creating())
            EnableWindow(GetDlgItem(hWnd, IDC_ADD_EVENTS), FALSE);
    } else if (msg == WM_DESTROY) {
        if (obj_->flowRolloutWindow == hWnd)
            obj_->flowRolloutWindow = nullptr;
    } else if (clicked(msg, wParam, IDC_ADD_EVENTS)) {
        addParticleFlowEvents(obj_, hWnd);
    }
    return 0;
}

void installRolloutProcedures(VelquinMetaball* obj, ParamBlockDesc2* desc) {
    if (!obj || !desc)
        return;
    SetParamMapUserDlgProc(desc, GeneralRollout, new VelquinMetaballParamsDlgProc(obj));
    SetParamMapUserDlgProc(desc, FlowRollout, new VelquinMetaballPFlowDlgProc(obj));
    SetParamMapUserDlgProc(desc, NodesRollout, new VelquinMetaballNodesDlgProc(obj));
    SetParamMapUserDlgProc(desc, TextureRollout, new VelquinMetaballTextureDlgProc(obj));
}

} // namespace velquin
