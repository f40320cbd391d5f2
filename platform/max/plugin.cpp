#include "platform/max/plugin.h"

#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

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

namespace {

// Where the furthest part that an ELF file's headers describe ends: program headers, the
// segments they map and the section headers.
template <class Ehdr, class Phdr> std::uint64_t elfExtent(std::ifstream& in) {
    Ehdr eh{};
    in.seekg(0);
    in.read(reinterpret_cast<char*>(&eh), sizeof eh);
    std::uint64_t end = sizeof eh;
    if (!in)
        return end;
    auto cover = [&end](std::uint64_t off, std::uint64_t len) {
        // An offset near the top of the range stands for a place past any file.
        std::uint64_t e = off > UINT64_MAX - len ? UINT64_MAX : off + len;
        end = std::max(end, e);
    };
    if (eh.e_phnum > 0 && eh.e_phentsize == sizeof(Phdr)) {
        cover(eh.e_phoff, std::uint64_t{eh.e_phnum} * sizeof(Phdr));
        in.seekg(static_cast<std::streamoff>(eh.e_phoff));
        for (int i = 0; i < eh.e_phnum && in; ++i) {
            Phdr ph{};
            in.read(reinterpret_cast<char*>(&ph), sizeof ph);
            if (in && ph.p_type != PT_NULL)
                cover(ph.p_offset, ph.p_filesz);
        }
    }
    if (eh.e_shnum > 0)
        cover(eh.e_shoff, std::uint64_t{eh.e_shnum} * eh.e_shentsize);
    return end;
}

// The dynamic loader maps a module's segments as its headers describe them; in a file cut short
// (an interrupted copy) the pages past the end fault with SIGBUS as soon as the loader touches
// them, which would kill the program. Answers why such a file cannot be loaded, or "" for a whole
// file and for one that is no ELF file of this machine at all (the loader's own message says so).
std::string cutShort(const std::string& path) {
    std::error_code ec;
    std::uint64_t size = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in)
        return "";
    unsigned char ident[EI_NIDENT] = {};
    in.read(reinterpret_cast<char*>(ident), EI_NIDENT);
    const unsigned char native =
        std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
    if (!in || std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != native)
        return "";
    std::uint64_t end = 0;
    if (ident[EI_CLASS] == ELFCLASS64)
        end = elfExtent<Elf64_Ehdr, Elf64_Phdr>(in);
    else if (ident[EI_CLASS] == ELFCLASS32)
        end = elfExtent<Elf32_Ehdr, Elf32_Phdr>(in);
    if (end <= size)
        return "";
    return "the file is cut short: it has " + std::to_string(size) +
           " bytes, but its headers describe " +
           (end == UINT64_MAX ? std::string("more") : std::to_string(end));
}

} // namespace

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = path + ": " + why;
        return nullptr;
    };
    if (std::string why = cutShort(path); !why.empty())
        return fail("not a loadable plug-in module (" + why + ")");
    // A name without a slash would be looked up on the loader's search path (and find a
    // system library of that name): a module is named by its path, relative to the working
    // folder when not absolute.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void* h = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
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
    std::vector<std::string> unreadable; // entries whose kind cannot be told (a link loop)
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::string name = e.path().filename().string();
        if (name.size() < suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::error_code kind;
        if (e.is_regular_file(kind))
            files.push_back(e.path().string());
        else if (kind)
            unreadable.push_back(e.path().string() + ": cannot tell what it is (" + kind.message() +
                                 ")");
    }
    if (ec && errors)
        errors->push_back(dir + ": cannot read the folder (" + ec.message() + ")");
    std::sort(unreadable.begin(), unreadable.end());
    if (errors)
        errors->insert(errors->end(), unreadable.begin(), unreadable.end());
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
