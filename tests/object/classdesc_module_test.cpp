// The class descriptor, the interface descriptor, the string table and the module entry, and the
// built plug-in module loaded through its exports as the host loads it.
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <string>

#include "object/ClassDesc.h"
#include "object/IVelquinMetaball.h"
#include "object/ParamBlock.h"
#include "object_test_support.h"
#include "platform/max/plugin.h"

using namespace velquin;

namespace {

using ClassDescTest = objtest::HostFixture;

TEST_F(ClassDescTest, DescriptorAnswers) {
    ClassDesc2* cd = GetVelquinMetaballDesc();
    EXPECT_EQ(cd->IsPublic(), 1);
    EXPECT_STREQ(cd->ClassName(), "VelquinMetaball");
    EXPECT_STREQ(cd->InternalName(), "VelquinMetaball");
    EXPECT_STREQ(cd->Category(), "VRay");
    EXPECT_EQ(cd->SuperClassID(), 0x10u);
    EXPECT_EQ(cd->ClassID(), Class_ID(0x3d1bec1b, 0x43756d05));
    EXPECT_EQ(cd->HInstance(), objtest::testInstance());
    EXPECT_EQ(cd->OkToCreate(nullptr), TRUE);
    EXPECT_EQ(cd->HasClassParams(), FALSE);
    EXPECT_EQ(cd->NumActionTables(), 0);
    EXPECT_EQ(cd->GetParamBlockDesc(0), GetVelquinMetaballParamDesc());
    EXPECT_EQ(cd->GetInterface("VelquinMetaballOps"), GetVelquinMetaballOpsDesc());

    // Create makes a new object with its block as reference 0, loading or not.
    for (BOOL loading : {FALSE, TRUE}) {
        auto* obj = static_cast<VelquinMetaball*>(static_cast<GeomObject*>(cd->Create(loading)));
        ASSERT_NE(obj, nullptr);
        ASSERT_NE(obj->pblock, nullptr);
        EXPECT_EQ(obj->pblock->GetDesc(), GetVelquinMetaballParamDesc());
        EXPECT_EQ(obj->pblock->GetFloat(pb_icon), 10.0f);
        obj->DeleteThis();
    }
}

TEST_F(ClassDescTest, OpsInterfaceDescriptor) {
    FPInterfaceDesc* d = GetVelquinMetaballOpsDesc();
    EXPECT_EQ(d->ID, Interface_ID(0x3d1bec1c, 0x43756d06));
    EXPECT_EQ(d->internal_name, "VelquinMetaballOps");
    EXPECT_EQ(d->description, 0);
    EXPECT_EQ(d->cd, GetVelquinMetaballDesc());
    EXPECT_EQ(d->flags, 2u);
    const char* names[] = {
        "addMetaball", "removeMetaball", "addPFMetaball", "removePFMetaball", "pick",
        "add",         "addPF"};
    ASSERT_EQ(d->NumFunctions(), 7);
    for (int i = 0; i < 7; ++i) {
        const FPFunctionDef& f = d->functions[static_cast<size_t>(i)];
        EXPECT_EQ(f.ID, i);
        EXPECT_EQ(f.internal_name, names[i]);
        EXPECT_EQ(f.result_type, 25);
        EXPECT_EQ(f.description, 0);
        if (i < 4) {
            ASSERT_EQ(f.params.size(), 1u) << names[i];
            EXPECT_EQ(f.params[0].internal_name, "node");
            EXPECT_EQ(f.params[0].type, 17);
            EXPECT_EQ(f.params[0].description, 0);
        } else {
            EXPECT_TRUE(f.params.empty()) << names[i];
        }
    }
    // The mixin of an object answers this descriptor.
    VelquinMetaball* obj = newObject();
    EXPECT_EQ(static_cast<IVelquinMetaball*>(obj)->GetDesc(), d);
    EXPECT_EQ(static_cast<IVelquinMetaball*>(obj)->GetID(), d->ID);
}

TEST_F(ClassDescTest, StringTableHoldsEveryUserInterfaceText) {
    const std::pair<int, const char*> expected[] = {
        {4, "General Parameters"},
        {12, "Texture Parameters"},
        {37, "Node Parameters"},
        {15, "Particle Flow Parameters"},
        {109, "About"},
        {18, "Add Events"},
        {20, "Add Blobs"},
        {21, "Remove Node"},
        {39, "None"},
        {40, "Wyvill"},
        {41, "Same as the surface"},
        {43, "Multiply"},
        {44, "Subtract"},
        {45, "Power of two"},
        {46, "Hermit in power of two"},
        {47, "Hermit in power of four"},
        {106, "Power of three"},
        {107, "Power of four"},
        {108, "Power of five"},
        {25, "Nodes"},
        {16, "Use All PF Events"},
        {17, "PF Event List"},
        {26, "Icon size"},
        {6, "Size"},
        {27, "Threshold"},
        {28, "Step length"},
        {29, "Max error"},
        {30, "Field function"},
        {31, "Use average distance"},
        {32, "Cutoff"},
        {33, "Trim"},
        {34, "Tree depth"},
        {35, "Leaf length"},
        {36, "Leaf size"},
        {5, "Texmap"},
        {7, "Motion blur samples"},
        {11, "Use scale"},
        {13, "Use Texture"},
        {14, "Texture type"},
        {23, "Use Clamp"},
        {24, "Texture Strength"},
        {42, "Clamp To"},
        {38, "Velocity Threshold"},
    };
    for (const auto& [id, text] : expected) {
        const char* s = getString(id);
        ASSERT_NE(s, nullptr) << id;
        EXPECT_STREQ(s, text) << id;
    }
    // Everything the block descriptor names resolves.
    ParamBlockDesc2* pd = GetVelquinMetaballParamDesc();
    for (int i = 0; i < pd->Count(); ++i) {
        if (int name = pd->GetParamDefByIndex(i)->local_name) {
            EXPECT_NE(getString(name), nullptr) << pd->GetParamDefByIndex(i)->int_name;
        }
    }
    for (int i = 0; i < pd->NumRollouts(); ++i)
        EXPECT_NE(getString(pd->GetMapByIndex(i)->title), nullptr);
    for (ParamID id : {pb_fieldFunction, pb_color, pb_textureType})
        for (int entry : listEntries(id))
            EXPECT_NE(getString(entry), nullptr) << entry;
}

TEST_F(ClassDescTest, GetStringSharesOneBufferAndFailsWithoutModule) {
    EXPECT_EQ(getString(3), nullptr);
    EXPECT_EQ(getString(0), nullptr);
    const char* first = getString(IDS_ADD_BLOBS);
    ASSERT_NE(first, nullptr);
    const char* second = getString(IDS_REMOVE_NODE);
    EXPECT_EQ(first, second); // each call overwrites the previous text
    EXPECT_STREQ(first, "Remove Node");

    moduleEntry(nullptr, 1, nullptr);
    EXPECT_EQ(moduleInstance(), nullptr);
    EXPECT_EQ(getString(IDS_ADD_BLOBS), nullptr);
    moduleEntry(objtest::testInstance(), 1, nullptr);
    EXPECT_STREQ(getString(IDS_ADD_BLOBS), "Add Blobs");
}

TEST_F(ClassDescTest, ModuleEntryRecordsHandleAndDropsStringsOnUnload) {
    static char otherTag;
    HINSTANCE other = reinterpret_cast<HINSTANCE>(&otherTag);
    EXPECT_EQ(moduleEntry(other, 1, nullptr), TRUE);
    EXPECT_TRUE(CommonControlsInitialized());
    EXPECT_EQ(moduleInstance(), other);
    char buf[32];
    EXPECT_GT(LoadStringA(other, IDS_ABOUT, buf, sizeof buf), 0);
    EXPECT_EQ(moduleEntry(other, 0, nullptr), TRUE);
    EXPECT_EQ(LoadStringA(other, IDS_ABOUT, buf, sizeof buf), 0);
    moduleEntry(objtest::testInstance(), 1, nullptr);
}

#ifdef VELQUIN_MODULE_PATH

class BuiltModule : public objtest::HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        savedVersion = HostSDKVersion();
        SetHostSDKVersion(VELQUIN_LIB_VERSION);
    }
    void TearDown() override {
        SetHostSDKVersion(savedVersion);
        HostFixture::TearDown();
    }
    ULONG savedVersion = 0;
};

TEST_F(BuiltModule, LoadsThroughItsExports) {
    std::string err;
    std::unique_ptr<PluginModule> m = PluginModule::Load(VELQUIN_MODULE_PATH, &err);
    ASSERT_TRUE(m) << err;
    EXPECT_EQ(m->Description(), "VelquinMetaball");
    EXPECT_EQ(m->Version(), static_cast<ULONG>(VELQUIN_LIB_VERSION));
    ASSERT_EQ(m->NumClasses(), 1);
    ClassDesc* cd = m->GetClassDesc(0);
    ASSERT_NE(cd, nullptr);
    // The module's own descriptor, not the one linked into this test.
    EXPECT_NE(cd, static_cast<ClassDesc*>(GetVelquinMetaballDesc()));
    EXPECT_STREQ(cd->ClassName(), "VelquinMetaball");
    EXPECT_STREQ(cd->Category(), "VRay");
    EXPECT_EQ(cd->ClassID(), Class_ID(0x3d1bec1b, 0x43756d05));
    EXPECT_EQ(cd->HInstance(), m->Instance());
    EXPECT_TRUE(CommonControlsInitialized());
    char buf[64];
    ASSERT_GT(LoadStringA(m->Instance(), 20, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "Add Blobs");

    // The exports themselves.
    void* h = dlopen(VELQUIN_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(h, nullptr);
    auto libClassDesc = reinterpret_cast<ClassDesc* (*)(int)>(dlsym(h, "LibClassDesc"));
    auto libNumberClasses = reinterpret_cast<int (*)()>(dlsym(h, "LibNumberClasses"));
    auto libDescription = reinterpret_cast<const char* (*)()>(dlsym(h, "LibDescription"));
    auto libVersion = reinterpret_cast<ULONG (*)()>(dlsym(h, "LibVersion"));
    ASSERT_TRUE(libClassDesc && libNumberClasses && libDescription && libVersion);
    EXPECT_EQ(libClassDesc(0), cd);
    EXPECT_EQ(libClassDesc(1), nullptr);
    EXPECT_EQ(libClassDesc(-1), nullptr);
    EXPECT_EQ(libNumberClasses(), 1);
    EXPECT_STREQ(libDescription(), "VelquinMetaball");
    EXPECT_EQ(libVersion(), static_cast<ULONG>(VELQUIN_LIB_VERSION));
    // Nothing else of the module is visible to the host.
    EXPECT_EQ(dlsym(h, "_ZN7velquin9getStringEi"), nullptr);
    dlclose(h);

    // An object of the module, scripted through the published interface by name.
    auto* obj =
        static_cast<GeomObject*>(ClassDirectory::Instance().CreateInstance("VelquinMetaball"));
    ASSERT_NE(obj, nullptr);
    INode* objNode = core->GetScene().CreateNode(obj, "Blob");
    INode* a = core->GetScene().CreateNode(new SphereObject(), "A");
    FPInterface* ops = GetObjectInterface(obj, "VelquinMetaballOps");
    ASSERT_NE(ops, nullptr);
    FPParams p{FPValue::Node(a)};
    FPValue r;
    EXPECT_EQ(ops->InvokeByName("addMetaball", 0, r, &p), FPS_OK);
    EXPECT_EQ(ops->InvokeByName("addMetaball", 0, r, &p), FPS_OK);
    FPParams loop{FPValue::Node(objNode)};
    EXPECT_EQ(ops->Invoke(fn_addMetaball, 0, r, &loop), FPS_OK);
    EXPECT_EQ(obj->GetParamBlock(0)->Count(pb_nodes), 1);
    EXPECT_EQ(theHold.UndoCount(), 1);
    EXPECT_EQ(theHold.UndoMenuText(), "Add Blobs");
    EXPECT_EQ(ops->Invoke(9, 0, r, &p), FPS_NO_SUCH_FUNCTION);
    // The module's objects go before the module does.
    theHold.ClearUndoStack();
    ResetCOREInterface();
    core = GetCOREInterface();
}

TEST_F(BuiltModule, RefusedByAHostOfAnotherVersion) {
    ULONG other = VELQUIN_LIB_VERSION == 0x23281500 ? 0x36B02600 : 0x23281500;
    SetHostSDKVersion(other);
    std::string err;
    EXPECT_FALSE(PluginModule::Load(VELQUIN_MODULE_PATH, &err));
    EXPECT_NE(err.find("built for host version"), std::string::npos) << err;
}

#endif

} // namespace
