// The renderer's failures that come from its input (scene files, meshes, point files, plug-in
// folders, output paths): the message names the file, the place in it and what was expected.
#pragma once

#include <stdexcept>

namespace velquin::renderer {

class BadInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace velquin::renderer
