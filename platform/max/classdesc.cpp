#include "platform/max/classdesc.h"

#include "platform/max/fp.h"
#include "platform/max/iparamb2.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {
ClassDesc2::EditParamsHandler& editHandler() {
    static ClassDesc2::EditParamsHandler h;
    return h;
}

bool sameText(const char* a, const char* b) {
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The newest host version the stand-in knows (release 14000, API 38, revision 0).
ULONG hostVersion = MakeLibVersion(14000, 38, 0);
} // namespace

ULONG HostSDKVersion() {
    return hostVersion;
}
void SetHostSDKVersion(ULONG v) {
    hostVersion = v;
}

// ---- ClassDesc2 ----

void ClassDesc2::SetEditParamsHandler(EditParamsHandler h) {
    editHandler() = std::move(h);
}

void ClassDesc2::AddParamBlockDesc(ParamBlockDesc2* pbd) {
    if (pbd && std::find(pbdescs_.begin(), pbdescs_.end(), pbd) == pbdescs_.end())
        pbdescs_.push_back(pbd);
}

ParamBlockDesc2* ClassDesc2::GetParamBlockDesc(int i) {
    return i >= 0 && i < NumParamBlockDescs() ? pbdescs_[i] : nullptr;
}

ParamBlockDesc2* ClassDesc2::GetParamBlockDescByID(BlockID id) {
    for (ParamBlockDesc2* d : pbdescs_)
        if (d->ID == id)
            return d;
    return nullptr;
}

ParamBlockDesc2* ClassDesc2::GetParamBlockDescByName(const char* name) {
    for (ParamBlockDesc2* d : pbdescs_)
        if (sameText(d->int_name.c_str(), name))
            return d;
    return nullptr;
}

void ClassDesc2::MakeAutoParamBlocks(ReferenceMaker* owner) {
    if (!owner)
        return;
    for (ParamBlockDesc2* d : pbdescs_) {
        if (!(d->flags & P_AUTO_CONSTRUCT))
            continue;
        IParamBlock2* pb = CreateParameterBlock2(d, owner);
        if (owner->ReplaceReference(d->ref_no, pb) != REF_SUCCEED)
            delete pb; // the owner has no such reference slot
    }
}

void ClassDesc2::BeginEditParams(IObjParam* ip, ReferenceMaker* obj, ULONG flags,
                                 Animatable* prev) {
    (void)prev;
    editObj_ = obj;
    editIp_ = ip;
    if (editHandler())
        editHandler()(this, ip, obj, flags, true);
}

void ClassDesc2::EndEditParams(IObjParam* ip, ReferenceMaker* obj, ULONG flags, Animatable* next) {
    (void)next;
    if (editHandler())
        editHandler()(this, ip, obj, flags, false);
    editObj_ = nullptr;
    editIp_ = nullptr;
}

void ClassDesc2::InvalidateUI() {
    for (ParamBlockDesc2* d : pbdescs_)
        d->InvalidateUI();
}

void ClassDesc2::AddInterface(FPInterfaceDesc* fpd) {
    if (fpd && std::find(interfaces_.begin(), interfaces_.end(), fpd) == interfaces_.end())
        interfaces_.push_back(fpd);
}

FPInterfaceDesc* ClassDesc2::GetFPInterfaceDesc(int i) {
    return i >= 0 && i < NumInterfaces() ? interfaces_[i] : nullptr;
}

FPInterface* ClassDesc2::GetInterfaceAt(int i) {
    return GetFPInterfaceDesc(i);
}

FPInterface* ClassDesc2::GetInterface(Interface_ID id) {
    for (FPInterfaceDesc* d : interfaces_)
        if (d->ID == id)
            return d;
    return nullptr;
}

FPInterface* ClassDesc2::GetInterface(const char* name) {
    for (FPInterfaceDesc* d : interfaces_)
        if (sameText(d->internal_name.c_str(), name))
            return d;
    return nullptr;
}

// ---- ClassDirectory ----

ClassDirectory& ClassDirectory::Instance() {
    static ClassDirectory dir;
    return dir;
}

bool ClassDirectory::Register(ClassDesc* cd) {
    if (!cd || FindClass(cd->SuperClassID(), cd->ClassID()))
        return false;
    classes_.push_back(cd);
    return true;
}

void ClassDirectory::Unregister(ClassDesc* cd) {
    classes_.erase(std::remove(classes_.begin(), classes_.end(), cd), classes_.end());
}

ClassDesc* ClassDirectory::Get(int i) const {
    return i >= 0 && i < Count() ? classes_[i] : nullptr;
}

ClassDesc* ClassDirectory::FindClass(SClass_ID sid, Class_ID cid) const {
    for (ClassDesc* cd : classes_)
        if (cd->SuperClassID() == sid && cd->ClassID() == cid)
            return cd;
    return nullptr;
}

ClassDesc* ClassDirectory::FindClass(Class_ID cid) const {
    for (ClassDesc* cd : classes_)
        if (cd->ClassID() == cid)
            return cd;
    return nullptr;
}

ClassDesc* ClassDirectory::FindClass(const char* name) const {
    if (!name)
        return nullptr;
    for (ClassDesc* cd : classes_)
        if (sameText(cd->ClassName(), name) || sameText(cd->InternalName(), name))
            return cd;
    return nullptr;
}

void* ClassDirectory::CreateInstance(SClass_ID sid, Class_ID cid) const {
    ClassDesc* cd = FindClass(sid, cid);
    return cd && cd->OkToCreate(nullptr) ? cd->Create(FALSE) : nullptr;
}

void* ClassDirectory::CreateInstance(const char* name) const {
    ClassDesc* cd = FindClass(name);
    return cd && cd->OkToCreate(nullptr) ? cd->Create(FALSE) : nullptr;
}
