#include "renderer/FileFormats.h"

#include "renderer/PluginHost.h"

#include <dlfcn.h>

#include <filesystem>
#include <new>
#include <stdexcept>

namespace velquin::renderer {
namespace {

struct FormatsModule {
    ReadMeshFileFn* readMesh = nullptr;
    WriteExrFn* writeExr = nullptr;
    std::string failure; // why it could not be loaded, when it could not
};

// Loaded once, on first use, and kept for the life of the process. Looked for beside the
// program first, then where the build put it (tests and tools run from elsewhere).
const FormatsModule& formatsModule() {
    static const FormatsModule module = [] {
        FormatsModule m;
        std::vector<std::string> places;
        const std::string here = executableFolder();
        if (!here.empty())
            places.push_back(here + "/" + kFileFormatsModule);
        places.push_back(VELQUIN_FORMATS_MODULE);
        std::string tried;
        for (const std::string& place : places) {
            std::error_code ec;
            if (!std::filesystem::exists(place, ec))
                continue;
            void* handle = ::dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char* why = ::dlerror();
                if (why && loaderOutOfMemory(why))
                    throw std::bad_alloc(); // not kept: a later try may find the memory
                tried += (tried.empty() ? "" : "; ") + std::string(why ? why : place);
                continue;
            }
            m.readMesh = reinterpret_cast<ReadMeshFileFn*>(::dlsym(handle, kReadMeshFileSymbol));
            m.writeExr = reinterpret_cast<WriteExrFn*>(::dlsym(handle, kWriteExrSymbol));
            if (m.readMesh && m.writeExr)
                return m;
            tried += (tried.empty() ? "" : "; ") + place + ": not the formats module";
            m.readMesh = nullptr;
            m.writeExr = nullptr;
            ::dlclose(handle);
        }
        m.failure = std::string("the module that reads mesh files and writes EXR images (") +
                    kFileFormatsModule + ") cannot be loaded: " +
                    (tried.empty() ? "it is neither beside the program nor at " +
                                         std::string(VELQUIN_FORMATS_MODULE)
                                   : tried);
        return m;
    }();
    if (!module.failure.empty())
        throw std::runtime_error(module.failure);
    return module;
}

} // namespace

bool readMeshFile(const std::string& path, MeshFileData& out, std::string& error) {
    const int r = formatsModule().readMesh(path.c_str(), &out, &error);
    if (r == kMeshOutOfMemory)
        throw std::bad_alloc();
    return r == kMeshRead;
}

bool writeExr(const std::string& file, int width, int height, const float* rgba,
              std::string& error) {
    const int r = formatsModule().writeExr(file.c_str(), width, height, rgba, &error);
    if (r == kExrOutOfMemory)
        throw std::bad_alloc();
    return r == kExrWritten;
}

} // namespace velquin::renderer
