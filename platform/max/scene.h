// Scene nodes of the host stand-in and the scene that owns nodes and objects.
//
// A node has no parent: its node transform is its world transform, constant or keyed (rows
// interpolated linearly between keys). The object transform adds the object offset (pivot) in
// front of it. Reference 0 of a node is its object.
#pragma once

#include "platform/max/animval.h"
#include "platform/max/object.h"
#include "platform/max/ref.h"

#include <memory>
#include <string>
#include <vector>

constexpr Class_ID NODE_CLASS_ID(BASENODE_CLASS_ID, 0);

class INode : public ReferenceTarget {
public:
    INode() = default;
    explicit INode(const char* name) : name_(name ? name : "") {}
    ~INode() override;

    Class_ID ClassID() override { return NODE_CLASS_ID; }
    SClass_ID SuperClassID() override { return BASENODE_CLASS_ID; }
    void GetClassName(MSTR& s) override { s = "Node"; }

    const char* GetName() const { return name_.c_str(); }
    void SetName(const char* s);

    Object* GetObjectRef() { return obj_; }
    void SetObjectRef(Object* o) { ReplaceReference(0, o); }
    // Evaluates the object at t; the state refers to the node's object (or holds null).
    const ObjectState& EvalWorldState(TimeValue t, BOOL evalHidden = TRUE);

    // World transform of the node at t; valid is narrowed where the transform is keyed.
    Matrix3 GetNodeTM(TimeValue t, Interval* valid = nullptr);
    // The object offset followed by the node transform.
    Matrix3 GetObjectTM(TimeValue t, Interval* valid = nullptr);
    Matrix3 GetObjTMAfterWSM(TimeValue t, Interval* valid = nullptr) {
        return GetObjectTM(t, valid);
    }
    // Sets the transform at t: a key while animate mode is on, else a constant (or, for a keyed
    // transform, the whole track moves so that it reads tm at t).
    void SetNodeTM(TimeValue t, const Matrix3& tm);
    void SetNodeTMConstant(const Matrix3& tm);
    void SetNodeTMKey(TimeValue t, const Matrix3& tm);
    bool IsTMAnimated() const { return rows_[0].IsAnimated(); }
    void SetObjOffset(const Matrix3& tm);
    const Matrix3& GetObjOffset() const { return offset_; }

    DWORD GetWireColor() const { return wireColor_; }
    void SetWireColor(DWORD c) { wireColor_ = c; }
    int IsFrozen() const { return frozen_; }
    void Freeze(BOOL onOff) { frozen_ = onOff ? TRUE : FALSE; }
    int Selected() const { return selected_; }
    void SetSelected(BOOL onOff) { selected_ = onOff ? TRUE : FALSE; }
    int IsHidden() const { return hidden_; }
    void Hide(BOOL onOff) { hidden_ = onOff ? TRUE : FALSE; }

    int NumRefs() override { return 1; }
    RefTargetHandle GetReference(int i) override;
    void SetReference(int i, RefTargetHandle rtarg) override;
    RefResult NotifyRefChanged(const Interval& changeInt, RefTargetHandle hTarget, PartID& partID,
                               RefMessage message) override;

private:
    void setRows(const Matrix3& tm, int mode, TimeValue t); // mode: 0 constant, 1 key, 2 offset
    std::string name_;
    Object* obj_ = nullptr;
    AnimValue<Point3> rows_[4] = {AnimValue<Point3>(Point3(1, 0, 0)),
                                  AnimValue<Point3>(Point3(0, 1, 0)),
                                  AnimValue<Point3>(Point3(0, 0, 1)), AnimValue<Point3>()};
    Matrix3 offset_;
    DWORD wireColor_ = 0x00808080;
    int frozen_ = FALSE, selected_ = FALSE, hidden_ = FALSE;
    ObjectState state_;
};

// Owns the nodes and objects of one scene. Nodes keep creation order, which is the order in which
// the select-by-name dialog and node picking see them.
class Scene {
public:
    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    ~Scene();

    // A new node holding obj (taken into the scene's ownership when not yet owned; may be null).
    // Without a name the node is named from the object's initial node name made unique with a
    // three-digit number ("Sphere001", "Sphere002", ...).
    INode* CreateNode(Object* obj, const char* name = nullptr);
    // Takes ownership of an object that no node holds yet (answers obj).
    Object* AddObject(Object* obj);
    bool OwnsObject(Object* obj) const;

    int NumNodes() const { return static_cast<int>(nodes_.size()); }
    INode* GetNode(int i) const;
    INode* FindNode(const char* name) const;
    // Destroys the node: whatever refers to it hears REFMSG_TARGET_DELETED and reads null.
    bool DeleteNode(INode* node);
    // Destroys an owned object; nodes holding it are left without an object.
    bool DeleteObject(Object* obj);
    // base followed by the first free three-digit number.
    std::string MakeNameUnique(const std::string& base) const;

private:
    std::vector<std::unique_ptr<INode>> nodes_;
    std::vector<Object*> objects_;
};
