// Builds a RenderScene from a JSON scene (format: docs/scene-format.md). Objects of plug-in
// classes are created by class name through the class directory, their parameters set by script
// name through the parameter block descriptor, and their node lists filled through the class's
// published functions, so the loader knows no plug-in in particular.
#pragma once

#include "renderer/Scene.h"

#include <atomic>
#include <memory>
#include <string>

namespace velquin::renderer {

// Parses `text` (the contents of `source`, used in messages). Relative file names in the scene
// are taken from `baseDir`. Throws BadInput naming the source, the JSON path and what was
// expected. With `stop` set (from anywhere, a signal handler included) loading ends at the next
// node or run of list entries with Interrupted.
std::unique_ptr<RenderScene> loadScene(const std::string& text, const std::string& source,
                                       const std::string& baseDir,
                                       const std::atomic<bool>* stop = nullptr);
// Reads and parses a scene file (a regular file or a pipe, up to 256 MiB).
std::unique_ptr<RenderScene> loadSceneFile(const std::string& path,
                                           const std::atomic<bool>* stop = nullptr);

// The scene built into the program (scenes/default.json).
const char* defaultSceneText();

} // namespace velquin::renderer
