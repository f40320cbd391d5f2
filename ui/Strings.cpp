#include "ui/Strings.h"

#include "object/ParamIds.h"

namespace velquin {

const std::map<UINT, std::string>& moduleStrings() {
    static const std::map<UINT, std::string> table = {
        // rollout titles
        {IDS_GENERAL_PARAMETERS, "General Parameters"},
        {IDS_TEXTURE_PARAMETERS, "Texture Parameters"},
        {IDS_NODE_PARAMETERS, "Node Parameters"},
        {IDS_FLOW_PARAMETERS, "Particle Flow Parameters"},
        {IDS_ABOUT, "About"},
        // undo texts (20 is also the select-by-name dialog's title and button)
        {IDS_ADD_EVENTS, "Add Events"},
        {IDS_ADD_BLOBS, "Add Blobs"},
        {IDS_REMOVE_NODE, "Remove Node"},
        // list entries
        {IDS_NONE, "None"},
        {IDS_WYVILL, "Wyvill"},
        {IDS_SAME_AS_SURFACE, "Same as the surface"},
        {IDS_MULTIPLY, "Multiply"},
        {IDS_SUBTRACT, "Subtract"},
        {IDS_POWER_OF_TWO, "Power of two"},
        {IDS_HERMIT_POWER_OF_TWO, "Hermit in power of two"},
        {IDS_HERMIT_POWER_OF_FOUR, "Hermit in power of four"},
        {IDS_POWER_OF_THREE, "Power of three"},
        {IDS_POWER_OF_FOUR, "Power of four"},
        {IDS_POWER_OF_FIVE, "Power of five"},
        // display names of the parameters
        {IDS_NODES, "Nodes"},
        {IDS_USE_ALL_PF_EVENTS, "Use All PF Events"},
        {IDS_PF_EVENT_LIST, "PF Event List"},
        {IDS_ICON_SIZE, "Icon size"},
        {IDS_SIZE, "Size"},
        {IDS_THRESHOLD, "Threshold"},
        {IDS_STEP_LENGTH, "Step length"},
        {IDS_MAX_ERROR, "Max error"},
        {IDS_FIELD_FUNCTION, "Field function"},
        {IDS_USE_AVERAGE, "Use average distance"},
        {IDS_CUTOFF, "Cutoff"},
        {IDS_TRIM, "Trim"},
        {IDS_TREE_DEPTH, "Tree depth"},
        {IDS_LEAF_LENGTH, "Leaf length"},
        {IDS_LEAF_SIZE, "Leaf size"},
        {IDS_TEXMAP, "Texmap"},
        {IDS_MB_SAMPLES, "Motion blur samples"},
        {IDS_USE_SCALE, "Use scale"},
        {IDS_USE_TEXTURE, "Use Texture"},
        {IDS_TEXTURE_TYPE, "Texture type"},
        {IDS_USE_CLAMP, "Use Clamp"},
        {IDS_TEXTURE_STRENGTH, "Texture Strength"},
        {IDS_CLAMP_TO, "Clamp To"},
        {IDS_VELOCITY_THRESHOLD, "Velocity Threshold"},
    };
    return table;
}

void registerModuleStrings(HINSTANCE instance) {
    if (instance)
        RegisterStringTable(instance, moduleStrings());
}

} // namespace velquin
