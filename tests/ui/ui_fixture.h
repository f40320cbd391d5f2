// A fresh host with the module's resources registered and helpers that reach the rollouts of an
// edited VelquinMetaball object as a user would.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/max_core.h"
#include "host/max_parammap.h"
#include "host/max_scene.h"
#include "host/win.h"
#include "object/Module.h"
#include "object/ModuleEntry.h"
#include "object/ParamIds.h"
#include "object/VelquinMetaball.h"
#include "ui/Resources.h"

namespace uitest {

inline HINSTANCE testInstance() {
    static char tag;
    return reinterpret_cast<HINSTANCE>(&tag);
}

class UiFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCOREInterface();
        theHold.ClearUndoStack();
        macroRecorder->Clear();
        SetModalDialogDriver({});
        velquin::moduleEntry(testInstance(), 1, nullptr);
        velquin::registerUiResources(testInstance());
        core = GetCOREInterface();
        windowsBefore = LiveWindowCount();
    }
    void TearDown() override {
        endEditing();
        SetModalDialogDriver({});
        core->ClearPickMode();
        core->SetHitByNameChooser({});
        theHold.ClearUndoStack();
        ResetCOREInterface();
    }

    velquin::VelquinMetaball* newObject(const char* name = "Blob") {
        auto* o = static_cast<velquin::VelquinMetaball*>(
            static_cast<GeomObject*>(velquin::GetVelquinMetaballDesc()->Create(FALSE)));
        objNode = core->GetScene().CreateNode(o, name);
        return o;
    }
    INode* newSphere(const char* name, const Point3& at = Point3(0.0f, 0.0f, 0.0f)) {
        INode* n = core->GetScene().CreateNode(new SphereObject(), name);
        n->SetNodeTMConstant(TransMatrix(at));
        return n;
    }

    void beginEditing(ULONG flags = 0) {
        obj->BeginEditParams(GetCOREObjParam(), flags, nullptr);
        editing = true;
    }
    void endEditing() {
        if (editing)
            obj->EndEditParams(GetCOREObjParam(), END_EDIT_REMOVEUI, nullptr);
        editing = false;
    }

    HWND rollout(MapID id) {
        IParamMap2* m = FindParamMap(velquin::GetVelquinMetaballParamDesc(), id);
        return m ? m->GetHWnd() : nullptr;
    }
    IParamBlock2* pb() { return obj->pblock; }

    static std::vector<std::string> items(HWND dialog, int id, bool combo) {
        std::vector<std::string> out;
        LRESULT n = SendDlgItemMessage(dialog, id, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < n; ++i) {
            char buf[256] = "";
            SendDlgItemMessage(dialog, id, combo ? CB_GETLBTEXT : LB_GETTEXT,
                               static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
            out.emplace_back(buf);
        }
        return out;
    }
    static std::string text(HWND dialog, int id) {
        char buf[256] = "";
        GetDlgItemText(dialog, id, buf, sizeof buf);
        return buf;
    }
    static bool checked(HWND dialog, int id) {
        const CustButtonState* s = FindCustButtonState(GetDlgItem(dialog, id));
        return s && s->checked;
    }
    // The screen point of a world position in the active viewport.
    IPoint2 screenOf(const Point3& p) {
        Point3 s;
        core->GetActiveViewport()->Project(p, s);
        return IPoint2{static_cast<int>(s.x), static_cast<int>(s.y)};
    }

    Interface* core = nullptr;
    velquin::VelquinMetaball* obj = nullptr;
    INode* objNode = nullptr;
    bool editing = false;
    int windowsBefore = 0;
};

} // namespace uitest
