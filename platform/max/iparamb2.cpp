#include "platform/max/iparamb2.h"

#include "platform/max/classdesc.h"
#include "platform/max/hold.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>
#include <sstream>

namespace {

enum class Kind { Float, Int, Point, Ref, None };

Kind kindOf(ParamType2 type) {
    switch (base_type(type)) {
    case TYPE_FLOAT:
    case TYPE_ANGLE:
    case TYPE_PCNT_FRAC:
    case TYPE_WORLD:
    case TYPE_COLOR_CHANNEL:
        return Kind::Float;
    case TYPE_INT:
    case TYPE_BOOL:
    case TYPE_TIMEVALUE:
    case TYPE_RADIOBTN_INDEX:
    case TYPE_INDEX:
        return Kind::Int;
    case TYPE_POINT3:
    case TYPE_RGBA:
        return Kind::Point;
    case TYPE_MTL:
    case TYPE_TEXMAP:
    case TYPE_INODE:
    case TYPE_REFTARG:
        return Kind::Ref;
    default:
        return Kind::None;
    }
}

bool sameName(const std::string& a, const char* b) {
    std::size_t n = a.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (b[k] == '\0' || std::tolower(static_cast<unsigned char>(a[k])) !=
                                std::tolower(static_cast<unsigned char>(b[k])))
            return false;
    }
    return b[n] == '\0';
}

float clampF(const ParamDef& d, float v) {
    if (!d.hasRange)
        return v;
    return v < d.rangeLowF ? d.rangeLowF : (v > d.rangeHighF ? d.rangeHighF : v);
}
int clampI(const ParamDef& d, int v) {
    if (!d.hasRange || base_type(d.type) == TYPE_BOOL)
        return v;
    return v < d.rangeLowI ? d.rangeLowI : (v > d.rangeHighI ? d.rangeHighI : v);
}
Point3 clampP(const ParamDef& d, Point3 v) {
    return {clampF(d, v.x), clampF(d, v.y), clampF(d, v.z)};
}
float clampV(const ParamDef& d, float v) {
    return clampF(d, v);
}
int clampV(const ParamDef& d, int v) {
    return clampI(d, v);
}
Point3 clampV(const ParamDef& d, const Point3& v) {
    return clampP(d, v);
}

// Holds references for restore objects, so that a block or node deleted while an undo entry
// still mentions it is seen as null instead of dangling.
class RefKeeper : public ReferenceMaker {
public:
    ~RefKeeper() override { DeleteAllRefs(); }
    int Keep(ReferenceTarget* t) {
        refs_.push_back(nullptr);
        int i = static_cast<int>(refs_.size()) - 1;
        ReplaceReference(i, t);
        return i;
    }
    int NumRefs() override { return static_cast<int>(refs_.size()); }
    RefTargetHandle GetReference(int i) override { return refs_[i]; }
    void SetReference(int i, RefTargetHandle r) override { refs_[i] = r; }
    Class_ID ClassID() override { return Class_ID(0x52454b50, 0x1); }
    bool IsWeakRefHolder() override { return true; }

private:
    std::vector<RefTargetHandle> refs_;
};

std::string hexFloat(float f) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", static_cast<double>(f));
    return buf;
}

bool parseFloat(const std::string& tok, float& out) {
    if (tok.empty())
        return false;
    char* end = nullptr;
    out = std::strtof(tok.c_str(), &end);
    return end && *end == '\0';
}
bool parseInt(const std::string& tok, long long& out) {
    if (tok.empty())
        return false;
    char* end = nullptr;
    out = std::strtoll(tok.c_str(), &end, 10);
    return end && *end == '\0';
}

} // namespace

// A whole parameter before and after one change.
class PBParamRestore : public RestoreObj {
public:
    struct Snapshot {
        std::vector<IParamBlock2::Elem> elems;
        std::vector<int> slots; // keeper slot of each reference element, -1 otherwise
    };
    PBParamRestore(IParamBlock2* pb, ParamID id, const std::vector<IParamBlock2::Elem>& before,
                   const std::vector<IParamBlock2::Elem>& after)
        : id_(id) {
        keeper_.Keep(pb);
        before_ = snap(before);
        after_ = snap(after);
    }
    void Restore(int) override { apply(before_); }
    void Redo() override { apply(after_); }
    MSTR Description() override { return "parameter block change"; }

private:
    Snapshot snap(const std::vector<IParamBlock2::Elem>& elems) {
        Snapshot s;
        s.elems = elems;
        for (const auto& e : elems)
            s.slots.push_back(std::holds_alternative<ReferenceTarget*>(e)
                                  ? keeper_.Keep(std::get<ReferenceTarget*>(e))
                                  : -1);
        return s;
    }
    void apply(const Snapshot& s) {
        auto* pb = static_cast<IParamBlock2*>(keeper_.GetReference(0));
        if (!pb)
            return;
        std::vector<IParamBlock2::Elem> elems = s.elems;
        for (std::size_t k = 0; k < elems.size(); ++k)
            if (s.slots[k] >= 0)
                elems[k] = keeper_.GetReference(s.slots[k]);
        pb->AssignParam(id_, elems);
    }
    RefKeeper keeper_;
    ParamID id_;
    Snapshot before_, after_;
};

// ---- ParamBlockDesc2 ----

ParamBlockDesc2::ParamBlockDesc2(BlockID id, const char* name, int localName, ClassDesc2* desc,
                                 int fl, int refNo)
    : ID(id), int_name(name ? name : ""), local_name(localName), cd(desc), flags(fl),
      ref_no(refNo) {
    if (cd)
        cd->AddParamBlockDesc(this);
}

ParamMapInfo& ParamBlockDesc2::AddRollout(MapID id, int dlgTemplate, int title, int rollupFlags) {
    maps_.push_back(ParamMapInfo{id, dlgTemplate, title, rollupFlags, nullptr});
    return maps_.back();
}

ParamDef& ParamBlockDesc2::AddParam(ParamID id, const char* name, ParamType2 type, int fl,
                                    int localName) {
    ParamDef d;
    d.ID = id;
    d.int_name = name ? name : "";
    d.type = type;
    d.flags = fl;
    d.local_name = localName;
    indexOf_.emplace(id, static_cast<int>(params_.size()));
    params_.push_back(std::move(d));
    return params_.back();
}

int ParamBlockDesc2::IDtoIndex(ParamID id) const {
    auto it = indexOf_.find(id);
    return it == indexOf_.end() ? -1 : it->second;
}

ParamID ParamBlockDesc2::IndextoID(int i) const {
    return i >= 0 && i < Count() ? params_[i].ID : ParamID(-1);
}

ParamDef& ParamBlockDesc2::GetParamDef(ParamID id) {
    return params_[IDtoIndex(id)];
}

ParamDef* ParamBlockDesc2::FindParamDef(ParamID id) {
    int i = IDtoIndex(id);
    return i < 0 ? nullptr : &params_[i];
}

ParamDef* ParamBlockDesc2::GetParamDefByIndex(int i) {
    return i >= 0 && i < Count() ? &params_[i] : nullptr;
}

int ParamBlockDesc2::NameToIndex(const char* name) const {
    if (!name)
        return -1;
    for (std::size_t i = 0; i < params_.size(); ++i)
        if (sameName(params_[i].int_name, name))
            return static_cast<int>(i);
    return -1;
}

ParamID ParamBlockDesc2::IDByName(const char* name) const {
    return IndextoID(NameToIndex(name));
}

ParamMapInfo* ParamBlockDesc2::GetMap(MapID id) {
    for (auto& m : maps_)
        if (m.id == id)
            return &m;
    return nullptr;
}

ParamMapInfo* ParamBlockDesc2::GetMapByIndex(int i) {
    return i >= 0 && i < NumRollouts() ? &maps_[i] : nullptr;
}

void ParamBlockDesc2::SetUserDlgProc(MapID id, ParamMap2UserDlgProc* proc) {
    if (ParamMapInfo* m = GetMap(id))
        m->userDlgProc = proc;
}

ParamMap2UserDlgProc* ParamBlockDesc2::GetUserDlgProc(MapID id) {
    ParamMapInfo* m = GetMap(id);
    return m ? m->userDlgProc : nullptr;
}

void ParamBlockDesc2::ParamOption(ParamID id, int tag, PBValidator* v) {
    if (ParamDef* d = FindParamDef(id); d && tag == p_validator)
        d->validator = v;
}
void ParamBlockDesc2::ParamOption(ParamID id, int tag, float f) {
    if (ParamDef* d = FindParamDef(id); d && tag == p_default)
        d->Default(f);
}
void ParamBlockDesc2::ParamOption(ParamID id, int tag, int i) {
    if (ParamDef* d = FindParamDef(id); d && tag == p_default)
        d->Default(i);
}
void ParamBlockDesc2::ParamOption(ParamID id, int tag, float lo, float hi) {
    if (ParamDef* d = FindParamDef(id); d && tag == p_range)
        d->Range(lo, hi);
}
void ParamBlockDesc2::ParamOption(ParamID id, int tag, int lo, int hi) {
    if (ParamDef* d = FindParamDef(id); d && tag == p_range)
        d->Range(lo, hi);
}

void ParamBlockDesc2::InvalidateUI(ParamID id, int tabIndex) {
    ++invalidateCount_;
    auto ls = listeners_; // a listener may remove itself
    for (auto& l : ls)
        l.second(this, id, tabIndex);
}

int ParamBlockDesc2::AddUIListener(UIListener l) {
    listeners_.emplace_back(nextListener_, std::move(l));
    return nextListener_++;
}

void ParamBlockDesc2::RemoveUIListener(int handle) {
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [handle](const auto& p) { return p.first == handle; }),
                     listeners_.end());
}

// ---- IParamBlock2 ----

IParamBlock2::IParamBlock2(ParamBlockDesc2* desc, ReferenceMaker* owner)
    : desc_(desc), owner_(owner) {
    params_.resize(desc_->Count());
    for (int i = 0; i < desc_->Count(); ++i) {
        ParamDef& d = *desc_->GetParamDefByIndex(i);
        int n = is_tab(d.type) ? d.tabSize : 1;
        params_[i].elems.assign(n, DefaultElem(d));
    }
}

IParamBlock2::~IParamBlock2() {
    DeleteAllRefs();
}

IParamBlock2* CreateParameterBlock2(ParamBlockDesc2* desc, ReferenceMaker* owner) {
    return desc ? new IParamBlock2(desc, owner) : nullptr;
}

void IParamBlock2::RefAdded(ReferenceMaker* m) {
    if (!m->IsWeakRefHolder())
        owned_ = true;
}

ReferenceMaker* IParamBlock2::GetOwner() {
    std::vector<ReferenceMaker*> deps = Dependents();
    if (!owner_ && deps.empty())
        return nullptr;
    if (owner_ && (deps.empty() || std::find(deps.begin(), deps.end(), owner_) != deps.end()))
        return owner_;
    return deps.empty() ? nullptr : deps.front();
}

IParamBlock2::Elem IParamBlock2::DefaultElem(const ParamDef& d) const {
    switch (kindOf(d.type)) {
    case Kind::Float:
        return AnimValue<float>(d.defFloat);
    case Kind::Int:
        return AnimValue<int>(d.defInt);
    case Kind::Point:
        return AnimValue<Point3>(d.defPoint3);
    default:
        return static_cast<ReferenceTarget*>(nullptr);
    }
}

IParamBlock2::Param* IParamBlock2::Find(ParamID id, ParamDef** def) {
    int i = desc_->IDtoIndex(id);
    if (i < 0)
        return nullptr;
    if (def)
        *def = desc_->GetParamDefByIndex(i);
    return &params_[i];
}

IParamBlock2::Elem* IParamBlock2::FindElem(ParamID id, int tabIndex, ParamDef** def) {
    Param* p = Find(id, def);
    if (!p || tabIndex < 0 || tabIndex >= static_cast<int>(p->elems.size()))
        return nullptr;
    return &p->elems[tabIndex];
}

ParamType2 IParamBlock2::GetParameterType(ParamID id) const {
    ParamDef* d = desc_->FindParamDef(id);
    return d ? d->type : -1;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, float& v, Interval& valid, int tabIndex) {
    Elem* e = FindElem(id, tabIndex);
    if (!e || !std::holds_alternative<AnimValue<float>>(*e))
        return FALSE;
    v = std::get<AnimValue<float>>(*e).Get(t, valid);
    return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, int& v, Interval& valid, int tabIndex) {
    Elem* e = FindElem(id, tabIndex);
    if (!e || !std::holds_alternative<AnimValue<int>>(*e))
        return FALSE;
    v = std::get<AnimValue<int>>(*e).Get(t, valid);
    return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, Point3& v, Interval& valid, int tabIndex) {
    Elem* e = FindElem(id, tabIndex);
    if (!e || !std::holds_alternative<AnimValue<Point3>>(*e))
        return FALSE;
    v = std::get<AnimValue<Point3>>(*e).Get(t, valid);
    return TRUE;
}

BOOL IParamBlock2::GetValue(ParamID id, TimeValue t, Color& v, Interval& valid, int tabIndex) {
    Point3 p;
    if (!GetValue(id, t, p, valid, tabIndex))
        return FALSE;
    v = Color(p);
    return TRUE;
}

BOOL IParamBlock2::GetRefValue(ParamID id, TimeValue t, ReferenceTarget*& v, Interval& valid,
                               int tabIndex) {
    (void)t;
    (void)valid; // a reference does not vary with time
    Elem* e = FindElem(id, tabIndex);
    if (!e || !std::holds_alternative<ReferenceTarget*>(*e))
        return FALSE;
    v = std::get<ReferenceTarget*>(*e);
    return TRUE;
}

float IParamBlock2::GetFloat(ParamID id, TimeValue t, int tabIndex) {
    float v = 0.0f;
    Interval iv = FOREVER;
    GetValue(id, t, v, iv, tabIndex);
    return v;
}
int IParamBlock2::GetInt(ParamID id, TimeValue t, int tabIndex) {
    int v = 0;
    Interval iv = FOREVER;
    GetValue(id, t, v, iv, tabIndex);
    return v;
}
Point3 IParamBlock2::GetPoint3(ParamID id, TimeValue t, int tabIndex) {
    Point3 v;
    Interval iv = FOREVER;
    GetValue(id, t, v, iv, tabIndex);
    return v;
}
Color IParamBlock2::GetColor(ParamID id, TimeValue t, int tabIndex) {
    return Color(GetPoint3(id, t, tabIndex));
}
ReferenceTarget* IParamBlock2::GetReferenceTarget(ParamID id, TimeValue t, int tabIndex) {
    ReferenceTarget* r = nullptr;
    Interval iv = FOREVER;
    GetRefValue(id, t, r, iv, tabIndex);
    return r;
}

void IParamBlock2::RecordUndo(ParamID id, const std::vector<Elem>& before) {
    if (!theHold.Holding())
        return;
    Param* p = Find(id);
    theHold.Put(new PBParamRestore(this, id, before, p->elems));
}

void IParamBlock2::Changed(ParamID id, int tabIndex) {
    lastNotifyID_ = id;
    lastNotifyTab_ = tabIndex;
    NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);
}

template <class T>
BOOL IParamBlock2::SetNumber(ParamID id, TimeValue t, T v, int tabIndex, bool forceKey) {
    ParamDef* d = nullptr;
    Elem* e = FindElem(id, tabIndex, &d);
    if (!e || !std::holds_alternative<AnimValue<T>>(*e))
        return FALSE;
    bool animatable = (d->flags & P_ANIMATABLE) != 0;
    if (forceKey && !animatable)
        return FALSE;
    std::vector<Elem> before = Find(id)->elems;
    T c = clampV(*d, v);
    auto& av = std::get<AnimValue<T>>(*e);
    if (forceKey || (animatable && Animating()))
        av.SetKey(t, c);
    else
        av.SetOffset(t, c);
    // A moved curve may leave the range at other keys; keep every key within it.
    av.Transform([d](const T& x) { return clampV(*d, x); });
    if (Find(id)->elems == before)
        return TRUE;
    RecordUndo(id, before);
    Changed(id, tabIndex);
    return TRUE;
}

BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, float v, int tabIndex) {
    return SetNumber<float>(id, t, v, tabIndex, false);
}
BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, int v, int tabIndex) {
    return SetNumber<int>(id, t, v, tabIndex, false);
}
BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, const Point3& v, int tabIndex) {
    return SetNumber<Point3>(id, t, v, tabIndex, false);
}
BOOL IParamBlock2::SetValue(ParamID id, TimeValue t, const Color& v, int tabIndex) {
    return SetNumber<Point3>(id, t, Point3(v.r, v.g, v.b), tabIndex, false);
}
BOOL IParamBlock2::SetKey(ParamID id, TimeValue t, float v, int tabIndex) {
    return SetNumber<float>(id, t, v, tabIndex, true);
}
BOOL IParamBlock2::SetKey(ParamID id, TimeValue t, int v, int tabIndex) {
    return SetNumber<int>(id, t, v, tabIndex, true);
}
BOOL IParamBlock2::SetKey(ParamID id, TimeValue t, const Point3& v, int tabIndex) {
    return SetNumber<Point3>(id, t, v, tabIndex, true);
}

BOOL IParamBlock2::IsAnimated(ParamID id, int tabIndex) {
    return KeyCount(id, tabIndex) > 0;
}

int IParamBlock2::KeyCount(ParamID id, int tabIndex) {
    Elem* e = FindElem(id, tabIndex);
    if (!e)
        return 0;
    return std::visit(
        [](auto& x) -> int {
            if constexpr (std::is_same_v<std::decay_t<decltype(x)>, ReferenceTarget*>)
                return 0;
            else
                return x.NumKeys();
        },
        *e);
}

bool IParamBlock2::AcceptRef(ParamDef& d, ReferenceTarget* r, int tabIndex) {
    if (!r)
        return true;
    ParamType2 bt = base_type(d.type);
    if (bt == TYPE_INODE && r->SuperClassID() != BASENODE_CLASS_ID)
        return false;
    if (bt == TYPE_TEXMAP && r->SuperClassID() != TEXMAP_CLASS_ID)
        return false;
    if (d.validator) {
        PB2Value v;
        v.r = r;
        if (!d.validator->Validate(v, GetOwner(), d.ID, tabIndex))
            return false;
    }
    return true;
}

BOOL IParamBlock2::SetRefValue(ParamID id, TimeValue t, ReferenceTarget* v, int tabIndex) {
    (void)t;
    ParamDef* d = nullptr;
    Elem* e = FindElem(id, tabIndex, &d);
    if (!e || !std::holds_alternative<ReferenceTarget*>(*e))
        return FALSE;
    if (!AcceptRef(*d, v, tabIndex))
        return FALSE;
    if (std::get<ReferenceTarget*>(*e) == v)
        return TRUE;
    std::vector<Elem> before = Find(id)->elems;
    std::vector<Elem> after = before;
    after[tabIndex] = v;
    AssignParam(id, after);
    RecordUndo(id, before);
    Changed(id, tabIndex);
    return TRUE;
}

int IParamBlock2::Count(ParamID id) {
    ParamDef* d = nullptr;
    Param* p = Find(id, &d);
    if (!p)
        return -1;
    return static_cast<int>(p->elems.size());
}

template <class T> int IParamBlock2::InsertNumbers(ParamID id, int at, int num, const T* el) {
    ParamDef* d = nullptr;
    Param* p = Find(id, &d);
    if (!p || !is_tab(d->type) || num < 0 || (num > 0 && !el) ||
        !std::holds_alternative<AnimValue<T>>(DefaultElem(*d)))
        return -1;
    int n = static_cast<int>(p->elems.size());
    if (at < 0 || at > n)
        at = n;
    if (num == 0)
        return n;
    // The old list only for an undo record: copying it on every insert made filling a list
    // one entry at a time quadratic.
    std::vector<Elem> before;
    if (theHold.Holding())
        before = p->elems;
    std::vector<Elem> add;
    for (int k = 0; k < num; ++k)
        add.push_back(AnimValue<T>(clampV(*d, el[k])));
    p->elems.insert(p->elems.begin() + at, add.begin(), add.end());
    RecordUndo(id, before);
    Changed(id, at);
    return static_cast<int>(p->elems.size());
}

int IParamBlock2::Append(ParamID id, int num, const float* el, int) {
    return InsertNumbers(id, -1, num, el);
}
int IParamBlock2::Append(ParamID id, int num, const int* el, int) {
    return InsertNumbers(id, -1, num, el);
}
int IParamBlock2::Append(ParamID id, int num, const Point3* el, int) {
    return InsertNumbers(id, -1, num, el);
}
int IParamBlock2::Insert(ParamID id, int at, int num, const float* el) {
    return InsertNumbers(id, at, num, el);
}
int IParamBlock2::Insert(ParamID id, int at, int num, const int* el) {
    return InsertNumbers(id, at, num, el);
}
int IParamBlock2::Insert(ParamID id, int at, int num, const Point3* el) {
    return InsertNumbers(id, at, num, el);
}

int IParamBlock2::InsertRefs(ParamID id, int at, const std::vector<ReferenceTarget*>& refs) {
    ParamDef* d = nullptr;
    Param* p = Find(id, &d);
    if (!p || !is_tab(d->type) || kindOf(d->type) != Kind::Ref)
        return -1;
    int n = static_cast<int>(p->elems.size());
    if (at < 0 || at > n)
        at = n;
    std::vector<Elem> before;
    if (theHold.Holding())
        before = p->elems;
    int base = RefSlotBase(desc_->IDtoIndex(id));
    int pos = at;
    for (ReferenceTarget* r : refs) {
        // One entry at a time, so that the validator sees the entries this call already added.
        if (!AcceptRef(*d, r, pos))
            continue;
        p->elems.insert(p->elems.begin() + pos, static_cast<ReferenceTarget*>(nullptr));
        if (r)
            ReplaceReference(base + pos, r);
        ++pos;
    }
    if (pos == at)
        return n;
    RecordUndo(id, before);
    Changed(id, at);
    return static_cast<int>(p->elems.size());
}

int IParamBlock2::Delete(ParamID id, int start, int num) {
    ParamDef* d = nullptr;
    Param* p = Find(id, &d);
    if (!p || !is_tab(d->type))
        return -1;
    int n = static_cast<int>(p->elems.size());
    if (start < 0 || start >= n || num <= 0)
        return n;
    num = std::min(num, n - start);
    std::vector<Elem> before = p->elems;
    std::vector<Elem> after = before;
    after.erase(after.begin() + start, after.begin() + start + num);
    AssignParam(id, after);
    RecordUndo(id, before);
    Changed(id, start);
    return static_cast<int>(Find(id)->elems.size());
}

int IParamBlock2::SetCount(ParamID id, int count) {
    ParamDef* d = nullptr;
    Param* p = Find(id, &d);
    if (!p || !is_tab(d->type) || count < 0)
        return -1;
    int n = static_cast<int>(p->elems.size());
    if (count == n)
        return n;
    std::vector<Elem> before = p->elems;
    std::vector<Elem> after = before;
    after.resize(count, DefaultElem(*d));
    AssignParam(id, after);
    RecordUndo(id, before);
    Changed(id, std::min(n, count));
    return count;
}

// ---- references ----

int IParamBlock2::RefSlotBase(int paramIndex) {
    int base = 0;
    for (int i = 0; i < paramIndex; ++i)
        if (kindOf(desc_->GetParamDefByIndex(i)->type) == Kind::Ref)
            base += static_cast<int>(params_[i].elems.size());
    return base;
}

bool IParamBlock2::RefSlot(int slot, int& paramIndex, int& elem) {
    if (slot < 0)
        return false;
    for (int i = 0; i < static_cast<int>(params_.size()); ++i) {
        if (kindOf(desc_->GetParamDefByIndex(i)->type) != Kind::Ref)
            continue;
        int n = static_cast<int>(params_[i].elems.size());
        if (slot < n) {
            paramIndex = i;
            elem = slot;
            return true;
        }
        slot -= n;
    }
    return false;
}

int IParamBlock2::NumRefs() {
    return RefSlotBase(static_cast<int>(params_.size()));
}

RefTargetHandle IParamBlock2::GetReference(int i) {
    int pi = 0, k = 0;
    if (!RefSlot(i, pi, k))
        return nullptr;
    return std::get<ReferenceTarget*>(params_[pi].elems[k]);
}

void IParamBlock2::SetReference(int i, RefTargetHandle rtarg) {
    int pi = 0, k = 0;
    if (RefSlot(i, pi, k))
        params_[pi].elems[k] = rtarg;
}

void IParamBlock2::AssignParam(ParamID id, const std::vector<Elem>& elems) {
    int pi = desc_->IDtoIndex(id);
    if (pi < 0)
        return;
    Param& p = params_[pi];
    if (kindOf(desc_->GetParamDefByIndex(pi)->type) != Kind::Ref) {
        p.elems = elems;
        return;
    }
    // Let go of the old entries first (without deleting targets that come back), then resize
    // with null entries and take the new references slot by slot.
    int base = RefSlotBase(pi);
    std::vector<ReferenceTarget*> keepAlive;
    for (int k = 0; k < static_cast<int>(p.elems.size()); ++k)
        if (ReferenceTarget* r = std::get<ReferenceTarget*>(p.elems[k])) {
            keepAlive.push_back(r);
            ReplaceReference(base + k, nullptr, FALSE);
        }
    p.elems.assign(elems.size(), static_cast<ReferenceTarget*>(nullptr));
    for (int k = 0; k < static_cast<int>(elems.size()); ++k)
        if (ReferenceTarget* r = std::get<ReferenceTarget*>(elems[k]))
            ReplaceReference(base + k, r);
    for (ReferenceTarget* r : keepAlive)
        if (std::find(elems.begin(), elems.end(), Elem(r)) == elems.end())
            r->MaybeAutoDelete();
}

int IParamBlock2::NumSubs() {
    int n = 0;
    for (int i = 0; i < desc_->Count(); ++i)
        if (desc_->GetParamDefByIndex(i)->flags & P_ANIMATABLE)
            ++n;
    return n;
}

MSTR IParamBlock2::SubAnimName(int s) {
    for (int i = 0; i < desc_->Count(); ++i) {
        ParamDef* d = desc_->GetParamDefByIndex(i);
        if ((d->flags & P_ANIMATABLE) && s-- == 0)
            return d->int_name;
    }
    return MSTR();
}

ReferenceTarget* IParamBlock2::Clone(RemapDir& remap) {
    auto* c = new IParamBlock2(desc_, nullptr);
    BaseClone(this, c, remap);
    for (int i = 0; i < desc_->Count(); ++i) {
        ParamDef* d = desc_->GetParamDefByIndex(i);
        std::vector<Elem> elems = params_[i].elems;
        if (kindOf(d->type) == Kind::Ref) {
            bool isNode = base_type(d->type) == TYPE_INODE;
            for (Elem& e : elems) {
                ReferenceTarget* r = std::get<ReferenceTarget*>(e);
                e = isNode ? remap.Remapped(r) : remap.CloneRef(r);
            }
        }
        c->AssignParam(d->ID, elems);
    }
    return c;
}

// ---- saving and loading ----

bool IParamBlock2::Save(std::ostream& os, const std::function<int(ReferenceTarget*)>& refId) {
    os << "ParamBlock2 " << desc_->ID << ' ' << desc_->Count() << '\n';
    for (int i = 0; i < desc_->Count(); ++i) {
        ParamDef* d = desc_->GetParamDefByIndex(i);
        const Param& p = params_[i];
        os << "p " << d->ID << ' ' << d->type << ' ' << p.elems.size() << '\n';
        for (const Elem& e : p.elems) {
            std::visit(
                [&](const auto& x) {
                    using X = std::decay_t<decltype(x)>;
                    if constexpr (std::is_same_v<X, ReferenceTarget*>) {
                        os << "r " << (x ? refId(x) : -1);
                    } else {
                        auto put = [&](const auto& v) {
                            using V = std::decay_t<decltype(v)>;
                            if constexpr (std::is_same_v<V, float>)
                                os << hexFloat(v);
                            else if constexpr (std::is_same_v<V, int>)
                                os << v;
                            else
                                os << hexFloat(v.x) << ' ' << hexFloat(v.y) << ' ' << hexFloat(v.z);
                        };
                        if (!x.IsAnimated()) {
                            os << "c ";
                            put(x.Constant());
                        } else {
                            os << "k " << x.NumKeys();
                            for (const auto& k : x.Keys()) {
                                os << ' ' << k.time << ' ';
                                put(k.value);
                            }
                        }
                    }
                },
                e);
            os << '\n';
        }
    }
    os << "end\n";
    return static_cast<bool>(os);
}

bool IParamBlock2::Load(std::istream& is, const std::function<ReferenceTarget*(int)>& refById,
                        std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error)
            *error = what;
        return false;
    };
    std::string tok;
    auto next = [&]() -> bool { return static_cast<bool>(is >> tok); };
    auto nextInt = [&](long long& v) { return next() && parseInt(tok, v); };
    auto nextFloat = [&](float& v) { return next() && parseFloat(tok, v); };

    long long blockID = 0, nparams = 0;
    if (!next() || tok != "ParamBlock2")
        return fail("not a parameter block record (expected \"ParamBlock2\")");
    if (!nextInt(blockID) || !nextInt(nparams) || nparams < 0)
        return fail("bad block header");
    if (blockID != desc_->ID)
        return fail("block ID " + std::to_string(blockID) + " does not match the descriptor's " +
                    std::to_string(desc_->ID));
    std::vector<std::pair<ParamID, std::vector<Elem>>> loaded;
    for (long long n = 0; n < nparams; ++n) {
        long long id = 0, type = 0, count = 0;
        if (!next() || tok != "p" || !nextInt(id) || !nextInt(type) || !nextInt(count) || count < 0)
            return fail("bad parameter header at parameter " + std::to_string(n));
        ParamDef* d = desc_->FindParamDef(static_cast<ParamID>(id));
        if (!d)
            return fail("unknown parameter ID " + std::to_string(id));
        if (d->type != type)
            return fail("parameter " + d->int_name + " has type " + std::to_string(d->type) +
                        ", the record says " + std::to_string(type));
        if (!is_tab(d->type) && count != 1)
            return fail("parameter " + d->int_name + " is not a table but has " +
                        std::to_string(count) + " entries");
        Kind kind = kindOf(d->type);
        std::vector<Elem> elems;
        for (long long k = 0; k < count; ++k) {
            std::string what = "entry " + std::to_string(k) + " of " + d->int_name;
            if (!next())
                return fail("missing " + what);
            if (kind == Kind::Ref) {
                long long rid = 0;
                if (tok != "r" || !nextInt(rid))
                    return fail("bad reference in " + what);
                ReferenceTarget* r = rid < 0 ? nullptr : refById(static_cast<int>(rid));
                if (rid >= 0 && !r)
                    return fail("unresolved reference " + std::to_string(rid) + " in " + what);
                elems.push_back(r);
                continue;
            }
            bool keyed = tok == "k";
            if (!keyed && tok != "c")
                return fail("bad value tag in " + what);
            long long nk = 1;
            if (keyed && (!nextInt(nk) || nk < 1))
                return fail("bad key count in " + what);
            auto readValues = [&](auto& av) -> bool {
                using AV = std::decay_t<decltype(av)>;
                using T = std::decay_t<decltype(av.Constant())>;
                std::vector<typename AV::Key> keys;
                for (long long j = 0; j < nk; ++j) {
                    long long kt = 0;
                    if (keyed && !nextInt(kt))
                        return false;
                    T v{};
                    if constexpr (std::is_same_v<T, float>) {
                        if (!nextFloat(v))
                            return false;
                    } else if constexpr (std::is_same_v<T, int>) {
                        long long iv = 0;
                        if (!nextInt(iv))
                            return false;
                        v = static_cast<int>(iv);
                    } else {
                        if (!nextFloat(v.x) || !nextFloat(v.y) || !nextFloat(v.z))
                            return false;
                    }
                    keys.push_back({static_cast<TimeValue>(kt), v});
                }
                if (keyed)
                    av.SetKeys(keys);
                else
                    av.SetConstant(keys[0].value);
                return true;
            };
            Elem e = DefaultElem(*d);
            bool ok = std::visit(
                [&](auto& x) -> bool {
                    if constexpr (std::is_same_v<std::decay_t<decltype(x)>, ReferenceTarget*>)
                        return false;
                    else
                        return readValues(x);
                },
                e);
            if (!ok)
                return fail("bad value in " + what);
            elems.push_back(std::move(e));
        }
        loaded.emplace_back(d->ID, std::move(elems));
    }
    if (!next() || tok != "end")
        return fail("missing \"end\" of the block record");
    for (auto& [id, elems] : loaded)
        AssignParam(id, elems);
    lastNotifyID_ = -1;
    lastNotifyTab_ = -1;
    NotifyDependents(FOREVER, PART_ALL, REFMSG_CHANGE);
    return true;
}
