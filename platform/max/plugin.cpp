#include "platform/max/plugin.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {
using DescFn = const char* (*)();
using CountFn = int (*)();
using ClassFn = ClassDesc* (*)(int);
using VersionFn = ULONG (*)();

template <class F> F symbol(void* handle, const char* name) {
    return reinterpret_cast<F>(dlsym(handle, name));
}
} // namespace

std::string PluginModule::VersionText(ULONG v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "0x%08lX (release %lu, API %lu, revision %lu)", v,
                  (v >> 16) & 0xffffUL, (v >> 8) & 0xffUL, v & 0xffUL);
    return buf;
}

ClassDesc* PluginModule::GetClassDesc(int i) const {
    return i >= 0 && i < NumClasses() ? classes_[i] : nullptr;
}

PluginModule::~PluginModule() {
    for (ClassDesc* cd : registered_)
        ClassDirectory::Instance().Unregister(cd);
    if (entry_)
        entry_(instance_, DLL_PROCESS_DETACH, nullptr);
    if (handle_)
        dlclose(handle_);
}

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = path + ": " + why;
        return nullptr;
    };
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        return fail(std::string("not a loadable plug-in module (") + (e ? e : "unknown error") +
                    ")");
    }
    std::unique_ptr<PluginModule> m(new PluginModule);
    m->path_ = path;
    m->handle_ = h;
    m->instance_ = reinterpret_cast<HINSTANCE>(h);
    auto desc = symbol<DescFn>(h, "LibDescription");
    auto count = symbol<CountFn>(h, "LibNumberClasses");
    auto cls = symbol<ClassFn>(h, "LibClassDesc");
    auto ver = symbol<VersionFn>(h, "LibVersion");
    const char* missing = !desc    ? "LibDescription"
                          : !count ? "LibNumberClasses"
                          : !cls   ? "LibClassDesc"
                          : !ver   ? "LibVersion"
                                   : nullptr;
    if (missing)
        return fail(std::string("not a plug-in: it does not export ") + missing);
    // The module entry runs first, as the platform's loader would run it, so that the module
    // knows its instance handle before it is asked anything.
    m->entry_ = symbol<EntryFn>(h, "DllMain");
    if (m->entry_ && !m->entry_(m->instance_, DLL_PROCESS_ATTACH, nullptr)) {
        m->entry_ = nullptr;
        return fail("its module entry refused to initialise");
    }
    m->version_ = ver();
    if (m->version_ != HostSDKVersion())
        return fail("built for host version " + VersionText(m->version_) +
                    ", but this host is version " + VersionText(HostSDKVersion()));
    const char* d = desc();
    m->description_ = d ? d : "";
    int n = count();
    if (n < 0)
        return fail("reports a negative number of classes (" + std::to_string(n) + ")");
    for (int i = 0; i < n; ++i) {
        ClassDesc* cd = cls(i);
        if (!cd)
            return fail("has no class descriptor for index " + std::to_string(i) + " of " +
                        std::to_string(n));
        m->classes_.push_back(cd);
    }
    for (ClassDesc* cd : m->classes_)
        if (ClassDirectory::Instance().Register(cd))
            m->registered_.push_back(cd);
    return m;
}

std::vector<std::unique_ptr<PluginModule>> LoadPluginFolder(const std::string& dir,
                                                            std::vector<std::string>* errors,
                                                            const std::string& suffix) {
    std::vector<std::unique_ptr<PluginModule>> out;
    std::error_code ec;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::string name = e.path().filename().string();
        if (e.is_regular_file() && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            files.push_back(e.path().string());
    }
    if (ec && errors)
        errors->push_back(dir + ": cannot read the folder (" + ec.message() + ")");
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
        std::string err;
        if (auto m = PluginModule::Load(f, &err))
            out.push_back(std::move(m));
        else if (errors)
            errors->push_back(err);
    }
    return out;
}
