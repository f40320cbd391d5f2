// Triangle meshes of the host stand-in: vertices, faces, the vertex-colour map channel with its
// own colour vertices and colour faces, and per-vertex float data channels (channel 0 holds the
// soft-selection weights). Meshes copy deeply.
//
// The public pointer members mirror the host's layout so that readers can index them directly;
// they always point into the mesh's own storage (or are null when a part is empty) and are kept
// in step by every operation that resizes. Never assign them or the counts directly.
#pragma once

#include "platform/max/maxtypes.h"

#include <vector>

// Per-vertex data channel of the soft-selection weights.
constexpr int VDATA_SELECT = 0;
constexpr int MAX_VERTEX_DATA = 8;

class Face {
public:
    DWORD v[3] = {0, 0, 0};
    DWORD smGroup = 0;
    DWORD flags = 0;
    void setVerts(int a, int b, int c) {
        v[0] = static_cast<DWORD>(a);
        v[1] = static_cast<DWORD>(b);
        v[2] = static_cast<DWORD>(c);
    }
    DWORD getVert(int i) const { return v[i]; }
};

// One face of a map channel: three indices into that channel's own vertices.
class TVFace {
public:
    DWORD t[3] = {0, 0, 0};
    TVFace() = default;
    TVFace(DWORD a, DWORD b, DWORD c) : t{a, b, c} {}
    void setTVerts(int a, int b, int c) {
        t[0] = static_cast<DWORD>(a);
        t[1] = static_cast<DWORD>(b);
        t[2] = static_cast<DWORD>(c);
    }
    DWORD getTVert(int i) const { return t[i]; }
};

using VertColor = Point3;

class Mesh {
public:
    int numVerts = 0;
    int numFaces = 0;
    Point3* verts = nullptr;
    Face* faces = nullptr;
    int numCVerts = 0;
    VertColor* vertCol = nullptr; // colour vertices of the vertex-colour channel
    TVFace* vcFace = nullptr;     // colour faces, numVCFaces of them (normally numFaces)

    Mesh() = default;
    Mesh(const Mesh& o);
    Mesh& operator=(const Mesh& o);
    ~Mesh() = default;

    // Resizing keeps the leading entries; new entries are zero.
    void setNumVerts(int n);
    // Replaces the vertices by v, taking its storage (the count follows it).
    void setVerts(std::vector<Point3>&& v);
    void setNumFaces(int n);
    void setNumVertCol(int n);
    void setNumVCFaces(int n);
    int getNumVerts() const { return numVerts; }
    int getNumFaces() const { return numFaces; }
    int getNumVertCol() const { return numCVerts; }
    int getNumVCFaces() const { return static_cast<int>(vcFaceStore_.size()); }
    Point3& getVert(int i) { return verts[i]; }
    const Point3& getVert(int i) const { return verts[i]; }
    void setVert(int i, const Point3& p) { verts[i] = p; }
    void setVert(int i, float x, float y, float z) { verts[i] = Point3(x, y, z); }
    // Empties everything: geometry, colour channel and data channels.
    void FreeAll();

    // Per-vertex data channels. Support allocates numVerts values (0) that follow later
    // vertex-count changes; vertexFloat is null for an unsupported channel.
    BOOL vDataSupport(int chan) const;
    void setVDataSupport(int chan, BOOL support = TRUE);
    float* vertexFloat(int chan);
    const float* vertexFloat(int chan) const;

    // Bounding box of the vertices, optionally transformed; empty for a mesh without vertices.
    Box3 getBoundingBox(const Matrix3* tm = nullptr) const;

private:
    void sync();
    std::vector<Point3> vertStore_;
    std::vector<Face> faceStore_;
    std::vector<VertColor> colStore_;
    std::vector<TVFace> vcFaceStore_;
    bool vdataOn_[MAX_VERTEX_DATA] = {};
    std::vector<float> vdata_[MAX_VERTEX_DATA];
};
