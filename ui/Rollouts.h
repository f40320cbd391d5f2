// The rollouts' dialog procedures, installed on maps 0 to 3 each time an object's rollouts open.
#pragma once

#include "host/max_core.h"
#include "host/max_parammap.h"
#include "host/win.h"

namespace velquin {

class VelquinMetaball;

// Installs new dialog procedures bound to `obj`: map 0 the params procedure, map 2 the Particle
// Flow procedure, map 1 the nodes procedure, map 3 the texture procedure. Each hears its
// rollout's initialisation at once.
void installRolloutProcedures(VelquinMetaball* obj, ParamBlockDesc2* desc);

// The Node Parameters buttons: all three disabled while the command panel creates; otherwise
// "Add" and "Pick" enabled with the active-command highlight, "Pick" a check button, and
// "Remove" left as it is.
void updateNodeButtons(HWND window);

// Map 0: fills and selects the field-function and colour lists.
class VelquinMetaballParamsDlgProc : public ParamMap2UserDlgProc {
public:
    explicit VelquinMetaballParamsDlgProc(VelquinMetaball* obj) : obj_(obj) {}
    INT_PTR DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg, WPARAM wParam,
                    LPARAM lParam) override;
    void DeleteThis() override { delete this; }

private:
    VelquinMetaball* obj_;
};

// Map 1: the "Pick" and "Add" buttons of the node list.
class VelquinMetaballNodesDlgProc : public ParamMap2UserDlgProc {
public:
    explicit VelquinMetaballNodesDlgProc(VelquinMetaball* obj) : obj_(obj) {}
    INT_PTR DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg, WPARAM wParam,
                    LPARAM lParam) override;
    void DeleteThis() override { delete this; }

private:
    VelquinMetaball* obj_;
};

// Map 2: the "Add" button of the Particle Flow events.
class VelquinMetaballPFlowDlgProc : public ParamMap2UserDlgProc {
public:
    explicit VelquinMetaballPFlowDlgProc(VelquinMetaball* obj) : obj_(obj) {}
    INT_PTR DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg, WPARAM wParam,
                    LPARAM lParam) override;
    void DeleteThis() override { delete this; }

private:
    VelquinMetaball* obj_;
};

// Map 3: fills and selects the texture-type list.
class VelquinMetaballTextureDlgProc : public ParamMap2UserDlgProc {
public:
    explicit VelquinMetaballTextureDlgProc(VelquinMetaball* obj) : obj_(obj) {}
    INT_PTR DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg, WPARAM wParam,
                    LPARAM lParam) override;
    void DeleteThis() override { delete this; }

private:
    VelquinMetaball* obj_;
};

} // namespace velquin
