// A fresh host for the object tests: core interface, undo stack, macro recorder and the module's
// string table under a stand-in instance handle.
#pragma once

#include <gtest/gtest.h>

#include "host/max_core.h"
#include "host/max_scene.h"
#include "host/win.h"
#include "object/Module.h"
#include "object/ModuleEntry.h"
#include "object/ParamIds.h"
#include "object/VelquinMetaball.h"

namespace objtest {

// Any non-null handle names a module for the window system.
inline HINSTANCE testInstance() {
    static char tag;
    return reinterpret_cast<HINSTANCE>(&tag);
}

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetCOREInterface();
        theHold.ClearUndoStack();
        macroRecorder->Clear();
        velquin::moduleEntry(testInstance(), 1, nullptr);
        core = GetCOREInterface();
    }
    void TearDown() override {
        core->ClearPickMode();
        theHold.ClearUndoStack();
        ResetCOREInterface();
    }

    // A new object placed in the scene by a node (the scene owns both).
    velquin::VelquinMetaball* newObject(INode** node = nullptr, const char* name = "Blob") {
        auto* obj = static_cast<velquin::VelquinMetaball*>(
            static_cast<GeomObject*>(velquin::GetVelquinMetaballDesc()->Create(FALSE)));
        INode* n = core->GetScene().CreateNode(obj, name);
        if (node)
            *node = n;
        return obj;
    }
    INode* newSphere(const char* name) {
        return core->GetScene().CreateNode(new SphereObject(), name);
    }

    Interface* core = nullptr;
};

} // namespace objtest
