// Identifiers of the object's parameter block: the parameter IDs and script names are the file
// format of saved scenes and the names scripts use, so they never change.
#pragma once

namespace velquin {

// The one parameter block of a VelquinMetaball object.
inline constexpr int kParamBlockId = 0;
inline constexpr int kParamBlockRef = 0; // the block is the object's reference 0

enum ParamId : int {
    pb_icon = 0,
    pb_nodes = 1,
    pb_metaballs = 2,
    pb_pflow = 3,
    pb_allPflow = 4,
    pb_radius = 5,
    pb_threshold = 6,
    pb_step = 7,
    pb_error = 8,
    pb_fieldFunction = 9,
    pb_useAverage = 10,
    pb_cutoff = 11,
    pb_trim = 12,
    pb_depth = 13,
    pb_leafLength = 14,
    pb_leafSize = 15,
    pb_texmap = 16,
    pb_mbSamples = 17,
    pb_useScale = 18,
    pb_useTexture = 19,
    pb_textureStr = 20,
    pb_textureType = 21,
    pb_useClamp = 22,
    pb_clampTo = 23,
    pb_metaballSizes = 24,
    pb_velocityThreshold = 25,
    pb_color = 26,
    pb_colors = 27,
};

// Rollouts (parameter maps), by map ID.
enum MapId : int {
    GeneralRollout = 0,
    NodesRollout = 1,
    FlowRollout = 2,
    TextureRollout = 3,
    AboutRollout = 4,
};

// Dialog resources of the rollouts and of the events dialog.
inline constexpr int IDD_FLOW_ROLLOUT = 102;
inline constexpr int IDD_GENERAL_ROLLOUT = 103;
inline constexpr int IDD_ADD_EVENTS = 209;
inline constexpr int IDD_NODES_ROLLOUT = 210;
inline constexpr int IDD_ABOUT_ROLLOUT = 211;
inline constexpr int IDD_TEXTURE_ROLLOUT = 212;

// String-table entries of the module.
enum StringId : int {
    IDS_GENERAL_PARAMETERS = 4,
    IDS_TEXMAP = 5,
    IDS_SIZE = 6,
    IDS_MB_SAMPLES = 7,
    IDS_USE_SCALE = 11,
    IDS_TEXTURE_PARAMETERS = 12,
    IDS_USE_TEXTURE = 13,
    IDS_TEXTURE_TYPE = 14,
    IDS_FLOW_PARAMETERS = 15,
    IDS_USE_ALL_PF_EVENTS = 16,
    IDS_PF_EVENT_LIST = 17,
    IDS_ADD_EVENTS = 18,
    IDS_ADD_BLOBS = 20,
    IDS_REMOVE_NODE = 21,
    IDS_USE_CLAMP = 23,
    IDS_TEXTURE_STRENGTH = 24,
    IDS_NODES = 25,
    IDS_ICON_SIZE = 26,
    IDS_THRESHOLD = 27,
    IDS_STEP_LENGTH = 28,
    IDS_MAX_ERROR = 29,
    IDS_FIELD_FUNCTION = 30,
    IDS_USE_AVERAGE = 31,
    IDS_CUTOFF = 32,
    IDS_TRIM = 33,
    IDS_TREE_DEPTH = 34,
    IDS_LEAF_LENGTH = 35,
    IDS_LEAF_SIZE = 36,
    IDS_NODE_PARAMETERS = 37,
    IDS_VELOCITY_THRESHOLD = 38,
    IDS_NONE = 39,
    IDS_WYVILL = 40,
    IDS_SAME_AS_SURFACE = 41,
    IDS_CLAMP_TO = 42,
    IDS_MULTIPLY = 43,
    IDS_SUBTRACT = 44,
    IDS_POWER_OF_TWO = 45,
    IDS_HERMIT_POWER_OF_TWO = 46,
    IDS_HERMIT_POWER_OF_FOUR = 47,
    IDS_POWER_OF_THREE = 106,
    IDS_POWER_OF_FOUR = 107,
    IDS_POWER_OF_FIVE = 108,
    IDS_ABOUT = 109,
};

} // namespace velquin
