// `velquin info [MODULE...]`: loads plug-in modules through the platform's loader, as the host
// would, and describes each: its description, classes and the host version it was built for.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/velquin/commands.h"
#include "platform/max/classdesc.h"
#include "platform/max/plugin.h"

namespace velquin {
namespace {

const char* superClassName(SClass_ID sid) {
    switch (sid) {
    case GEOMOBJECT_CLASS_ID:
        return "geometric object";
    case TEXMAP_CLASS_ID:
        return "texture map";
    case BASENODE_CLASS_ID:
        return "node";
    default:
        return "other";
    }
}

std::string describe(const PluginModule& m) {
    char line[512];
    std::string out = m.Path() + "\n";
    out += "  description: " + m.Description() + "\n";
    out += "  classes: " + std::to_string(m.NumClasses()) + "\n";
    for (int i = 0; i < m.NumClasses(); ++i) {
        ClassDesc* cd = m.GetClassDesc(i);
        Class_ID id = cd->ClassID();
        const char* name = cd->ClassName();
        const char* category = cd->Category();
        std::snprintf(line, sizeof line,
                      "    %d: \"%s\", category \"%s\", class ID (0x%08lx, 0x%08lx), super class "
                      "0x%lx (%s)\n",
                      i, name ? name : "", category ? category : "", id.PartA(), id.PartB(),
                      cd->SuperClassID(), superClassName(cd->SuperClassID()));
        out += line;
    }
    out += "  LibVersion: " + PluginModule::VersionText(m.Version()) + "\n";
    return out;
}

// The folder named plugins beside this program.
std::string defaultPluginDir() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "plugins";
    return (exe.parent_path() / "plugins").string();
}

int runInfo(const std::vector<std::string>& files, const std::string& pluginDir,
            ULONG hostVersion) {
    // The loader accepts only modules built for the host version it plays.
    SetHostSDKVersion(hostVersion);
    std::vector<std::unique_ptr<PluginModule>> modules;
    std::vector<std::string> errors;
    if (files.empty()) {
        std::string dir = pluginDir.empty() ? defaultPluginDir() : pluginDir;
        if (!std::filesystem::is_directory(dir))
            throw InputError(dir + ": no such plug-in folder");
        modules = LoadPluginFolder(dir, &errors);
        if (modules.empty() && errors.empty())
            throw InputError(dir + ": no plug-in modules in this folder");
    } else {
        for (const std::string& f : files) {
            std::string err;
            if (auto m = PluginModule::Load(f, &err))
                modules.push_back(std::move(m));
            else
                errors.push_back(err);
        }
    }
    std::string out;
    for (const auto& m : modules)
        out += describe(*m);
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    for (const std::string& e : errors)
        std::fprintf(stderr, "velquin info: %s\n", e.c_str());
    return errors.empty() ? kExitSuccess : kExitBadInput;
}

} // namespace

void addInfoCommand(CLI::App& app) {
    struct Options {
        std::vector<std::string> files;
        std::string pluginDir;
        std::string hostVersion;
    };
    auto opts = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "info", "Load plug-in modules as the host does and describe their classes and version");
    CLI::Option* files = sub->add_option(
        "MODULE", opts->files, "Module files (default: every module in the plugins folder)");
    sub->add_option("--plugins", opts->pluginDir,
                    "Folder of modules to describe (default: plugins beside the program)")
        ->excludes(files);
    sub->add_option("--host-version", opts->hostVersion,
                    "Host version to play, as a LibVersion value (default: this build's)");
    setCommandAction(sub, [opts]() {
#ifdef VELQUIN_LIB_VERSION
        ULONG version = VELQUIN_LIB_VERSION;
#else
        ULONG version = HostSDKVersion();
#endif
        if (!opts->hostVersion.empty()) {
            std::size_t used = 0;
            unsigned long v = 0;
            try {
                v = std::stoul(opts->hostVersion, &used, 0);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != opts->hostVersion.size()) {
                std::fprintf(stderr,
                             "velquin info: --host-version: \"%s\" is not a number (e.g. "
                             "0x36B02600)\n",
                             opts->hostVersion.c_str());
                return static_cast<int>(kExitBadUsage);
            }
            version = static_cast<ULONG>(v);
        }
        return runInfo(opts->files, opts->pluginDir, version);
    });
}

} // namespace velquin
