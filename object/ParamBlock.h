// The parameter block of a VelquinMetaball object: its five rollouts, its 28 parameters with
// their defaults, ranges and rollout bindings, and the entries of its three drop-down lists.
// Everything that describes the block lives here, so the descriptor, the rollouts and the
// command-line listing cannot drift apart.
#pragma once

#include <span>

#include "host/max_core.h"
#include "object/ParamIds.h"

namespace velquin {

// Block descriptor flags: automatic construction, automatic user interface, several rollouts.
inline constexpr int kParamBlockFlags = P_AUTO_CONSTRUCT | P_AUTO_UI | P_MULTIMAP; // 0x26
// Tables may be resized by scripts and start without default entries.
inline constexpr int kTableFlags = P_VARIABLE_SIZE | P_NO_INIT; // 0x1004

// Control IDs of the rollout dialogs that the block binds. IDs repeat between dialogs; a
// binding always refers to the dialog of its own rollout.
namespace pbctrl {
// General rollout (dialog 103).
inline constexpr int kIconEdit = 1034, kIconSpin = 1035;
inline constexpr int kRadiusEdit = 1012, kRadiusSpin = 1013;
inline constexpr int kThresholdEdit = 1014, kThresholdSpin = 1015;
inline constexpr int kStepEdit = 1016, kStepSpin = 1017;
inline constexpr int kErrorEdit = 1018, kErrorSpin = 1019;
inline constexpr int kFieldFunctionCombo = 1002;
inline constexpr int kUseAverageCheck = 1123;
inline constexpr int kCutoffEdit = 1020, kCutoffSpin = 1021;
inline constexpr int kTrimEdit = 1022, kTrimSpin = 1023;
inline constexpr int kDepthEdit = 1028, kDepthSpin = 1029;
inline constexpr int kLeafLengthEdit = 1030, kLeafLengthSpin = 1031;
inline constexpr int kLeafSizeEdit = 1032, kLeafSizeSpin = 1033;
inline constexpr int kMbSamplesEdit = 1037, kMbSamplesSpin = 1038;
inline constexpr int kUseScaleCheck = 1124;
inline constexpr int kVelocityThresholdEdit = 1036, kVelocityThresholdSpin = 1039;
inline constexpr int kColorCombo = 1003;
// Node rollout (dialog 210).
inline constexpr int kNodeList = 1336, kNodeDelete = 1333;
// Particle-flow rollout (dialog 102).
inline constexpr int kAllPflowCheck = 1002;
inline constexpr int kPflowList = 1003, kPflowDelete = 1004;
// Texture rollout (dialog 212).
inline constexpr int kTexmapButton = 1036;
inline constexpr int kUseTextureCheck = 1003;
inline constexpr int kTextureTypeCombo = 1004;
inline constexpr int kUseClampCheck = 1125;
inline constexpr int kTextureStrEdit = 1041, kTextureStrSpin = 1042;
inline constexpr int kClampToEdit = 1039, kClampToSpin = 1040;
} // namespace pbctrl

// String-table entries of the drop-down lists, in entry order (the stored value is the index).
inline constexpr int kFieldFunctionEntries[] = {
    IDS_POWER_OF_TWO,        IDS_POWER_OF_THREE,       IDS_POWER_OF_FOUR, IDS_POWER_OF_FIVE,
    IDS_HERMIT_POWER_OF_TWO, IDS_HERMIT_POWER_OF_FOUR, IDS_WYVILL};
// The colour list is "None", "Same as the surface", then the seven kernels shifted by two.
inline constexpr int kColorEntries[] = {
    IDS_NONE,          IDS_SAME_AS_SURFACE, IDS_POWER_OF_TWO,        IDS_POWER_OF_THREE,
    IDS_POWER_OF_FOUR, IDS_POWER_OF_FIVE,   IDS_HERMIT_POWER_OF_TWO, IDS_HERMIT_POWER_OF_FOUR,
    IDS_WYVILL};
inline constexpr int kTextureTypeEntries[] = {IDS_MULTIPLY, IDS_SUBTRACT};

// The entries of the list shown for a parameter; empty for a parameter without one.
inline std::span<const int> listEntries(ParamID id) {
    switch (id) {
    case pb_fieldFunction:
        return kFieldFunctionEntries;
    case pb_color:
        return kColorEntries;
    case pb_textureType:
        return kTextureTypeEntries;
    default:
        return {};
    }
}

// The name of a rollout, as the block's maps are called in the code ("GeneralRollout", ...);
// null for an unknown map.
inline const char* rolloutName(MapID id) {
    switch (id) {
    case GeneralRollout:
        return "GeneralRollout";
    case NodesRollout:
        return "NodesRollout";
    case FlowRollout:
        return "FlowRollout";
    case TextureRollout:
        return "TextureRollout";
    case AboutRollout:
        return "AboutRollout";
    default:
        return nullptr;
    }
}

// Adds the rollouts and the parameters, in the block's index order, to an empty descriptor.
// Inline so that code below the object layer (the render tests) can build a block of the real
// layout without the module's class descriptor.
inline void defineParamBlock(ParamBlockDesc2& d) {
    using namespace pbctrl;
    constexpr float kMax = 1000000.0f;
    constexpr float kFloatClick = 0.1f;
    constexpr float kAutoClick = -1.0f;

    d.AddRollout(GeneralRollout, IDD_GENERAL_ROLLOUT, IDS_GENERAL_PARAMETERS, 0);
    d.AddRollout(TextureRollout, IDD_TEXTURE_ROLLOUT, IDS_TEXTURE_PARAMETERS, APPENDROLL_CLOSED);
    d.AddRollout(NodesRollout, IDD_NODES_ROLLOUT, IDS_NODE_PARAMETERS, 0);
    d.AddRollout(FlowRollout, IDD_FLOW_ROLLOUT, IDS_FLOW_PARAMETERS, APPENDROLL_CLOSED);
    d.AddRollout(AboutRollout, IDD_ABOUT_ROLLOUT, IDS_ABOUT, APPENDROLL_CLOSED);

    d.AddParam(pb_nodes, "nodes", TYPE_INODE_TAB, kTableFlags, IDS_NODES)
        .UI(NodesRollout, TYPE_NODELISTBOX, {kNodeList, 0, 0, kNodeDelete});
    d.AddParam(pb_metaballs, "metaballs", TYPE_POINT3_TAB, kTableFlags, 0);
    d.AddParam(pb_allPflow, "allPflow", TYPE_BOOL, 0, IDS_USE_ALL_PF_EVENTS)
        .Default(true)
        .UI(FlowRollout, TYPE_SINGLECHEKBOX, {kAllPflowCheck});
    d.AddParam(pb_pflow, "pflow", TYPE_INODE_TAB, kTableFlags, IDS_PF_EVENT_LIST)
        .UI(FlowRollout, TYPE_NODELISTBOX, {kPflowList, 0, 0, kPflowDelete});
    d.AddParam(pb_icon, "icon", TYPE_FLOAT, P_ANIMATABLE, IDS_ICON_SIZE)
        .Default(10.0f)
        .Range(0.0001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kIconEdit, kIconSpin, kFloatClick);
    d.AddParam(pb_radius, "radius", TYPE_FLOAT, P_ANIMATABLE, IDS_SIZE)
        .Default(20.0f)
        .Range(0.0001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kRadiusEdit, kRadiusSpin, kFloatClick);
    d.AddParam(pb_threshold, "threshold", TYPE_FLOAT, P_ANIMATABLE, IDS_THRESHOLD)
        .Default(0.5f)
        .Range(0.0001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kThresholdEdit, kThresholdSpin, kFloatClick);
    d.AddParam(pb_step, "step", TYPE_FLOAT, P_ANIMATABLE, IDS_STEP_LENGTH)
        .Default(1.0f)
        .Range(0.0001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kStepEdit, kStepSpin, kFloatClick);
    d.AddParam(pb_error, "error", TYPE_FLOAT, P_ANIMATABLE, IDS_MAX_ERROR)
        .Default(0.0001f)
        .Range(0.00001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kErrorEdit, kErrorSpin, kFloatClick);
    d.AddParam(pb_fieldFunction, "fieldFunction", TYPE_INT, 0, IDS_FIELD_FUNCTION)
        .Default(1)
        .UI(GeneralRollout, TYPE_INTCOMBOBOX, {kFieldFunctionCombo})
        .Entries(0);
    d.AddParam(pb_useAverage, "useAverage", TYPE_BOOL, 0, IDS_USE_AVERAGE)
        .Default(false)
        .UI(GeneralRollout, TYPE_SINGLECHEKBOX, {kUseAverageCheck});
    d.AddParam(pb_cutoff, "cutoff", TYPE_FLOAT, P_ANIMATABLE, IDS_CUTOFF)
        .Default(0.5f)
        .Range(0.0001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kCutoffEdit, kCutoffSpin, kFloatClick);
    d.AddParam(pb_trim, "trim", TYPE_FLOAT, P_ANIMATABLE, IDS_TRIM)
        .Default(0.65f)
        .Range(0.0001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kTrimEdit, kTrimSpin, kFloatClick);
    d.AddParam(pb_depth, "depth", TYPE_INT, P_ANIMATABLE, IDS_TREE_DEPTH)
        .Default(15)
        .Range(1, 50)
        .Spinner(GeneralRollout, EDITTYPE_POS_INT, kDepthEdit, kDepthSpin, kAutoClick);
    d.AddParam(pb_leafLength, "leafLength", TYPE_FLOAT, P_ANIMATABLE, IDS_LEAF_LENGTH)
        .Default(8.0f)
        .Range(0.0001f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kLeafLengthEdit, kLeafLengthSpin, kFloatClick);
    d.AddParam(pb_leafSize, "leafSize", TYPE_INT, P_ANIMATABLE, IDS_LEAF_SIZE)
        .Default(30)
        .Range(1, 10000)
        .Spinner(GeneralRollout, EDITTYPE_POS_INT, kLeafSizeEdit, kLeafSizeSpin, kAutoClick);
    d.AddParam(pb_texmap, "texmap", TYPE_TEXMAP, P_NO_INIT, IDS_TEXMAP)
        .UI(TextureRollout, TYPE_TEXMAPBUTTON, {kTexmapButton});
    d.AddParam(pb_mbSamples, "mbSamples", TYPE_INT, P_ANIMATABLE, IDS_MB_SAMPLES)
        .Default(2)
        .Range(1, 160)
        .Spinner(GeneralRollout, EDITTYPE_POS_INT, kMbSamplesEdit, kMbSamplesSpin, kAutoClick);
    d.AddParam(pb_useScale, "useScale", TYPE_BOOL, 0, IDS_USE_SCALE)
        .Default(false)
        .UI(GeneralRollout, TYPE_SINGLECHEKBOX, {kUseScaleCheck});
    d.AddParam(pb_useTexture, "useTexture", TYPE_BOOL, 0, IDS_USE_TEXTURE)
        .Default(true)
        .UI(TextureRollout, TYPE_SINGLECHEKBOX, {kUseTextureCheck});
    d.AddParam(pb_textureType, "textureType", TYPE_INT, 0, IDS_TEXTURE_TYPE)
        .Default(0)
        .UI(TextureRollout, TYPE_INTCOMBOBOX, {kTextureTypeCombo})
        .Entries(0);
    d.AddParam(pb_useClamp, "useClamp", TYPE_BOOL, 0, IDS_USE_CLAMP)
        .Default(false)
        .UI(TextureRollout, TYPE_SINGLECHEKBOX, {kUseClampCheck});
    d.AddParam(pb_textureStr, "textureStr", TYPE_FLOAT, P_ANIMATABLE, IDS_TEXTURE_STRENGTH)
        .Default(1.0f)
        .Range(0.0f, kMax)
        .Spinner(TextureRollout, EDITTYPE_FLOAT, kTextureStrEdit, kTextureStrSpin, kFloatClick);
    d.AddParam(pb_clampTo, "clampTo", TYPE_FLOAT, P_ANIMATABLE, IDS_CLAMP_TO)
        .Default(1.0f)
        .Range(0.0001f, kMax)
        .Spinner(TextureRollout, EDITTYPE_FLOAT, kClampToEdit, kClampToSpin, kFloatClick);
    d.AddParam(pb_metaballSizes, "metaballSizes", TYPE_FLOAT_TAB, kTableFlags, 0);
    d.AddParam(pb_velocityThreshold, "velocityThreshold", TYPE_FLOAT, P_ANIMATABLE,
               IDS_VELOCITY_THRESHOLD)
        .Default(-1.0f)
        .Range(-1.0f, kMax)
        .Spinner(GeneralRollout, EDITTYPE_FLOAT, kVelocityThresholdEdit, kVelocityThresholdSpin,
                 kFloatClick);
    // "color" has no display name of its own: it shares the field-function text.
    d.AddParam(pb_color, "color", TYPE_INT, 0, IDS_FIELD_FUNCTION)
        .Default(0)
        .UI(GeneralRollout, TYPE_INTCOMBOBOX, {kColorCombo})
        .Entries(0);
    d.AddParam(pb_colors, "colors", TYPE_POINT3_TAB, kTableFlags, 0);
}

// The module's one block descriptor ("params", block 0, owned by the class descriptor as its
// reference 0). Made on first use, so it never exists before the class descriptor does.
ParamBlockDesc2* GetVelquinMetaballParamDesc(); // also declared in object/Module.h

} // namespace velquin
