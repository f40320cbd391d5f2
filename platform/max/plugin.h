// Loading plug-in modules: a shared library that exports, with C linkage,
//     const char* LibDescription();  int LibNumberClasses();
//     ClassDesc* LibClassDesc(int i); ULONG LibVersion();
// and optionally a module entry DllMain(HINSTANCE, DWORD reason, void*), called with the
// module's handle on load (reason 1) and unload (reason 0). A module is accepted only when its
// LibVersion equals the host version this stand-in plays (HostSDKVersion()).
#pragma once

#include "platform/max/classdesc.h"
#include "platform/max/maxtypes.h"
#include "platform/win/wintypes.h"

#include <memory>
#include <string>
#include <vector>

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

class PluginModule {
public:
    ~PluginModule(); // unregisters the classes and unloads the module

    const std::string& Path() const { return path_; }
    const std::string& Description() const { return description_; }
    ULONG Version() const { return version_; }
    HINSTANCE Instance() const { return instance_; }
    int NumClasses() const { return static_cast<int>(classes_.size()); }
    ClassDesc* GetClassDesc(int i) const;
    const std::vector<ClassDesc*>& Classes() const { return classes_; }

    // Loads the module at `path`; null with a message naming the file and the reason when it
    // is not a loadable library, lacks one of the four exports, or was built for another host
    // version. The module's classes are registered with the class directory (a class whose IDs
    // are already registered is listed but not registered again).
    static std::unique_ptr<PluginModule> Load(const std::string& path, std::string* error);

    // "0x36B02600 (release 14000, API 38, revision 0)"
    static std::string VersionText(ULONG v);

private:
    PluginModule() = default;
    std::string path_, description_;
    ULONG version_ = 0;
    void* handle_ = nullptr;
    HINSTANCE instance_ = nullptr;
    std::vector<ClassDesc*> classes_;
    std::vector<ClassDesc*> registered_;
    using EntryFn = int (*)(HINSTANCE, DWORD, void*);
    EntryFn entry_ = nullptr;
};

// Loads every module in a folder whose name ends in `suffix` (in name order). Messages for the
// files that were refused are appended to `errors`.
std::vector<std::unique_ptr<PluginModule>> LoadPluginFolder(const std::string& dir,
                                                            std::vector<std::string>* errors,
                                                            const std::string& suffix = ".so");
