#include "platform/max/mesh.h"

Mesh::Mesh(const Mesh& o)
    : numVerts(o.numVerts), numFaces(o.numFaces), numCVerts(o.numCVerts), vertStore_(o.vertStore_),
      faceStore_(o.faceStore_), colStore_(o.colStore_), vcFaceStore_(o.vcFaceStore_) {
    for (int c = 0; c < MAX_VERTEX_DATA; ++c) {
        vdataOn_[c] = o.vdataOn_[c];
        vdata_[c] = o.vdata_[c];
    }
    sync();
}

Mesh& Mesh::operator=(const Mesh& o) {
    if (this == &o)
        return *this;
    vertStore_ = o.vertStore_;
    faceStore_ = o.faceStore_;
    colStore_ = o.colStore_;
    vcFaceStore_ = o.vcFaceStore_;
    for (int c = 0; c < MAX_VERTEX_DATA; ++c) {
        vdataOn_[c] = o.vdataOn_[c];
        vdata_[c] = o.vdata_[c];
    }
    sync();
    return *this;
}

void Mesh::sync() {
    numVerts = static_cast<int>(vertStore_.size());
    numFaces = static_cast<int>(faceStore_.size());
    numCVerts = static_cast<int>(colStore_.size());
    verts = vertStore_.empty() ? nullptr : vertStore_.data();
    faces = faceStore_.empty() ? nullptr : faceStore_.data();
    vertCol = colStore_.empty() ? nullptr : colStore_.data();
    vcFace = vcFaceStore_.empty() ? nullptr : vcFaceStore_.data();
}

void Mesh::setNumVerts(int n) {
    if (n < 0)
        n = 0;
    vertStore_.resize(static_cast<size_t>(n));
    for (int c = 0; c < MAX_VERTEX_DATA; ++c)
        if (vdataOn_[c])
            vdata_[c].resize(static_cast<size_t>(n), 0.0f);
    sync();
}

void Mesh::setVerts(std::vector<Point3>&& v) {
    vertStore_ = std::move(v);
    for (int c = 0; c < MAX_VERTEX_DATA; ++c)
        if (vdataOn_[c])
            vdata_[c].resize(vertStore_.size(), 0.0f);
    sync();
}

void Mesh::setNumFaces(int n) {
    faceStore_.resize(static_cast<size_t>(n < 0 ? 0 : n));
    sync();
}

void Mesh::setNumVertCol(int n) {
    colStore_.resize(static_cast<size_t>(n < 0 ? 0 : n));
    sync();
}

void Mesh::setNumVCFaces(int n) {
    vcFaceStore_.resize(static_cast<size_t>(n < 0 ? 0 : n));
    sync();
}

void Mesh::FreeAll() {
    vertStore_.clear();
    faceStore_.clear();
    colStore_.clear();
    vcFaceStore_.clear();
    for (int c = 0; c < MAX_VERTEX_DATA; ++c) {
        vdataOn_[c] = false;
        vdata_[c].clear();
    }
    sync();
}

BOOL Mesh::vDataSupport(int chan) const {
    return chan >= 0 && chan < MAX_VERTEX_DATA && vdataOn_[chan];
}

void Mesh::setVDataSupport(int chan, BOOL support) {
    if (chan < 0 || chan >= MAX_VERTEX_DATA)
        return;
    vdataOn_[chan] = support != FALSE;
    if (support)
        vdata_[chan].resize(vertStore_.size(), 0.0f);
    else
        vdata_[chan].clear();
}

float* Mesh::vertexFloat(int chan) {
    if (!vDataSupport(chan) || vdata_[chan].empty())
        return nullptr;
    return vdata_[chan].data();
}

const float* Mesh::vertexFloat(int chan) const {
    if (!vDataSupport(chan) || vdata_[chan].empty())
        return nullptr;
    return vdata_[chan].data();
}

Box3 Mesh::getBoundingBox(const Matrix3* tm) const {
    Box3 b;
    for (const Point3& p : vertStore_)
        b += tm ? tm->PointTransform(p) : p;
    return b;
}
