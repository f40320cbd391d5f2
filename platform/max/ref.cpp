#include "platform/max/ref.h"

#include <algorithm>

// ---- ReferenceMaker ----

ReferenceMaker::~ReferenceMaker() {
    // Derived parts are gone, so slots cannot be cleared; only the targets' records are dropped.
    // One target at a time: deleting one target may delete others, whose destructors then drop
    // their own entries from held_ before we would reach them.
    while (!held_.empty()) {
        ReferenceTarget* t = held_.back();
        auto n = std::count(held_.begin(), held_.end(), t);
        held_.erase(std::remove(held_.begin(), held_.end(), t), held_.end());
        for (; n > 0; --n)
            t->RemoveDependent(this);
        t->MaybeAutoDelete();
    }
}

void ReferenceMaker::ForgetTarget(ReferenceTarget* t) {
    auto it = std::find(held_.begin(), held_.end(), t);
    if (it != held_.end())
        held_.erase(it);
}

RefResult ReferenceMaker::ReplaceReference(int which, RefTargetHandle newtarg, BOOL delOld) {
    if (which < 0 || which >= NumRefs())
        return REF_FAIL;
    RefTargetHandle old = GetReference(which);
    if (old == newtarg)
        return REF_SUCCEED;
    // Register with the new target first so that a target moving between two slots of the same
    // maker is never left without a dependent (and auto-deleted) in between.
    if (newtarg) {
        newtarg->AddDependent(this);
        held_.push_back(newtarg);
    }
    SetReference(which, newtarg);
    if (old) {
        old->RemoveDependent(this);
        ForgetTarget(old);
        if (delOld)
            old->MaybeAutoDelete();
    }
    return REF_SUCCEED;
}

RefResult ReferenceMaker::DeleteReference(int i) {
    return ReplaceReference(i, nullptr, TRUE);
}

RefResult ReferenceMaker::DeleteAllRefs() {
    for (int i = 0, n = NumRefs(); i < n; ++i)
        if (GetReference(i))
            ReplaceReference(i, nullptr, TRUE);
    return REF_SUCCEED;
}

RefResult ReferenceMaker::ReceiveMessage(const Interval& changeInt, RefTargetHandle hTarget,
                                         PartID& partID, RefMessage message) {
    if (message == REFMSG_TEST_DEPENDENCY)
        SetAFlag(A_DEPENDENCY_TEST);
    return NotifyRefChanged(changeInt, hTarget, partID, message);
}

// ---- ReferenceTarget ----

ReferenceTarget::~ReferenceTarget() {
    dying_ = true;
    // Each remaining dependent hears of the deletion and loses every slot that held us.
    while (!deps_.empty()) {
        ReferenceMaker* m = deps_.front().maker;
        int count = deps_.front().count;
        deps_.erase(deps_.begin());
        for (int k = 0; k < count; ++k)
            m->ForgetTarget(this);
        PartID part = PART_ALL;
        m->ReceiveMessage(FOREVER, this, part, REFMSG_TARGET_DELETED);
        for (int i = 0, n = m->NumRefs(); i < n; ++i)
            if (m->GetReference(i) == this)
                m->SetReference(i, nullptr);
    }
}

void ReferenceTarget::AddDependent(ReferenceMaker* m) {
    bool found = false;
    for (DepEntry& e : deps_)
        if (e.maker == m) {
            ++e.count;
            found = true;
            break;
        }
    if (!found)
        deps_.push_back({m, 1, m->IsWeakRefHolder()});
    RefAdded(m);
}

void ReferenceTarget::RemoveDependent(ReferenceMaker* m) {
    for (auto it = deps_.begin(); it != deps_.end(); ++it)
        if (it->maker == m) {
            if (--it->count == 0)
                deps_.erase(it);
            return;
        }
}

std::vector<ReferenceMaker*> ReferenceTarget::Dependents() const {
    std::vector<ReferenceMaker*> r;
    r.reserve(deps_.size());
    for (const DepEntry& e : deps_)
        if (!e.weak)
            r.push_back(e.maker);
    return r;
}

int ReferenceTarget::DependentReferenceCount() const {
    int n = 0;
    for (const DepEntry& e : deps_)
        if (!e.weak)
            n += e.count;
    return n;
}

void ReferenceTarget::MaybeAutoDelete() {
    bool referenced =
        std::any_of(deps_.begin(), deps_.end(), [](const DepEntry& e) { return !e.weak; });
    if (!dying_ && !referenced && AutoDelete()) {
        dying_ = true;
        DeleteThis();
    }
}

RefResult ReferenceTarget::NotifyDependents(Interval changeInt, PartID partID, RefMessage msg,
                                            SClass_ID sclass, BOOL propagate,
                                            RefTargetHandle hTarg) {
    if (std::find(sending_.begin(), sending_.end(), msg) != sending_.end())
        return REF_SUCCEED;
    sending_.push_back(msg);
    // Handlers may add or drop references; work on a snapshot and skip makers that let go.
    std::vector<ReferenceMaker*> snapshot = Dependents();
    for (ReferenceMaker* m : snapshot) {
        bool still = std::any_of(deps_.begin(), deps_.end(),
                                 [m](const DepEntry& e) { return e.maker == m; });
        if (!still)
            continue;
        if (sclass != NOTIFY_ALL && m->SuperClassID() != sclass)
            continue;
        PartID part = partID;
        RefResult r = m->ReceiveMessage(changeInt, hTarg ? hTarg : this, part, msg);
        if (propagate && r != REF_STOP && m->IsRefTarget())
            static_cast<ReferenceTarget*>(m)->NotifyDependents(changeInt, part, msg, NOTIFY_ALL,
                                                               TRUE, nullptr);
    }
    sending_.erase(std::find(sending_.begin(), sending_.end(), msg));
    return REF_SUCCEED;
}

namespace {
int enumFrom(ReferenceMaker* m, DependentEnumProc* dep, std::vector<ReferenceMaker*>& visited) {
    if (std::find(visited.begin(), visited.end(), m) != visited.end())
        return 0;
    visited.push_back(m);
    int r = dep->proc(m);
    if (r == DEP_ENUM_HALT)
        return 1;
    if (r == DEP_ENUM_SKIP || !m->IsRefTarget())
        return 0;
    for (ReferenceMaker* d : static_cast<ReferenceTarget*>(m)->Dependents())
        if (enumFrom(d, dep, visited))
            return 1;
    return 0;
}
} // namespace

int ReferenceTarget::DoEnumDependents(DependentEnumProc* dep) {
    if (!dep)
        return 0;
    std::vector<ReferenceMaker*> visited;
    return enumFrom(this, dep, visited);
}

void ReferenceTarget::BaseClone(ReferenceTarget* from, ReferenceTarget* to, RemapDir& remap) {
    if (!from || !to)
        return;
    if (!remap.FindMapping(from))
        remap.AddEntry(from, to);
    to->ClearAFlag(~DWORD(0));
    to->SetAFlag(from->GetAFlags() & ~A_DEPENDENCY_TEST);
}

// ---- RemapDir ----

RefTargetHandle RemapDir::CloneRef(RefTargetHandle oldTarg) {
    if (!oldTarg)
        return nullptr;
    if (RefTargetHandle m = FindMapping(oldTarg))
        return m;
    RefTargetHandle c = oldTarg->Clone(*this);
    if (c && !FindMapping(oldTarg))
        AddEntry(oldTarg, c);
    return c;
}

void RemapDir::AddEntry(RefTargetHandle hfrom, RefTargetHandle hto) {
    if (hfrom)
        map_[hfrom] = hto;
}

RefTargetHandle RemapDir::FindMapping(RefTargetHandle from) const {
    auto it = map_.find(from);
    return it == map_.end() ? nullptr : it->second;
}
