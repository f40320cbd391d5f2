#include "max_test_support.h"

#include "host/max_core.h"

#include <gtest/gtest.h>

using maxtest::TestNode;

namespace {

constexpr Interface_ID kOpsID(0x5001, 0x5002);

class OpsClassDesc : public ClassDesc2 {
public:
    int IsPublic() override { return TRUE; }
    void* Create(BOOL) override;
    const char* ClassName() override { return "FPTestObject"; }
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(0x5003, 0x5004); }
    const char* Category() override { return "Tests"; }
};

OpsClassDesc opsClass;

// An interface shaped like a real object's mixin: functions with node arguments and without.
// Built at load time, as module-wide descriptors are, so that it is registered before any test.
FPInterfaceDesc opsInterface(kOpsID, "TestOps", 0, &opsClass, FP_MIXIN);
const bool opsFunctions = [] {
    opsInterface.AppendFunction(0, "addMetaball", 0, TYPE_VOID).Param("node", 0, TYPE_INODE);
    opsInterface.AppendFunction(1, "removeMetaball", 0, TYPE_VOID).Param("node", 0, TYPE_INODE);
    opsInterface.AppendFunction(4, "pick", 0, TYPE_VOID);
    return true;
}();
FPInterfaceDesc& opsDesc() {
    return opsInterface;
}

class OpsObject : public ReferenceTarget, public FPMixinInterface {
public:
    Class_ID ClassID() override { return opsClass.ClassID(); }
    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    BaseInterface* GetInterface(Interface_ID id) override {
        return id == kOpsID ? static_cast<FPMixinInterface*>(this)
                            : ReferenceTarget::GetInterface(id);
    }
    using ReferenceTarget::GetInterface;
    FPInterfaceDesc* GetDesc() override { return &opsDesc(); }
    std::vector<std::pair<int, ReferenceTarget*>> calls;

protected:
    FPStatus _dispatch_fn(FunctionID fid, TimeValue, FPValue&, FPParams* p) override {
        switch (fid) {
        case 0:
        case 1:
            calls.emplace_back(fid, (*p)[0].r);
            return FPS_OK;
        case 4:
            calls.emplace_back(fid, nullptr);
            return FPS_OK;
        default:
            return FPS_NO_SUCH_FUNCTION;
        }
    }
};

void* OpsClassDesc::Create(BOOL) {
    return static_cast<ReferenceTarget*>(new OpsObject);
}

TEST(MaxFP, DescriptorRecordsFunctionsAndRegistersWithOwner) {
    FPInterfaceDesc& d = opsDesc();
    EXPECT_EQ(d.flags, FP_MIXIN);
    EXPECT_EQ(d.GetID(), kOpsID);
    ASSERT_EQ(d.NumFunctions(), 3);
    EXPECT_EQ(d.GetFnDef(0)->params[0].type, TYPE_INODE);
    EXPECT_EQ(d.GetFnDef(0)->params[0].internal_name, "node");
    EXPECT_EQ(d.GetFnDef(4)->result_type, TYPE_VOID);
    EXPECT_EQ(d.GetFnDef(2), nullptr);
    EXPECT_EQ(opsClass.GetInterface(kOpsID), &d);
    EXPECT_EQ(opsClass.GetInterface("testops"), &d);
    EXPECT_EQ(opsClass.GetInterface(Interface_ID(1, 1)), nullptr);
}

TEST(MaxFP, DispatchByIdAndByName) {
    OpsObject obj;
    TestNode n("Sphere001");
    FPInterface* fi = GetObjectInterface(&obj, kOpsID);
    ASSERT_EQ(fi, static_cast<FPMixinInterface*>(&obj));
    FPValue result;
    FPParams args{FPValue::Node(&n)};
    EXPECT_EQ(fi->Invoke(0, 0, result, &args), FPS_OK);
    EXPECT_EQ(fi->Invoke(FunctionID(7), 0, result, &args), FPS_NO_SUCH_FUNCTION);
    EXPECT_EQ(fi->InvokeByName("removeMetaball", 0, result, &args), FPS_OK);
    EXPECT_EQ(fi->InvokeByName("PICK", 0, result, nullptr), FPS_OK);
    EXPECT_EQ(fi->InvokeByName("explode", 0, result, nullptr), FPS_NO_SUCH_FUNCTION);
    // By name the arguments must match the function's list.
    EXPECT_EQ(fi->InvokeByName("addMetaball", 0, result, nullptr), FPS_FAIL);
    FPParams wrong{FPValue::Int(3)};
    EXPECT_EQ(fi->InvokeByName("addMetaball", 0, result, &wrong), FPS_FAIL);
    std::vector<std::pair<int, ReferenceTarget*>> want{{0, &n}, {1, &n}, {4, nullptr}};
    EXPECT_EQ(obj.calls, want);
    EXPECT_EQ(fi->FindFn("pick"), 4);
    EXPECT_EQ(fi->FindFn("nothing"), FP_NO_FUNCTION);
    EXPECT_EQ(GetObjectInterface(&obj, Interface_ID(9, 9)), nullptr);
}

TEST(MaxFP, InterfaceByNameThroughClassDirectory) {
    ASSERT_TRUE(ClassDirectory::Instance().Register(&opsClass));
    EXPECT_FALSE(ClassDirectory::Instance().Register(&opsClass)); // same IDs twice
    auto* obj = static_cast<OpsObject*>(
        static_cast<ReferenceTarget*>(ClassDirectory::Instance().CreateInstance("fptestobject")));
    ASSERT_NE(obj, nullptr);
    FPInterface* fi = GetObjectInterface(obj, "TestOps");
    ASSERT_NE(fi, nullptr);
    FPValue r;
    EXPECT_EQ(fi->InvokeByName("pick", 0, r, nullptr), FPS_OK);
    EXPECT_EQ(obj->calls.size(), 1u);
    EXPECT_EQ(GetObjectInterface(obj, "OtherOps"), nullptr);
    delete obj;
    ClassDirectory::Instance().Unregister(&opsClass);
    EXPECT_EQ(ClassDirectory::Instance().CreateInstance("FPTestObject"), nullptr);
}

class MaxMacro : public ::testing::Test {
protected:
    void SetUp() override {
        macroRecorder->Clear();
        macroRecorder->Enable();
    }
    void TearDown() override {
        macroRecorder->Clear();
        macroRecorder->Enable();
    }
};

TEST_F(MaxMacro, RecordedNodeArgumentReadsAsTheScriptCall) {
    TestNode n("Sphere001");
    EXPECT_TRUE(
        macroRecorder->FunctionCall("$.VelquinMetaballOps.addMetaball", 1, 0, mr_reftarg, &n));
    EXPECT_EQ(macroRecorder->LastLine(), "$.VelquinMetaballOps.addMetaball $'Sphere001'");
    TestNode odd("Box 'A'");
    macroRecorder->FunctionCall("$.VelquinMetaballOps.addMetaball", 1, 0, mr_reftarg, &odd);
    EXPECT_EQ(macroRecorder->LastLine(), "$.VelquinMetaballOps.addMetaball $'Box \\'A\\''");
    EXPECT_EQ(macroRecorder->Lines().size(), 2u);
}

TEST_F(MaxMacro, ArgumentKindsAndKeywords) {
    EXPECT_TRUE(macroRecorder->FunctionCall("move", 2, 1, mr_sel, mr_point3, Point3(1, 0.5f, -2),
                                            "relative", mr_bool, 1));
    EXPECT_EQ(macroRecorder->LastLine(), "move $ [1,0.5,-2] relative:true");
    EXPECT_TRUE(
        macroRecorder->FunctionCall("f", 3, 0, mr_int, 7, mr_float, 0.1f, mr_string, "a \"b\""));
    EXPECT_EQ(macroRecorder->LastLine(), "f 7 0.1 \"a \\\"b\\\"\"");
    EXPECT_TRUE(macroRecorder->FunctionCall("$.TestOps.pick", 0, 0));
    EXPECT_EQ(macroRecorder->LastLine(), "$.TestOps.pick()");
    // Counts that do not match the list, or a value of the wrong kind, record nothing.
    std::size_t before = macroRecorder->Lines().size();
    EXPECT_FALSE(macroRecorder->FunctionCall("g", 2, 0, mr_int, 1));
    EXPECT_FALSE(macroRecorder->FunctionCall("g", 1, 0, mr_int, "x"));
    EXPECT_FALSE(macroRecorder->FunctionCall("g", 0, 0, mr_int, 1));
    EXPECT_EQ(macroRecorder->Lines().size(), before);
}

TEST_F(MaxMacro, DisabledRecordsNothingAndEmitSendsNewLines) {
    std::vector<std::string> sent;
    macroRecorder->SetSink([&](const std::string& s) { sent.push_back(s); });
    macroRecorder->FunctionCall("a", 0, 0);
    macroRecorder->Disable();
    EXPECT_FALSE(macroRecorder->FunctionCall("b", 0, 0));
    macroRecorder->Enable();
    macroRecorder->ScriptString("c = 1");
    EXPECT_EQ(macroRecorder->EmitScript(), 2);
    EXPECT_EQ(macroRecorder->EmitScript(), 0);
    EXPECT_EQ(sent, (std::vector<std::string>{"a()", "c = 1"}));
    macroRecorder->SetSink(nullptr);
}

} // namespace
