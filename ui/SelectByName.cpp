#include "ui/SelectByName.h"

#include "object/Module.h"
#include "object/ParamIds.h"
#include "object/VelquinMetaball.h"
#include "ui/Nodes.h"

namespace velquin {

const char* DumpHitDialog::dialogTitle() {
    return getString(IDS_ADD_BLOBS);
}

const char* DumpHitDialog::buttonText() {
    return getString(IDS_ADD_BLOBS);
}

int DumpHitDialog::filter(INode* node) {
    return obj_ && obj_->acceptsNode(node) ? TRUE : FALSE;
}

void DumpHitDialog::proc(INodeTab& nodeTab) {
    if (!obj_ || !obj_->pblock || nodeTab.Count() == 0)
        return;
    theHold.Begin();
    for (int i = 0; i < nodeTab.Count(); ++i) {
        INode* node = nodeTab[i];
        obj_->pblock->Append(pb_nodes, 1, &node);
        recordAddedNode(node);
    }
    theHold.Accept(getString(IDS_ADD_BLOBS));
    obj_->notifyListChanged();
}

void recordAddedNode(INode* node) {
    if (macroRecorder && node)
        macroRecorder->FunctionCall("$.VelquinMetaballOps.addMetaball", 1, 0, mr_reftarg, node);
}

} // namespace velquin
