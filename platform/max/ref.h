// References and dependents of the host stand-in: Animatable, ReferenceMaker, ReferenceTarget,
// RemapDir and DependentEnumProc. Scene nodes, objects, texture maps and parameter blocks all
// build on these classes, so keep the interface stable.
//
// Model: a maker's reference slots are its own business (GetReference/SetReference); the base
// classes keep the bookkeeping that lets a target know its dependents and lets a maker let go of
// its targets when it is destroyed. A target that is destroyed while still referenced tells each
// dependent (REFMSG_TARGET_DELETED) and clears the slots that pointed at it, so readers see null.
#pragma once

#include "platform/max/maxtypes.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class ReferenceMaker;
class ReferenceTarget;
class RemapDir;
class BaseInterface;
class IParamBlock2;
using RefTargetHandle = ReferenceTarget*;
using RefMakerHandle = ReferenceMaker*;
using BlockID = short;

// Results of a reference message handler.
using RefResult = int;
constexpr RefResult REF_FAIL = 0;
constexpr RefResult REF_SUCCEED = 1;
constexpr RefResult REF_DONTCARE = 2;
// Stops the message from travelling further along this branch of dependents.
constexpr RefResult REF_STOP = 3;

using RefMessage = unsigned int;
constexpr RefMessage REFMSG_TARGET_DELETED = 0x3;
constexpr RefMessage REFMSG_CHANGE = 0x50;
constexpr RefMessage REFMSG_NODE_NAMECHANGE = 0x54;
constexpr RefMessage REFMSG_SUBANIM_STRUCTURE_CHANGED = 0x57;
constexpr RefMessage REFMSG_TEST_DEPENDENCY = 0x107;

// Which parts of an object a change touches.
using PartID = ULONG;
constexpr PartID PART_TOPO = 1 << 0;
constexpr PartID PART_GEOM = 1 << 1;
constexpr PartID PART_TEXMAP = 1 << 2;
constexpr PartID PART_MTL = 1 << 3;
constexpr PartID PART_SELECT = 1 << 4;
constexpr PartID PART_SUBSEL_TYPE = 1 << 5;
constexpr PartID PART_DISPLAY = 1 << 6;
constexpr PartID PART_VERTCOLOR = 1 << 7;
constexpr PartID PART_TM = 1 << 24;
constexpr PartID PART_OBJ = PART_TOPO | PART_GEOM | PART_TEXMAP | PART_MTL | PART_SELECT |
                            PART_SUBSEL_TYPE | PART_DISPLAY | PART_VERTCOLOR;
constexpr PartID PART_ALL = PART_OBJ | PART_TM;

// Super-class filter of NotifyDependents meaning "every dependent".
constexpr SClass_ID NOTIFY_ALL = 0xfffffff0;

// Animatable flag bits (Animatable::TestAFlag and friends).
// Set on a maker whenever it receives REFMSG_TEST_DEPENDENCY: clear it, send the message from a
// target, and a set bit afterwards means the maker depends on that target.
constexpr DWORD A_DEPENDENCY_TEST = 0x04000000;

// Answers of DependentEnumProc::proc.
constexpr int DEP_ENUM_CONTINUE = 0;
constexpr int DEP_ENUM_HALT = 1;
constexpr int DEP_ENUM_SKIP = 2; // do not descend into this maker's own dependents

class Animatable {
public:
    Animatable() = default;
    Animatable(const Animatable&) = delete;
    Animatable& operator=(const Animatable&) = delete;
    virtual ~Animatable() = default;

    virtual Class_ID ClassID() { return Class_ID(0, 0); }
    virtual SClass_ID SuperClassID() { return 0; }
    virtual void GetClassName(MSTR& s) { s.clear(); }
    virtual void DeleteThis() { delete this; }

    // Interfaces by 32-bit ID (plain pointers) and by Interface_ID (published interfaces).
    virtual void* GetInterface(ULONG id) {
        (void)id;
        return nullptr;
    }
    virtual BaseInterface* GetInterface(Interface_ID id) {
        (void)id;
        return nullptr;
    }
    virtual void ReleaseInterface(ULONG id, void* i) {
        (void)id;
        (void)i;
    }

    bool TestAFlag(DWORD mask) const { return (aflag_ & mask) != 0; }
    void SetAFlag(DWORD mask) { aflag_ |= mask; }
    void ClearAFlag(DWORD mask) { aflag_ &= ~mask; }
    DWORD GetAFlags() const { return aflag_; }

    // Sub-animatables as the track view sees them.
    virtual int NumSubs() { return 0; }
    virtual Animatable* SubAnim(int i) {
        (void)i;
        return nullptr;
    }
    virtual MSTR SubAnimName(int i) {
        (void)i;
        return MSTR();
    }

    // Parameter blocks the animatable carries.
    virtual int NumParamBlocks() { return 0; }
    virtual IParamBlock2* GetParamBlock(int i) {
        (void)i;
        return nullptr;
    }
    virtual IParamBlock2* GetParamBlockByID(BlockID id) {
        (void)id;
        return nullptr;
    }

private:
    DWORD aflag_ = 0;
};

class ReferenceMaker : public Animatable {
public:
    ReferenceMaker() = default;
    // Lets go of every target still held (without calling virtuals of this half-destroyed maker).
    ~ReferenceMaker() override;

    virtual int NumRefs() { return 0; }
    virtual RefTargetHandle GetReference(int i) {
        (void)i;
        return nullptr;
    }
    // Stores a target in a slot; called only through ReplaceReference / DeleteReference and when
    // a target is destroyed. Must not touch the bookkeeping itself.
    virtual void SetReference(int i, RefTargetHandle rtarg) {
        (void)i;
        (void)rtarg;
    }

    // Makes slot `which` refer to `newtarg`, registering this maker as its dependent and
    // unregistering from the old target (which may then delete itself when delOld is set).
    RefResult ReplaceReference(int which, RefTargetHandle newtarg, BOOL delOld = TRUE);
    RefResult DeleteReference(int i);
    RefResult DeleteAllRefs();
    RefResult DeleteAllRefsFromMe() { return DeleteAllRefs(); }

    // Called for every message a target sends to this maker. REFMSG_TEST_DEPENDENCY has already
    // set A_DEPENDENCY_TEST when this is called.
    virtual RefResult NotifyRefChanged(const Interval& changeInt, RefTargetHandle hTarget,
                                       PartID& partID, RefMessage message) {
        (void)changeInt;
        (void)hTarget;
        (void)partID;
        (void)message;
        return REF_SUCCEED;
    }

    virtual BOOL IsRefTarget() { return FALSE; }
    virtual BOOL IsRefMaker() { return TRUE; }
    // A weak holder only watches its targets (undo records do): it hears nothing but
    // REFMSG_TARGET_DELETED, is not listed among a target's dependents or enumerated, and does
    // not keep a target alive. Must answer the same for the maker's whole life.
    virtual bool IsWeakRefHolder() { return false; }

    // Number of references this maker holds through ReplaceReference (counting repeats).
    int HeldReferenceCount() const { return static_cast<int>(held_.size()); }

private:
    friend class ReferenceTarget;
    // Delivery of one message from a target: the generic handling, then NotifyRefChanged.
    RefResult ReceiveMessage(const Interval& changeInt, RefTargetHandle hTarget, PartID& partID,
                             RefMessage message);
    void ForgetTarget(ReferenceTarget* t); // drops one bookkeeping entry for t
    std::vector<ReferenceTarget*> held_;
};

class DependentEnumProc {
public:
    virtual ~DependentEnumProc() = default;
    virtual int proc(ReferenceMaker* rmaker) = 0;
};

class ReferenceTarget : public ReferenceMaker {
public:
    ReferenceTarget() = default;
    // Tells every remaining dependent that this target is gone and clears their slots.
    ~ReferenceTarget() override;

    BOOL IsRefTarget() override { return TRUE; }

    // Sends a message to the dependents (only those of super class `sclass` unless NOTIFY_ALL).
    // With propagate, each dependent that is itself a target passes the message on to its own
    // dependents unless its handler answered REF_STOP. A target already busy sending the same
    // message is not entered again, so a reference cycle cannot recurse forever.
    RefResult NotifyDependents(Interval changeInt, PartID partID, RefMessage msg,
                               SClass_ID sclass = NOTIFY_ALL, BOOL propagate = TRUE,
                               RefTargetHandle hTarg = nullptr);

    // Visits this target, then its dependents depth first, each maker once. Returns 1 when the
    // procedure halted the enumeration, else 0.
    int DoEnumDependents(DependentEnumProc* dep);

    // Distinct makers (weak holders excepted) that refer to this target, in the order they first
    // referred to it.
    std::vector<ReferenceMaker*> Dependents() const;
    // Number of references held on this target (a maker referring twice counts twice; weak
    // holders do not count).
    int DependentReferenceCount() const;

    // A copy of this target for a clone operation; the default cannot clone.
    virtual ReferenceTarget* Clone(RemapDir& remap) {
        (void)remap;
        return nullptr;
    }
    // What every clone shares: records `from` -> `to` in the remap directory (so that later
    // requests for `from` map to `to`) and copies the animatable flags except the test bit.
    void BaseClone(ReferenceTarget* from, ReferenceTarget* to, RemapDir& remap);

    // Whether the target deletes itself when its last reference is removed. Parameter blocks do;
    // nodes, texture maps and objects are owned elsewhere unless their class says otherwise.
    virtual bool AutoDelete() { return false; }
    // Deletes the target when it answers AutoDelete() and no maker other than weak holders
    // refers to it any more.
    void MaybeAutoDelete();

protected:
    // Called whenever a maker takes a reference to this target.
    virtual void RefAdded(ReferenceMaker* m) { (void)m; }

private:
    friend class ReferenceMaker;
    void AddDependent(ReferenceMaker* m);
    void RemoveDependent(ReferenceMaker* m);
    struct DepEntry {
        ReferenceMaker* maker;
        int count;
        bool weak;
    };
    std::vector<DepEntry> deps_;
    std::vector<RefMessage> sending_; // messages this target is sending right now
    bool dying_ = false;
};

// Maps originals to their clones for one clone operation, so that a target referenced several
// times is cloned once and every later request answers the same clone.
class RemapDir {
public:
    // Null for null; the existing clone of `oldTarg` when there is one; else a new clone.
    RefTargetHandle CloneRef(RefTargetHandle oldTarg);
    void AddEntry(RefTargetHandle hfrom, RefTargetHandle hto);
    RefTargetHandle FindMapping(RefTargetHandle from) const;
    // A clone of `oldTarg` when one was made in this operation, else `oldTarg` itself.
    RefTargetHandle Remapped(RefTargetHandle oldTarg) const {
        RefTargetHandle m = FindMapping(oldTarg);
        return m ? m : oldTarg;
    }
    void ClearAllEntries() { map_.clear(); }
    int Count() const { return static_cast<int>(map_.size()); }

private:
    std::unordered_map<RefTargetHandle, RefTargetHandle> map_;
};

// The clone remap directory used by one clone operation.
inline RemapDir NewRemapDir() {
    return RemapDir();
}
