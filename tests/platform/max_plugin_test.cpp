#include "host/max_core.h"
#include "platform/max/plugin.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include "max_test_support.h"

namespace {

bool contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

TEST(MaxPlugin, LoadsModuleReadsExportsAndCreatesByClassName) {
    std::string err;
    auto m = PluginModule::Load(VELQUIN_FIXTURE_PLUGIN, &err);
    ASSERT_TRUE(m) << err;
    EXPECT_EQ(m->Description(), "Fixture module");
    EXPECT_EQ(m->Version(), 0x36B02600UL);
    ASSERT_EQ(m->NumClasses(), 1);
    ClassDesc* cd = m->GetClassDesc(0);
    EXPECT_STREQ(cd->ClassName(), "FixtureBlob");
    EXPECT_EQ(cd->ClassID(), Class_ID(0x11112222, 0x33334444));
    // The module entry ran first and got the module's handle.
    EXPECT_EQ(cd->HInstance(), m->Instance());
    auto calls = reinterpret_cast<int (*)()>(
        dlsym(reinterpret_cast<void*>(m->Instance()), "FixtureEntryCalls"));
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(calls(), 1);

    // Registered: found by class name, internal name and IDs; objects come with their block.
    ClassDirectory& dir = ClassDirectory::Instance();
    EXPECT_EQ(dir.FindClass("FixtureBlobScript"), cd);
    EXPECT_EQ(dir.FindClass(GEOMOBJECT_CLASS_ID, Class_ID(0x11112222, 0x33334444)), cd);
    auto* obj = static_cast<ReferenceTarget*>(dir.CreateInstance("FixtureBlob"));
    ASSERT_NE(obj, nullptr);
    ASSERT_EQ(obj->NumRefs(), 1);
    auto* pb = static_cast<IParamBlock2*>(obj->GetReference(0));
    ASSERT_NE(pb, nullptr);
    EXPECT_EQ(pb->GetFloat(pb->GetDesc()->IDByName("size")), 2.5f);

    // Node lists filled through the published interface, found by name.
    FPInterface* ops = GetObjectInterface(obj, "FixtureOps");
    ASSERT_NE(ops, nullptr);
    maxtest::TestNode n("Sphere001");
    FPParams args{FPValue::Node(&n)};
    FPValue r;
    EXPECT_EQ(ops->InvokeByName("addNode", 0, r, &args), FPS_OK);
    EXPECT_EQ(ops->InvokeByName("nodeCount", 0, r, nullptr), FPS_OK);
    EXPECT_EQ(r.i, 1);
    obj->DeleteThis();
    EXPECT_TRUE(n.Dependents().empty());

    m.reset();
    EXPECT_EQ(dir.FindClass("FixtureBlob"), nullptr);
}

TEST(MaxPlugin, RefusesModuleBuiltForAnotherHostVersion) {
    std::string err;
    auto m = PluginModule::Load(VELQUIN_FIXTURE_OLDPLUGIN, &err);
    EXPECT_FALSE(m);
    EXPECT_TRUE(contains(err, VELQUIN_FIXTURE_OLDPLUGIN)) << err;
    EXPECT_TRUE(contains(err, "built for host version 0x23281500 (release 9000, API 21, "
                              "revision 0), but this host is version 0x36B02600"))
        << err;
    EXPECT_EQ(ClassDirectory::Instance().FindClass("FixtureBlob"), nullptr);
    // The same module is accepted by a host of its version.
    SetHostSDKVersion(MakeLibVersion(9000, 21, 0));
    m = PluginModule::Load(VELQUIN_FIXTURE_OLDPLUGIN, &err);
    SetHostSDKVersion(MakeLibVersion(14000, 38, 0));
    EXPECT_TRUE(m) << err;
}

TEST(MaxPlugin, RefusesFilesThatAreNotPlugins) {
    std::string err;
    EXPECT_FALSE(PluginModule::Load(VELQUIN_FIXTURE_NOTPLUGIN, &err));
    EXPECT_TRUE(contains(err, "not a plug-in: it does not export LibDescription")) << err;
    std::string text = std::string(VELQUIN_FIXTURE_SOURCE_DIR) + "/CMakeLists.txt";
    EXPECT_FALSE(PluginModule::Load(text, &err));
    EXPECT_TRUE(contains(err, text + ": not a loadable plug-in module")) << err;
    EXPECT_FALSE(PluginModule::Load("/nonexistent/module.so", &err));
    EXPECT_TRUE(contains(err, "not a loadable plug-in module")) << err;
}

TEST(MaxPlugin, FolderLoadingListsRefusals) {
    std::vector<std::string> errors;
    std::string dir = VELQUIN_FIXTURE_PLUGIN;
    dir = dir.substr(0, dir.rfind('/'));
    auto mods = LoadPluginFolder(dir, &errors);
    ASSERT_EQ(mods.size(), 1u);
    EXPECT_EQ(mods[0]->Description(), "Fixture module");
    EXPECT_EQ(errors.size(), 2u); // the old-version module and the library without exports
}

} // namespace
