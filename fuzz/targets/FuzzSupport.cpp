#include "fuzz/targets/FuzzSupport.h"

#include "object/Module.h"
#include "object/ModuleEntry.h"
#include "platform/max/classdesc.h"
#include "platform/max/plugin.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace velquin::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPointsPly = "ply\n"
                                   "format ascii 1.0\n"
                                   "element vertex 3\n"
                                   "property float x\n"
                                   "property float y\n"
                                   "property float z\n"
                                   "property float radius\n"
                                   "property uchar red\n"
                                   "property uchar green\n"
                                   "property uchar blue\n"
                                   "end_header\n"
                                   "0 0 0 5 255 0 0\n"
                                   "10 0 0 4 0 255 0\n"
                                   "0 10 5 3 0 0 255\n";

constexpr const char* kTriangleObj = "v 0 0 0\n"
                                     "v 10 0 0\n"
                                     "v 0 10 0\n"
                                     "v 0 0 10\n"
                                     "f 1 2 3\n"
                                     "f 1 2 4\n";

void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out)
        throw std::runtime_error("cannot write the fuzz scratch file " + p.string());
}

struct Scratch {
    std::string path;
    Scratch() {
        fs::path dir = fs::temp_directory_path() / ("velquin_fuzz_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        writeFile(dir / "points.ply", kPointsPly);
        writeFile(dir / "tri.obj", kTriangleObj);
        path = dir.string();
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

} // namespace

const std::string& scratchFolder() {
    static Scratch scratch;
    return scratch.path;
}

std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    fs::path p = fs::path(scratchFolder()) / name;
    writeFile(p, std::string(reinterpret_cast<const char*>(data), size));
    return p.string();
}

void registerPluginClass() {
    static const bool done = [] {
        // A handle of our own: the module entry records it and files the dialog resources
        // under it, as the loader would with the module's handle.
        static int handle;
        velquin::moduleEntry(reinterpret_cast<HINSTANCE>(&handle), DLL_PROCESS_ATTACH, nullptr);
        ClassDesc* cd = velquin::GetVelquinMetaballDesc();
        if (!ClassDirectory::Instance().FindClass(cd->ClassName()) &&
            !ClassDirectory::Instance().Register(cd))
            throw std::runtime_error("cannot register the plug-in class for fuzzing");
        return true;
    }();
    (void)done;
}

} // namespace velquin::fuzz
