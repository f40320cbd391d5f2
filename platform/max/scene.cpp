#include "platform/max/scene.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// ---- INode ----

INode::~INode() {
    // Let go of the object while this node's slots can still be cleared.
    DeleteAllRefs();
}

void INode::SetName(const char* s) {
    name_ = s ? s : "";
    NotifyDependents(FOREVER, PART_ALL, REFMSG_NODE_NAMECHANGE);
}

RefTargetHandle INode::GetReference(int i) {
    return i == 0 ? obj_ : nullptr;
}

void INode::SetReference(int i, RefTargetHandle rtarg) {
    if (i == 0)
        obj_ = dynamic_cast<Object*>(rtarg);
}

RefResult INode::NotifyRefChanged(const Interval& changeInt, RefTargetHandle hTarget,
                                  PartID& partID, RefMessage message) {
    (void)changeInt, (void)hTarget, (void)partID, (void)message;
    // Changes of the object travel on to whatever refers to this node.
    return REF_SUCCEED;
}

const ObjectState& INode::EvalWorldState(TimeValue t, BOOL evalHidden) {
    (void)evalHidden;
    state_ = obj_ ? obj_->Eval(t) : ObjectState();
    return state_;
}

Matrix3 INode::GetNodeTM(TimeValue t, Interval* valid) {
    Interval iv = FOREVER;
    Matrix3 m(rows_[0].Get(t, iv), rows_[1].Get(t, iv), rows_[2].Get(t, iv), rows_[3].Get(t, iv));
    // Keep the identity bits of an untouched transform, as the host's matrices do.
    if (m == Matrix3())
        m = Matrix3();
    if (valid)
        *valid &= iv;
    return m;
}

Matrix3 INode::GetObjectTM(TimeValue t, Interval* valid) {
    return offset_ * GetNodeTM(t, valid);
}

void INode::setRows(const Matrix3& tm, int mode, TimeValue t) {
    for (int r = 0; r < 4; ++r) {
        if (mode == 0)
            rows_[r].SetConstant(tm.GetRow(r));
        else if (mode == 1)
            rows_[r].SetKey(t, tm.GetRow(r));
        else
            rows_[r].SetOffset(t, tm.GetRow(r));
    }
    NotifyDependents(FOREVER, PART_TM, REFMSG_CHANGE);
}

void INode::SetNodeTM(TimeValue t, const Matrix3& tm) {
    setRows(tm, Animating() ? 1 : 2, t);
}

void INode::SetNodeTMConstant(const Matrix3& tm) {
    setRows(tm, 0, 0);
}

void INode::SetNodeTMKey(TimeValue t, const Matrix3& tm) {
    setRows(tm, 1, t);
}

void INode::SetObjOffset(const Matrix3& tm) {
    offset_ = tm;
    NotifyDependents(FOREVER, PART_TM, REFMSG_CHANGE);
}

// ---- Scene ----

Scene::~Scene() {
    // Nodes first: they refer to the objects.
    while (!nodes_.empty())
        nodes_.pop_back();
    while (!objects_.empty()) {
        Object* o = objects_.back();
        objects_.pop_back();
        o->DeleteThis();
    }
}

Object* Scene::AddObject(Object* obj) {
    if (obj && !OwnsObject(obj))
        objects_.push_back(obj);
    return obj;
}

bool Scene::OwnsObject(Object* obj) const {
    return std::find(objects_.begin(), objects_.end(), obj) != objects_.end();
}

INode* Scene::CreateNode(Object* obj, const char* name) {
    AddObject(obj);
    std::string n;
    if (name) {
        n = name;
    } else {
        MSTR base = "Object";
        if (obj)
            obj->InitNodeName(base);
        n = MakeNameUnique(base);
    }
    nodes_.push_back(std::make_unique<INode>(n.c_str()));
    INode* node = nodes_.back().get();
    if (obj)
        node->SetObjectRef(obj);
    return node;
}

INode* Scene::GetNode(int i) const {
    return i >= 0 && i < NumNodes() ? nodes_[static_cast<size_t>(i)].get() : nullptr;
}

INode* Scene::FindNode(const char* name) const {
    if (!name)
        return nullptr;
    for (const auto& n : nodes_)
        if (std::strcmp(n->GetName(), name) == 0)
            return n.get();
    return nullptr;
}

bool Scene::DeleteNode(INode* node) {
    auto it = std::find_if(nodes_.begin(), nodes_.end(),
                           [node](const std::unique_ptr<INode>& p) { return p.get() == node; });
    if (it == nodes_.end())
        return false;
    std::unique_ptr<INode> doomed = std::move(*it);
    nodes_.erase(it);
    doomed.reset();
    return true;
}

bool Scene::DeleteObject(Object* obj) {
    auto it = std::find(objects_.begin(), objects_.end(), obj);
    if (it == objects_.end())
        return false;
    objects_.erase(it);
    obj->DeleteThis();
    return true;
}

std::string Scene::MakeNameUnique(const std::string& base) const {
    for (int i = 1;; ++i) {
        char num[16];
        std::snprintf(num, sizeof num, "%03d", i);
        std::string n = base + num;
        if (!FindNode(n.c_str()))
            return n;
    }
}
