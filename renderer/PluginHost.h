// The plug-in modules the renderer has loaded. They stay loaded for as long as this lives, so it
// must outlive every scene whose objects they created.
#pragma once

#include "platform/max/plugin.h"

#include <memory>
#include <string>
#include <vector>

namespace velquin::renderer {

class PluginHost {
public:
    // Loads every module in `dir`. Throws BadInput when the folder cannot be read or holds no
    // module that loads (the message lists why each candidate was refused).
    void loadFolder(const std::string& dir);
    int moduleCount() const { return static_cast<int>(modules_.size()); }
    const std::vector<std::unique_ptr<PluginModule>>& modules() const { return modules_; }
    // Messages of modules that were refused although others loaded.
    const std::vector<std::string>& refusals() const { return refusals_; }

private:
    std::vector<std::unique_ptr<PluginModule>> modules_;
    std::vector<std::string> refusals_;
};

// The folder of the running program, or "" when it cannot be found.
std::string executableFolder();
// Where the build places the plug-in module: the folder "plugins" beside the program.
std::string defaultPluginFolder();

} // namespace velquin::renderer
