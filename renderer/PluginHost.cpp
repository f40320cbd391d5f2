#include "renderer/PluginHost.h"

#include "renderer/Errors.h"
#include "renderer/FileFormats.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <new>
#include <system_error>

namespace velquin::renderer {

void PluginHost::loadFolder(const std::string& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        throw BadInput(dir + (std::filesystem::exists(dir, ec)
                                  ? ": not a folder; expected the folder that holds the plug-in "
                                    "modules"
                                  : ": plug-in folder not found"));
    std::vector<std::string> errors;
    auto loaded = LoadPluginFolder(dir, &errors);
    if (loaded.empty()) {
        // Modules that could not be mapped into memory are no bad input.
        if (!errors.empty() && std::all_of(errors.begin(), errors.end(), loaderOutOfMemory))
            throw std::bad_alloc();
        std::string msg = dir + ": no plug-in module in this folder";
        // Every module file either loads or says why not: no message means no module file.
        if (errors.empty())
            msg += " (modules are files whose names end in .so)";
        for (const std::string& e : errors)
            msg += "\n  " + e;
        throw BadInput(msg);
    }
    for (auto& m : loaded)
        modules_.push_back(std::move(m));
    for (auto& e : errors)
        refusals_.push_back(e);
}

std::string executableFolder() {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "";
    return p.parent_path().string();
}

} // namespace velquin::renderer

namespace velquin::renderer {

std::string defaultPluginFolder() {
    std::string exe = executableFolder();
    return (std::filesystem::path(exe.empty() ? "." : exe) / "plugins").string();
}

} // namespace velquin::renderer
