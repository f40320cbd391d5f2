#include "platform/max/ref.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A target with a fixed number of reference slots, for building chains and loops.
class Link : public ReferenceTarget {
public:
    explicit Link(int nrefs = 1, SClass_ID sc = 0x20, bool autoDel = false)
        : refs_(nrefs, nullptr), sc_(sc), autoDel_(autoDel) {}
    ~Link() override {
        if (deleted)
            ++*deleted;
    }
    SClass_ID SuperClassID() override { return sc_; }
    int NumRefs() override { return static_cast<int>(refs_.size()); }
    RefTargetHandle GetReference(int i) override { return refs_[i]; }
    void SetReference(int i, RefTargetHandle r) override { refs_[i] = r; }
    RefResult NotifyRefChanged(const Interval&, RefTargetHandle h, PartID& part,
                               RefMessage msg) override {
        messages.push_back(msg);
        parts.push_back(part);
        senders.push_back(h);
        return stop ? REF_STOP : REF_SUCCEED;
    }
    bool AutoDelete() override { return autoDel_; }
    ReferenceTarget* Clone(RemapDir& remap) override {
        auto* c = new Link(NumRefs(), sc_, autoDel_);
        BaseClone(this, c, remap);
        for (int i = 0; i < NumRefs(); ++i)
            c->ReplaceReference(i, remap.CloneRef(refs_[i]));
        ++clones;
        return c;
    }

    std::vector<RefMessage> messages;
    std::vector<PartID> parts;
    std::vector<RefTargetHandle> senders;
    bool stop = false;
    int clones = 0;
    int* deleted = nullptr;

private:
    std::vector<RefTargetHandle> refs_;
    SClass_ID sc_;
    bool autoDel_;
};

// The dependency test as scene code runs it: clear the node's bit, let the object send the
// test message to all its dependents, and read the bit.
bool dependsOn(Link& node, Link& object) {
    node.ClearAFlag(A_DEPENDENCY_TEST);
    object.NotifyDependents(FOREVER, 0, REFMSG_TEST_DEPENDENCY);
    return node.TestAFlag(A_DEPENDENCY_TEST);
}

TEST(MaxRef, ReplaceReferenceMaintainsDependents) {
    Link a, b, t;
    a.ReplaceReference(0, &t);
    b.ReplaceReference(0, &t);
    EXPECT_EQ(t.Dependents(), (std::vector<ReferenceMaker*>{&a, &b}));
    Link u;
    a.ReplaceReference(0, &u);
    EXPECT_EQ(t.Dependents(), (std::vector<ReferenceMaker*>{&b}));
    EXPECT_EQ(a.GetReference(0), &u);
    EXPECT_EQ(a.ReplaceReference(5, &u), REF_FAIL);
    b.DeleteAllRefs();
    EXPECT_TRUE(t.Dependents().empty());
    EXPECT_EQ(b.GetReference(0), nullptr);
}

TEST(MaxRef, DependencyTestFindsLoopThroughChain) {
    // object <- modifier <- node: the node depends on the object through the chain.
    Link object, modifier, node, unrelated;
    modifier.ReplaceReference(0, &object);
    node.ReplaceReference(0, &modifier);
    EXPECT_TRUE(dependsOn(node, object));
    EXPECT_FALSE(dependsOn(unrelated, object));
    // The test runs only downstream: the object does not depend on the node.
    EXPECT_FALSE(dependsOn(object, node));
    // A handler answering REF_STOP cuts the chain.
    modifier.stop = true;
    EXPECT_FALSE(dependsOn(node, object));
}

TEST(MaxRef, NotifyTerminatesOnReferenceCycle) {
    Link a, b;
    a.ReplaceReference(0, &b);
    b.ReplaceReference(0, &a);
    a.NotifyDependents(FOREVER, PART_GEOM, REFMSG_CHANGE);
    // b hears a once; a hears b's propagation once; a does not re-enter its own sending.
    EXPECT_EQ(b.messages.size(), 1u);
    EXPECT_EQ(a.messages.size(), 1u);
    EXPECT_EQ(b.parts[0], PART_GEOM);
    EXPECT_EQ(b.senders[0], &a);
    a.DeleteAllRefs();
}

TEST(MaxRef, SuperClassFilterAndPropagationFlag) {
    Link obj, nodeLike(1, BASENODE_CLASS_ID), other, downstream;
    nodeLike.ReplaceReference(0, &obj);
    other.ReplaceReference(0, &obj);
    downstream.ReplaceReference(0, &other);
    obj.NotifyDependents(FOREVER, PART_GEOM, REFMSG_CHANGE, BASENODE_CLASS_ID);
    EXPECT_EQ(nodeLike.messages.size(), 1u);
    EXPECT_TRUE(other.messages.empty());
    obj.NotifyDependents(FOREVER, PART_GEOM, REFMSG_CHANGE, NOTIFY_ALL, FALSE);
    EXPECT_EQ(other.messages.size(), 1u);
    EXPECT_TRUE(downstream.messages.empty());
}

TEST(MaxRef, EnumDependentsVisitsEachMakerOnceAndHonoursSkipAndHalt) {
    Link obj, n1, n2, top(2);
    n1.ReplaceReference(0, &obj);
    n2.ReplaceReference(0, &obj);
    top.ReplaceReference(0, &n1);
    top.ReplaceReference(1, &n2); // reached twice, visited once
    struct Rec : DependentEnumProc {
        std::vector<ReferenceMaker*> seen;
        ReferenceMaker* skip = nullptr;
        ReferenceMaker* halt = nullptr;
        int proc(ReferenceMaker* m) override {
            seen.push_back(m);
            if (m == halt)
                return DEP_ENUM_HALT;
            return m == skip ? DEP_ENUM_SKIP : DEP_ENUM_CONTINUE;
        }
    } rec;
    EXPECT_EQ(obj.DoEnumDependents(&rec), 0);
    EXPECT_EQ(rec.seen, (std::vector<ReferenceMaker*>{&obj, &n1, &top, &n2}));
    Rec skip;
    skip.skip = &n1;
    obj.DoEnumDependents(&skip);
    EXPECT_EQ(skip.seen, (std::vector<ReferenceMaker*>{&obj, &n1, &n2, &top}));
    Rec halt;
    halt.halt = &n1;
    EXPECT_EQ(obj.DoEnumDependents(&halt), 1);
    EXPECT_EQ(halt.seen, (std::vector<ReferenceMaker*>{&obj, &n1}));
}

TEST(MaxRef, DeletedTargetClearsSlotsAndTellsDependents) {
    Link holder(2);
    auto* t = new Link;
    holder.ReplaceReference(0, t);
    holder.ReplaceReference(1, t);
    EXPECT_EQ(t->DependentReferenceCount(), 2);
    delete t;
    EXPECT_EQ(holder.GetReference(0), nullptr);
    EXPECT_EQ(holder.GetReference(1), nullptr);
    ASSERT_EQ(holder.messages.size(), 1u);
    EXPECT_EQ(holder.messages[0], REFMSG_TARGET_DELETED);
    EXPECT_EQ(holder.HeldReferenceCount(), 0);
}

TEST(MaxRef, AutoDeleteTargetGoesWithLastReference) {
    int deleted = 0;
    auto* owned = new Link(1, 0x20, true);
    owned->deleted = &deleted;
    {
        Link owner(2);
        owner.ReplaceReference(0, owned);
        owner.ReplaceReference(1, owned);
        owner.ReplaceReference(0, nullptr);
        EXPECT_EQ(deleted, 0);
    }
    EXPECT_EQ(deleted, 1);
}

TEST(MaxRef, CloneWithRemapClonesSharedTargetOnce) {
    Link shared;
    Link top(2);
    top.ReplaceReference(0, &shared);
    top.ReplaceReference(1, &shared);
    top.SetAFlag(0x10 | A_DEPENDENCY_TEST);
    RemapDir remap = NewRemapDir();
    auto* c = static_cast<Link*>(remap.CloneRef(&top));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(shared.clones, 1);
    EXPECT_NE(c->GetReference(0), &shared);
    EXPECT_EQ(c->GetReference(0), c->GetReference(1));
    EXPECT_EQ(remap.FindMapping(&top), c);
    EXPECT_EQ(remap.CloneRef(&top), c);
    EXPECT_TRUE(c->TestAFlag(0x10));
    EXPECT_FALSE(c->TestAFlag(A_DEPENDENCY_TEST));
    EXPECT_EQ(remap.CloneRef(nullptr), nullptr);
    ReferenceTarget* sharedClone = c->GetReference(0);
    delete c;
    delete sharedClone;
}

} // namespace
