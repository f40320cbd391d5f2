// One entry point per input reader of the program. Each takes the raw bytes of one input, feeds
// them to the reader as the program would, and answers 0. An input the reader rejects with its
// own error (BadInput, TraceInputError) is a normal outcome; anything else that escapes (another
// exception, a crash, a sanitizer report, a hang) is a fault in the reader.
//
// The same functions run under libFuzzer (fuzz/libfuzzer_entry.cpp) and from the regression
// test over the stored inputs (tests/fuzz).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velquin::fuzz {

// A JSON scene, loaded with the plug-in class registered. Relative file names resolve in a
// scratch folder that holds a small point file "points.ply" and a mesh "tri.obj".
int fuzzScene(const std::uint8_t* data, std::size_t size);

// A JSON scene loaded as fuzzScene does and, when it loads and asks for little geometry,
// rendered at 8x6 or less with at most 2 samples and 2 bounces, on one thread.
int fuzzRender(const std::uint8_t* data, std::size_t size);

// The JSON input of `velquin trace`, parsed and compiled into a frame.
int fuzzTrace(const std::uint8_t* data, std::size_t size);

// A PLY point file, parsed from memory.
int fuzzPly(const std::uint8_t* data, std::size_t size);

// A mesh file imported through a scene's mesh node. The first byte chooses the file name
// extension (kMeshExtensions[byte % count]) and, with bit 7, vertex colours; the rest is the
// file.
int fuzzMesh(const std::uint8_t* data, std::size_t size);

inline constexpr const char* kMeshExtensions[] = {"obj", "ply", "stl", "gltf", "glb",
                                                  "off", "dae", "3ds", "fbx"};

} // namespace velquin::fuzz
