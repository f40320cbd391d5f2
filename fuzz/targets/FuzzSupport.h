// What the fuzz entry points share: a scratch folder of this process and the plug-in class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velquin::fuzz {

// A folder for this process only (several fuzzers may run at once), made on first use with
// the fixture files the scene inputs may name, and removed at exit.
const std::string& scratchFolder();

// Writes `size` bytes to `name` in the scratch folder and answers the full path.
std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// Registers the plug-in's class with the class directory once, as loading its module would,
// so that scenes can create plug-in objects. The class is linked in rather than loaded: the
// sanitizer runtimes live in the program and the module could not be linked against them.
void registerPluginClass();

} // namespace velquin::fuzz
