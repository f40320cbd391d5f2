// Small scene stand-ins for the core-service tests: a named node and a cloneable map.
#pragma once

#include "platform/max/ref.h"

#include <string>

namespace maxtest {

class TestNode : public ReferenceTarget {
public:
    explicit TestNode(std::string name = "Node") : name_(std::move(name)) {}
    SClass_ID SuperClassID() override { return BASENODE_CLASS_ID; }
    const char* GetName() const { return name_.c_str(); }

private:
    std::string name_;
};

class TestMap : public ReferenceTarget {
public:
    explicit TestMap(float v = 0.0f) : value(v) {}
    SClass_ID SuperClassID() override { return TEXMAP_CLASS_ID; }
    ReferenceTarget* Clone(RemapDir& remap) override {
        auto* c = new TestMap(value);
        BaseClone(this, c, remap);
        ++clones;
        return c;
    }
    bool AutoDelete() override { return true; }
    float value;
    int clones = 0;
};

} // namespace maxtest
