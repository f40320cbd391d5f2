// The host's select-by-name dialog used to add metaball nodes ("Add Blobs").
#pragma once

#include "host/max_core.h"
#include "host/max_scene.h"

namespace velquin {

class VelquinMetaball;

class DumpHitDialog : public HitByNameDlgCallback {
public:
    explicit DumpHitDialog(VelquinMetaball* obj) : obj_(obj) {}
    const char* dialogTitle() override;
    const char* buttonText() override;
    BOOL singleSelect() override { return FALSE; }
    BOOL useFilter() override { return TRUE; }
    int filter(INode* node) override;
    BOOL useProc() override { return TRUE; }
    // Appends every chosen node to "nodes" under one undo entry.
    void proc(INodeTab& nodeTab) override;
    BOOL doCustomHilite() override { return FALSE; }
    BOOL doHilite(INode* node) override {
        (void)node;
        return FALSE;
    }
    BOOL showHiddenAndFrozen() override { return FALSE; }

private:
    VelquinMetaball* obj_;
};

} // namespace velquin
