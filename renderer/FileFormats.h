// Mesh files and EXR images go through a module of their own (libvelquin_formats.so beside the
// program), loaded the first time a scene imports a mesh or an EXR is written. The libraries
// behind them, assimp and OpenEXR, took about 7 ms of every start of the program in relocation
// and page faults, and most renders use neither.
#pragma once

#include <string>
#include <vector>

namespace velquin::renderer {

// A mesh file's meshes as one: positions, triangles (polygons split into fans) and, when every
// mesh has them, vertex colours.
struct MeshFileData {
    std::vector<float> positions; // x, y, z a vertex
    std::vector<float> colors;    // r, g, b a vertex, when `colored`
    bool colored = false;         // every mesh of the file has vertex colours
    std::vector<int> triangles;   // three vertex numbers a face
};

// Reads a mesh file whose extension and header the caller has checked. False, with `error`
// saying what is wrong with the file (a message that names it), when it cannot be read or holds
// no sound mesh. Throws std::bad_alloc when memory runs out, std::runtime_error when the module
// cannot be loaded.
bool readMeshFile(const std::string& path, MeshFileData& out, std::string& error);

// Writes width x height linear RGBA floats (row 0 at the top) to `file` as an EXR of half
// floats. False, with the reason in `error`, when it cannot. Throws std::bad_alloc when memory
// runs out, std::runtime_error when the module cannot be loaded.
bool writeExr(const std::string& file, int width, int height, const float* rgba,
              std::string& error);

// Whether the dynamic loader's message says that it could not map a library into memory: in a
// process short of address space that is running out of memory, not a broken file.
inline bool loaderOutOfMemory(const std::string& dlerrorText) {
    return dlerrorText.find("failed to map segment") != std::string::npos ||
           dlerrorText.find("Cannot allocate memory") != std::string::npos;
}

// What the module exports, with C linkage so that the names are plain.
inline constexpr const char* kFileFormatsModule = "libvelquin_formats.so";
inline constexpr const char* kReadMeshFileSymbol = "velquinReadMeshFile";
inline constexpr const char* kWriteExrSymbol = "velquinWriteExr";
enum MeshFileResult : int { kMeshRead = 0, kMeshRefused = 1, kMeshOutOfMemory = 2 };
enum ExrWriteResult : int { kExrWritten = 0, kExrRefused = 1, kExrOutOfMemory = 2 };
extern "C" {
using ReadMeshFileFn = int(const char* path, MeshFileData* out, std::string* error);
using WriteExrFn = int(const char* file, int width, int height, const float* rgba,
                       std::string* error);
}

} // namespace velquin::renderer
