// The module behind renderer/FileFormats.h: mesh files through assimp, EXR images through
// OpenEXR. Nothing thrown leaves it; failures come back as false and a message.
#include "renderer/FileFormats.h"

#include <OpenEXR/ImfRgbaFile.h>
#include <assimp/BaseImporter.h>
#include <assimp/DefaultIOSystem.h>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cctype>
#include <exception>
#include <filesystem>
#include <limits>
#include <new>
#include <sstream>

namespace {

using velquin::renderer::MeshFileData;

// The importer opens the files a mesh file names (materials, buffers) through this: like the
// scene's own file names, only regular files are opened, so a mesh naming /dev/zero or a pipe
// cannot stall the import.
class RegularFilesOnly : public Assimp::DefaultIOSystem {
public:
    bool Exists(const char* file) const override { return regular(file); }
    Assimp::IOStream* Open(const char* file, const char* mode) override {
        return regular(file) ? DefaultIOSystem::Open(file, mode) : nullptr;
    }

private:
    static bool regular(const char* file) {
        std::error_code ec;
        return file && std::filesystem::is_regular_file(file, ec);
    }
};

bool readMesh(const std::string& path, MeshFileData& out, std::string& error) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& ch : ext)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::string cannot = "cannot read the mesh file \"" + path + "\": ";
    const std::string named = "the mesh file \"" + path + "\"";
    Assimp::Importer importer;
    importer.SetIOHandler(new RegularFilesOnly); // the importer owns it
    // Only the readers of this extension stay: the importer otherwise hands a file its
    // reader refuses to whichever reader recognises the content, unchecked.
    for (std::size_t i = importer.GetImporterCount(); i-- > 0;) {
        Assimp::BaseImporter* reader = importer.GetImporter(i);
        const aiImporterDesc* d = importer.GetImporterInfo(i);
        std::istringstream exts(d && d->mFileExtensions ? d->mFileExtensions : "");
        bool mine = false;
        for (std::string e; exts >> e;)
            mine = mine || "." + e == ext;
        if (!mine && importer.UnregisterLoader(reader) == AI_SUCCESS)
            delete reader; // no longer the importer's
    }
    // Read first, then validated before any other step touches the data: a file without a
    // mesh is told apart from a malformed one.
    const aiScene* s = importer.ReadFile(path, 0);
    if (s != nullptr && (!s->mRootNode || s->mNumMeshes == 0)) {
        error = cannot + "it holds no mesh";
        return false;
    }
    if (s != nullptr)
        s = importer.ApplyPostProcessing(aiProcess_ValidateDataStructure);
    if (s != nullptr)
        s = importer.ApplyPostProcessing(aiProcess_JoinIdenticalVertices |
                                         aiProcess_PreTransformVertices);
    if (s == nullptr || !s->mRootNode || s->mNumMeshes == 0) {
        // The importer catches what its readers throw and keeps only the text.
        if (s == nullptr && std::string(importer.GetErrorString()) == "std::bad_alloc")
            throw std::bad_alloc();
        error = cannot + (s ? std::string("it holds no mesh") : importer.GetErrorString());
        return false;
    }
    int nv = 0, nf = 0;
    for (unsigned i = 0; i < s->mNumMeshes; ++i) {
        const aiMesh* m = s->mMeshes[i];
        // The host mesh counts in int; the faces must name vertices of their own mesh.
        if (m->mNumVertices > static_cast<unsigned>(std::numeric_limits<int>::max() - nv)) {
            error = named + " has too many vertices";
            return false;
        }
        nv += static_cast<int>(m->mNumVertices);
        // Polygons are split into fans here: the importer's own triangulation aborts the
        // program on some malformed faces.
        for (unsigned f = 0; f < m->mNumFaces; ++f) {
            const aiFace& face = m->mFaces[f];
            if (face.mNumIndices < 3)
                continue;
            for (unsigned k = 0; k < face.mNumIndices; ++k)
                if (face.mIndices[k] >= m->mNumVertices) {
                    error = named + " has a face naming vertex " +
                            std::to_string(face.mIndices[k]) + " of a mesh of " +
                            std::to_string(m->mNumVertices);
                    return false;
                }
            if (face.mNumIndices - 2 >
                static_cast<unsigned>(std::numeric_limits<int>::max() - nf)) {
                error = named + " has too many faces";
                return false;
            }
            nf += static_cast<int>(face.mNumIndices - 2);
        }
    }
    bool colors = true;
    for (unsigned i = 0; i < s->mNumMeshes; ++i)
        colors = colors && s->mMeshes[i]->HasVertexColors(0);
    out.colored = colors;
    out.positions.clear();
    out.colors.clear();
    out.triangles.clear();
    out.positions.reserve(static_cast<std::size_t>(nv) * 3);
    if (colors)
        out.colors.reserve(static_cast<std::size_t>(nv) * 3);
    out.triangles.reserve(static_cast<std::size_t>(nf) * 3);
    int vb = 0;
    for (unsigned i = 0; i < s->mNumMeshes; ++i) {
        const aiMesh* m = s->mMeshes[i];
        for (unsigned v = 0; v < m->mNumVertices; ++v) {
            out.positions.insert(out.positions.end(),
                                 {m->mVertices[v].x, m->mVertices[v].y, m->mVertices[v].z});
            if (colors)
                out.colors.insert(out.colors.end(),
                                  {m->mColors[0][v].r, m->mColors[0][v].g, m->mColors[0][v].b});
        }
        for (unsigned f = 0; f < m->mNumFaces; ++f) {
            const aiFace& face = m->mFaces[f];
            for (unsigned k = 1; k + 1 < face.mNumIndices; ++k)
                out.triangles.insert(out.triangles.end(),
                                     {vb + static_cast<int>(face.mIndices[0]),
                                      vb + static_cast<int>(face.mIndices[k]),
                                      vb + static_cast<int>(face.mIndices[k + 1])});
        }
        vb += static_cast<int>(m->mNumVertices);
    }
    return true;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
velquinReadMeshFile(const char* path, MeshFileData* out, std::string* error) {
    using namespace velquin::renderer;
    try {
        return readMesh(path, *out, *error) ? kMeshRead : kMeshRefused;
    } catch (const std::bad_alloc&) {
        return kMeshOutOfMemory;
    } catch (const std::exception& e) {
        *error = "cannot read the mesh file \"" + std::string(path) + "\": " + e.what();
    }
    return kMeshRefused;
}

extern "C" __attribute__((visibility("default"))) int
velquinWriteExr(const char* file, int width, int height, const float* rgba, std::string* error) {
    using namespace velquin::renderer;
    try {
        std::vector<Imf::Rgba> px(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < px.size(); ++i) {
            const float* s = &rgba[i * 4];
            px[i] = Imf::Rgba(s[0], s[1], s[2], s[3]);
        }
        Imf::RgbaOutputFile out(file, width, height, Imf::WRITE_RGBA);
        out.setFrameBuffer(px.data(), 1, static_cast<std::size_t>(width));
        out.writePixels(height);
        return kExrWritten;
    } catch (const std::bad_alloc&) {
        return kExrOutOfMemory;
    } catch (const std::exception& e) {
        *error = e.what();
    }
    return kExrRefused;
}
