// Parameter blocks of the host stand-in: block descriptors (ParamBlockDesc2) with their rollouts
// and parameter definitions, and the blocks themselves (IParamBlock2), typed animatable stores
// that hold references to the nodes and maps they contain, record undo, and save and load.
#pragma once

#include "platform/max/animval.h"
#include "platform/max/maxtypes.h"
#include "platform/max/ref.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <iosfwd>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

class ClassDesc2;
class ParamMap2UserDlgProc;
class INode;
class Texmap;

using ParamID = short;
using MapID = short;

// Parameter (and function-publishing) type codes.
using ParamType2 = int;
constexpr ParamType2 TYPE_FLOAT = 0;
constexpr ParamType2 TYPE_INT = 1;
constexpr ParamType2 TYPE_RGBA = 2;
constexpr ParamType2 TYPE_POINT3 = 3;
constexpr ParamType2 TYPE_BOOL = 4;
constexpr ParamType2 TYPE_ANGLE = 5;
constexpr ParamType2 TYPE_PCNT_FRAC = 6;
constexpr ParamType2 TYPE_WORLD = 7;
constexpr ParamType2 TYPE_STRING = 8;
constexpr ParamType2 TYPE_COLOR_CHANNEL = 11;
constexpr ParamType2 TYPE_TIMEVALUE = 12;
constexpr ParamType2 TYPE_RADIOBTN_INDEX = 13;
constexpr ParamType2 TYPE_MTL = 14;
constexpr ParamType2 TYPE_TEXMAP = 15;
constexpr ParamType2 TYPE_INODE = 17;
constexpr ParamType2 TYPE_REFTARG = 18;
constexpr ParamType2 TYPE_INDEX = 19;
constexpr ParamType2 TYPE_VOID = 25;
constexpr ParamType2 TYPE_TAB = 0x800;
constexpr ParamType2 TYPE_FLOAT_TAB = TYPE_FLOAT | TYPE_TAB;
constexpr ParamType2 TYPE_INT_TAB = TYPE_INT | TYPE_TAB;
constexpr ParamType2 TYPE_POINT3_TAB = TYPE_POINT3 | TYPE_TAB;
constexpr ParamType2 TYPE_BOOL_TAB = TYPE_BOOL | TYPE_TAB;
constexpr ParamType2 TYPE_TEXMAP_TAB = TYPE_TEXMAP | TYPE_TAB;
constexpr ParamType2 TYPE_INODE_TAB = TYPE_INODE | TYPE_TAB;
inline constexpr bool is_tab(ParamType2 t) {
    return (t & TYPE_TAB) != 0;
}
inline constexpr ParamType2 base_type(ParamType2 t) {
    return t & ~TYPE_TAB;
}

// Parameter flags.
constexpr int P_ANIMATABLE = 0x1;
constexpr int P_TRANSIENT = 0x2;
constexpr int P_NO_INIT = 0x4;
constexpr int P_INVISIBLE = 0x10;
constexpr int P_RESET_DEFAULT = 0x20;
constexpr int P_NO_REF = 0x100;
constexpr int P_VARIABLE_SIZE = 0x1000;
constexpr int P_READ_ONLY = 0x8000;

// Block descriptor flags.
constexpr int P_CLASS_PARAMS = 0x1;
constexpr int P_AUTO_CONSTRUCT = 0x2;
constexpr int P_AUTO_UI = 0x4;
constexpr int P_USE_PARAMS = 0x8;
constexpr int P_INCLUDE_PARAMS = 0x10;
constexpr int P_MULTIMAP = 0x20;

// Rollup flag: the rollout starts rolled up.
constexpr int APPENDROLL_CLOSED = 0x1;

// Parameter option tags (ParamBlockDesc2::ParamOption).
constexpr int p_end = 0;
constexpr int p_default = static_cast<int>(0xC0000000u);
constexpr int p_range = static_cast<int>(0xC0000001u);
constexpr int p_ui = static_cast<int>(0xC0000002u);
constexpr int p_validator = static_cast<int>(0xC0000004u);

// Control kinds of a user-interface binding.
using ControlType2 = int;
constexpr ControlType2 TYPE_NONE_CTRL = -1;
constexpr ControlType2 TYPE_SPINNER = 0;
constexpr ControlType2 TYPE_RADIO = 1;
constexpr ControlType2 TYPE_SINGLECHEKBOX = 2;
constexpr ControlType2 TYPE_MULTICHEKBOX = 3;
constexpr ControlType2 TYPE_COLORSWATCH = 4;
constexpr ControlType2 TYPE_EDITBOX = 5;
constexpr ControlType2 TYPE_CHECKBUTTON = 6;
constexpr ControlType2 TYPE_PICKNODEBUTTON = 7;
constexpr ControlType2 TYPE_TEXMAPBUTTON = 8;
constexpr ControlType2 TYPE_MTLBUTTON = 9;
constexpr ControlType2 TYPE_INTLISTBOX = 13;
constexpr ControlType2 TYPE_NODELISTBOX = 14;
constexpr ControlType2 TYPE_SLIDER = 16;
constexpr ControlType2 TYPE_INTCOMBOBOX = 17;

// Edit types of a spinner binding.
using EditSpinnerType = int;
constexpr EditSpinnerType EDITTYPE_INT = 0;
constexpr EditSpinnerType EDITTYPE_FLOAT = 1;
constexpr EditSpinnerType EDITTYPE_UNIVERSE = 2;
constexpr EditSpinnerType EDITTYPE_POS_INT = 3;
constexpr EditSpinnerType EDITTYPE_POS_FLOAT = 4;
constexpr EditSpinnerType EDITTYPE_POS_UNIVERSE = 5;
constexpr EditSpinnerType EDITTYPE_TIME = 6;

// A value handed to a validator: the member that matches the parameter's type is meaningful.
struct PB2Value {
    float f = 0.0f;
    int i = 0;
    Point3* p = nullptr;
    ReferenceTarget* r = nullptr;
    // The reference value as a node, texture map, ... (T derives from ReferenceTarget).
    template <class T = INode> T* ref() const { return static_cast<T*>(r); }
};

// Decides whether a value may be assigned to a parameter. The four-argument form is what the
// block calls; by default it forwards to the one-argument form.
class PBValidator {
public:
    virtual ~PBValidator() = default;
    virtual BOOL Validate(PB2Value& v) {
        (void)v;
        return TRUE;
    }
    virtual BOOL Validate(PB2Value& v, ReferenceMaker* owner, ParamID id, int tabIndex) {
        (void)owner;
        (void)id;
        (void)tabIndex;
        return Validate(v);
    }
    virtual void DeleteThis() {}
};

// Where a parameter appears in a rollout: its map, control kind and the dialog's control IDs
// (in the kind's order, e.g. edit then spinner; list, add, replace, delete with 0 for none).
struct ParamUIBinding {
    MapID map = -1;
    ControlType2 control = TYPE_NONE_CTRL;
    std::vector<int> ctrlIDs;
    EditSpinnerType editType = EDITTYPE_FLOAT;
    float scale = 0.0f;
    int entries = 0; // entry count of a list control given in the descriptor
    bool Bound() const { return map >= 0 && control != TYPE_NONE_CTRL; }
};

// One parameter of a descriptor. The setters return the definition so that a descriptor can be
// written as one chain per parameter.
struct ParamDef {
    ParamID ID = -1;
    std::string int_name;
    ParamType2 type = TYPE_FLOAT;
    int flags = 0;
    int local_name = 0; // string-table ID of the display name, 0 for none
    float defFloat = 0.0f;
    int defInt = 0;
    Point3 defPoint3;
    bool hasRange = false;
    float rangeLowF = 0.0f, rangeHighF = 0.0f;
    int rangeLowI = 0, rangeHighI = 0;
    ParamUIBinding ui;
    PBValidator* validator = nullptr; // not owned
    int tabSize = 0;                  // initial table size

    ParamDef& Default(float f) {
        defFloat = f;
        defInt = static_cast<int>(f);
        defPoint3 = Point3(f, f, f);
        return *this;
    }
    ParamDef& Default(int v) {
        defInt = v;
        defFloat = static_cast<float>(v);
        return *this;
    }
    ParamDef& Default(bool b) { return Default(b ? 1 : 0); }
    ParamDef& Default(const Point3& p) {
        defPoint3 = p;
        return *this;
    }
    ParamDef& Range(float lo, float hi) {
        hasRange = true;
        rangeLowF = lo, rangeHighF = hi;
        rangeLowI = static_cast<int>(lo), rangeHighI = static_cast<int>(hi);
        return *this;
    }
    ParamDef& Range(int lo, int hi) {
        hasRange = true;
        rangeLowI = lo, rangeHighI = hi;
        rangeLowF = static_cast<float>(lo), rangeHighF = static_cast<float>(hi);
        return *this;
    }
    ParamDef& UI(MapID map, ControlType2 control, std::vector<int> ctrlIDs) {
        ui.map = map;
        ui.control = control;
        ui.ctrlIDs = std::move(ctrlIDs);
        return *this;
    }
    ParamDef& Spinner(MapID map, EditSpinnerType editType, int editID, int spinID, float scale) {
        UI(map, TYPE_SPINNER, {editID, spinID});
        ui.editType = editType;
        ui.scale = scale;
        return *this;
    }
    ParamDef& Entries(int n) {
        ui.entries = n;
        return *this;
    }
    ParamDef& Validator(PBValidator* v) {
        validator = v;
        return *this;
    }
    ParamDef& TabSize(int n) {
        tabSize = n;
        return *this;
    }
};

// One rollout (parameter map) of a block.
struct ParamMapInfo {
    MapID id = 0;
    int dlgTemplate = 0; // dialog resource ID
    int title = 0;       // string-table ID of the title
    int rollupFlags = 0;
    ParamMap2UserDlgProc* userDlgProc = nullptr; // not owned
};

class ParamBlockDesc2 {
public:
    // Registers itself with `cd` (when given), as module-wide descriptors do at load time.
    ParamBlockDesc2(BlockID id, const char* int_name, int local_name, ClassDesc2* cd, int flags,
                    int ref_no = 0);
    ParamBlockDesc2(const ParamBlockDesc2&) = delete;
    ParamBlockDesc2& operator=(const ParamBlockDesc2&) = delete;

    ParamMapInfo& AddRollout(MapID id, int dlgTemplate, int title, int rollupFlags = 0);
    // Adds a parameter at the end of the index order. The reference stays valid.
    ParamDef& AddParam(ParamID id, const char* int_name, ParamType2 type, int flags,
                       int local_name);

    BlockID ID = 0;
    std::string int_name;
    int local_name = 0;
    ClassDesc2* cd = nullptr;
    int flags = 0;
    int ref_no = 0;

    int Count() const { return static_cast<int>(params_.size()); }
    int IDtoIndex(ParamID id) const;
    ParamID IndextoID(int i) const;
    ParamDef& GetParamDef(ParamID id); // id must exist
    ParamDef* FindParamDef(ParamID id);
    ParamDef* GetParamDefByIndex(int i);
    // Script-name lookup; -1 when no parameter has that name. Names compare case-insensitively,
    // as the scripting language does.
    ParamID IDByName(const char* name) const;
    int NameToIndex(const char* name) const;

    int NumRollouts() const { return static_cast<int>(maps_.size()); }
    ParamMapInfo* GetMap(MapID id);
    ParamMapInfo* GetMapByIndex(int i);
    void SetUserDlgProc(MapID id, ParamMap2UserDlgProc* proc);
    void SetUserDlgProc(ParamMap2UserDlgProc* proc) { SetUserDlgProc(MapID(0), proc); }
    ParamMap2UserDlgProc* GetUserDlgProc(MapID id = 0);

    // Option setters by tag: p_validator, p_default, p_range. Unknown tags or IDs do nothing.
    void ParamOption(ParamID id, int tag, PBValidator* v);
    void ParamOption(ParamID id, int tag, float f);
    void ParamOption(ParamID id, int tag, int i);
    void ParamOption(ParamID id, int tag, float lo, float hi);
    void ParamOption(ParamID id, int tag, int lo, int hi);

    // Asks every open rollout of this descriptor to show current values again: counted, and
    // forwarded to the listeners (the parameter-map user interface). id -1 means all parameters.
    void InvalidateUI(ParamID id = -1, int tabIndex = -1);
    int InvalidateUICount() const { return invalidateCount_; }
    using UIListener = std::function<void(ParamBlockDesc2*, ParamID, int)>;
    int AddUIListener(UIListener l);
    void RemoveUIListener(int handle);

private:
    std::deque<ParamDef> params_;
    // Index of each parameter by ID (the first of an ID): every value access goes through it.
    std::unordered_map<ParamID, int> indexOf_;
    std::deque<ParamMapInfo> maps_;
    int invalidateCount_ = 0;
    int nextListener_ = 1;
    std::vector<std::pair<int, UIListener>> listeners_;
};

class IParamBlock2 : public ReferenceTarget {
public:
    // A block with every parameter at its default (tables at their initial size).
    IParamBlock2(ParamBlockDesc2* desc, ReferenceMaker* owner);
    ~IParamBlock2() override;

    ParamBlockDesc2* GetDesc() const { return desc_; }
    BlockID ID() const { return desc_->ID; }
    // The maker that owns the block: the one it was made for while that one still refers to it,
    // else the first maker that refers to it.
    ReferenceMaker* GetOwner();
    void SetOwner(ReferenceMaker* owner) { owner_ = owner; }

    int NumParams() const { return desc_->Count(); }
    ParamID IndextoID(int i) const { return desc_->IndextoID(i); }
    int IDtoIndex(ParamID id) const { return desc_->IDtoIndex(id); }
    ParamType2 GetParameterType(ParamID id) const;
    ParamDef* GetParamDef(ParamID id) const { return desc_->FindParamDef(id); }

    // Typed reads at a time. Each narrows `valid` to where the value holds and answers FALSE
    // (leaving v alone) for an unknown ID, a type of another kind or an index out of range.
    BOOL GetValue(ParamID id, TimeValue t, float& v, Interval& valid, int tabIndex = 0);
    BOOL GetValue(ParamID id, TimeValue t, int& v, Interval& valid, int tabIndex = 0);
    BOOL GetValue(ParamID id, TimeValue t, Point3& v, Interval& valid, int tabIndex = 0);
    BOOL GetValue(ParamID id, TimeValue t, Color& v, Interval& valid, int tabIndex = 0);
    template <class T>
    BOOL GetValue(ParamID id, TimeValue t, T*& v, Interval& valid, int tabIndex = 0) {
        ReferenceTarget* r = nullptr;
        if (!GetRefValue(id, t, r, valid, tabIndex))
            return FALSE;
        v = static_cast<T*>(r);
        return TRUE;
    }
    float GetFloat(ParamID id, TimeValue t = 0, int tabIndex = 0);
    int GetInt(ParamID id, TimeValue t = 0, int tabIndex = 0);
    Point3 GetPoint3(ParamID id, TimeValue t = 0, int tabIndex = 0);
    Color GetColor(ParamID id, TimeValue t = 0, int tabIndex = 0);
    ReferenceTarget* GetReferenceTarget(ParamID id, TimeValue t = 0, int tabIndex = 0);
    template <class T = INode> T* GetINode(ParamID id, TimeValue t = 0, int tabIndex = 0) {
        return static_cast<T*>(GetReferenceTarget(id, t, tabIndex));
    }
    template <class T = Texmap> T* GetTexmap(ParamID id, TimeValue t = 0, int tabIndex = 0) {
        return static_cast<T*>(GetReferenceTarget(id, t, tabIndex));
    }
    BOOL GetRefValue(ParamID id, TimeValue t, ReferenceTarget*& v, Interval& valid,
                     int tabIndex = 0);

    // Typed writes at a time. Numbers outside the parameter's range are clamped to it. With
    // animate mode on, an animatable parameter gets a key at t; otherwise a constant is replaced
    // and a keyed curve moves so that its value at t is v. A node or map must have the matching
    // super class and pass the parameter's validator. Records undo while theHold is holding and
    // tells the dependents of a change. FALSE when nothing was set.
    BOOL SetValue(ParamID id, TimeValue t, float v, int tabIndex = 0);
    BOOL SetValue(ParamID id, TimeValue t, int v, int tabIndex = 0);
    BOOL SetValue(ParamID id, TimeValue t, const Point3& v, int tabIndex = 0);
    BOOL SetValue(ParamID id, TimeValue t, const Color& v, int tabIndex = 0);
    template <class T> BOOL SetValue(ParamID id, TimeValue t, T* v, int tabIndex = 0) {
        return SetRefValue(id, t, static_cast<ReferenceTarget*>(v), tabIndex);
    }
    BOOL SetValue(ParamID id, TimeValue t, std::nullptr_t, int tabIndex = 0) {
        return SetRefValue(id, t, nullptr, tabIndex);
    }
    BOOL SetRefValue(ParamID id, TimeValue t, ReferenceTarget* v, int tabIndex = 0);
    // Makes a key at t whatever the animate mode; FALSE for a parameter that is not animatable.
    BOOL SetKey(ParamID id, TimeValue t, float v, int tabIndex = 0);
    BOOL SetKey(ParamID id, TimeValue t, int v, int tabIndex = 0);
    BOOL SetKey(ParamID id, TimeValue t, const Point3& v, int tabIndex = 0);
    BOOL IsAnimated(ParamID id, int tabIndex = 0);
    int KeyCount(ParamID id, int tabIndex = 0);

    // Tables. Count answers -1 for an unknown ID and 1 for a parameter that is not a table. The
    // editing operations answer the count afterwards (-1 for an unknown ID or a non-table);
    // nodes refused by the validator or of the wrong kind are left out of Append and Insert.
    int Count(ParamID id);
    int Append(ParamID id, int num, const float* el, int allocExtra = 0);
    int Append(ParamID id, int num, const int* el, int allocExtra = 0);
    int Append(ParamID id, int num, const Point3* el, int allocExtra = 0);
    template <class T> int Append(ParamID id, int num, T* const* el, int allocExtra = 0) {
        (void)allocExtra;
        std::vector<ReferenceTarget*> refs;
        for (int k = 0; k < num; ++k)
            refs.push_back(static_cast<ReferenceTarget*>(el[k]));
        return InsertRefs(id, -1, refs);
    }
    int Insert(ParamID id, int at, int num, const float* el);
    int Insert(ParamID id, int at, int num, const int* el);
    int Insert(ParamID id, int at, int num, const Point3* el);
    template <class T> int Insert(ParamID id, int at, int num, T* const* el) {
        std::vector<ReferenceTarget*> refs;
        for (int k = 0; k < num; ++k)
            refs.push_back(static_cast<ReferenceTarget*>(el[k]));
        return InsertRefs(id, at, refs);
    }
    int InsertRefs(ParamID id, int at, const std::vector<ReferenceTarget*>& refs); // at -1: end
    int Delete(ParamID id, int start, int num);
    // Grows with default entries (null for nodes and maps) or shrinks from the end.
    int SetCount(ParamID id, int n);
    int ZeroCount(ParamID id) { return SetCount(id, 0); }

    // The parameter and table index of the last change that was sent to the dependents.
    ParamID LastNotifyParamID(int& tabIndex) const {
        tabIndex = lastNotifyTab_;
        return lastNotifyID_;
    }
    ParamID LastNotifyParamID() const { return lastNotifyID_; }

    // Saving: one text record per block; nodes and maps are written as the integers `refId`
    // gives them (-1 for null). Floats are written exactly (hexadecimal).
    bool Save(std::ostream& os, const std::function<int(ReferenceTarget*)>& refId);
    // Loading into a block of the same descriptor: every stored parameter replaces the current
    // one (keys and table sizes included); `refById` turns the saved integers back into nodes and
    // maps. On a malformed record nothing changes and `error` says what was wrong.
    bool Load(std::istream& is, const std::function<ReferenceTarget*(int)>& refById,
              std::string* error = nullptr);

    // References: one slot per node or map element, in parameter index order then table order.
    int NumRefs() override;
    RefTargetHandle GetReference(int i) override;
    void SetReference(int i, RefTargetHandle rtarg) override;
    // Sub-animatables: the animatable parameters.
    int NumSubs() override;
    MSTR SubAnimName(int i) override;

    Class_ID ClassID() override { return Class_ID(0x2c6b7c1a, 0x1d7e3f02); }
    SClass_ID SuperClassID() override { return PARAMETER_BLOCK2_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "ParamBlock2"; }
    // A block goes with the last reference once an owner has referred to it (a block that no
    // maker ever took, e.g. one on the stack of a test, is never deleted by the references).
    bool AutoDelete() override { return owned_; }
    // Values are copied; maps are cloned through the remap directory (once each), nodes are
    // remapped only when the directory already holds their clone.
    ReferenceTarget* Clone(RemapDir& remap) override;

    // One stored element (internal, exposed for the restore objects).
    using Elem =
        std::variant<AnimValue<float>, AnimValue<int>, AnimValue<Point3>, ReferenceTarget*>;
    struct Param {
        std::vector<Elem> elems;
    };

private:
    Param* Find(ParamID id, ParamDef** def = nullptr);
    Elem* FindElem(ParamID id, int tabIndex, ParamDef** def = nullptr);
    Elem DefaultElem(const ParamDef& def) const;
    int RefSlotBase(int paramIndex);
    bool RefSlot(int slot, int& paramIndex, int& elem);
    bool AcceptRef(ParamDef& def, ReferenceTarget* r, int tabIndex);
    template <class T> BOOL SetNumber(ParamID id, TimeValue t, T v, int tabIndex, bool forceKey);
    template <class T> int InsertNumbers(ParamID id, int at, int num, const T* el);
    // Replaces a whole parameter's elements, keeping the references right.
    void AssignParam(ParamID id, const std::vector<Elem>& elems);
    void RecordUndo(ParamID id, const std::vector<Elem>& before);
    void Changed(ParamID id, int tabIndex);
    void RefAdded(ReferenceMaker* m) override;
    friend class PBParamRestore;

    ParamBlockDesc2* desc_;
    ReferenceMaker* owner_;
    std::vector<Param> params_; // in descriptor index order
    ParamID lastNotifyID_ = -1;
    int lastNotifyTab_ = -1;
    bool owned_ = false;
};

// A new block of `desc` for `owner` (not yet referenced by it).
IParamBlock2* CreateParameterBlock2(ParamBlockDesc2* desc, ReferenceMaker* owner);
