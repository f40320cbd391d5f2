#include "platform/max/fp.h"

#include <cctype>

namespace {
bool sameText(const std::string& a, const char* b) {
    if (!b)
        return false;
    std::size_t n = a.size();
    for (std::size_t k = 0; k < n; ++k)
        if (b[k] == '\0' || std::tolower(static_cast<unsigned char>(a[k])) !=
                                std::tolower(static_cast<unsigned char>(b[k])))
            return false;
    return b[n] == '\0';
}

// Whether a value of type `given` may stand for an argument of type `wanted`.
bool compatible(ParamType2 wanted, ParamType2 given) {
    if (wanted == given)
        return true;
    ParamType2 w = base_type(wanted), g = base_type(given);
    if (is_tab(wanted) != is_tab(given))
        return false;
    bool wRef = w == TYPE_INODE || w == TYPE_TEXMAP || w == TYPE_MTL || w == TYPE_REFTARG;
    bool gRef = g == TYPE_INODE || g == TYPE_TEXMAP || g == TYPE_MTL || g == TYPE_REFTARG;
    if (wRef && gRef)
        return w == TYPE_REFTARG || g == TYPE_REFTARG;
    bool wInt = w == TYPE_INT || w == TYPE_BOOL || w == TYPE_INDEX;
    bool gInt = g == TYPE_INT || g == TYPE_BOOL || g == TYPE_INDEX;
    return wInt && gInt;
}
} // namespace

Interface_ID FPInterface::GetID() {
    FPInterfaceDesc* d = GetDesc();
    return d ? d->ID : Interface_ID(0, 0);
}

FPStatus FPInterface::Invoke(FunctionID fid, FPParams* p) {
    FPValue result;
    return Invoke(fid, 0, result, p);
}

FunctionID FPInterface::FindFn(const char* name) {
    FPInterfaceDesc* d = GetDesc();
    FPFunctionDef* f = d ? d->GetFnDefByName(name) : nullptr;
    return f ? f->ID : FP_NO_FUNCTION;
}

FPStatus FPInterface::InvokeByName(const char* fname, TimeValue t, FPValue& result, FPParams* p) {
    FPInterfaceDesc* d = GetDesc();
    FPFunctionDef* f = d ? d->GetFnDefByName(fname) : nullptr;
    if (!f)
        return FPS_NO_SUCH_FUNCTION;
    int given = p ? p->Count() : 0;
    if (given != static_cast<int>(f->params.size()))
        return FPS_FAIL;
    for (int k = 0; k < given; ++k)
        if (!compatible(f->params[k].type, (*p)[k].type))
            return FPS_FAIL;
    return Invoke(f->ID, t, result, p);
}

FPInterfaceDesc::FPInterfaceDesc(Interface_ID id, const char* name, int descr, ClassDesc* owner,
                                 ULONG flag)
    : ID(id), internal_name(name ? name : ""), description(descr), cd(owner), flags(flag) {
    if (auto* cd2 = dynamic_cast<ClassDesc2*>(owner))
        cd2->AddInterface(this);
}

FPFunctionDef& FPInterfaceDesc::AppendFunction(FunctionID id, const char* name, int descr,
                                               ParamType2 result_type) {
    FPFunctionDef f;
    f.ID = id;
    f.internal_name = name ? name : "";
    f.description = descr;
    f.result_type = result_type;
    functions.push_back(std::move(f));
    return functions.back();
}

FPFunctionDef* FPInterfaceDesc::GetFnDef(FunctionID id) {
    for (FPFunctionDef& f : functions)
        if (f.ID == id)
            return &f;
    return nullptr;
}

FPFunctionDef* FPInterfaceDesc::GetFnDefByName(const char* name) {
    for (FPFunctionDef& f : functions)
        if (sameText(f.internal_name, name))
            return &f;
    return nullptr;
}

FPInterface* GetObjectInterface(Animatable* obj, Interface_ID id) {
    if (!obj)
        return nullptr;
    return dynamic_cast<FPInterface*>(obj->GetInterface(id));
}

FPInterface* GetObjectInterface(Animatable* obj, const char* ifaceName) {
    if (!obj || !ifaceName)
        return nullptr;
    ClassDesc* cd = ClassDirectory::Instance().FindClass(obj->SuperClassID(), obj->ClassID());
    if (!cd)
        return nullptr;
    FPInterface* desc = cd->GetInterface(ifaceName);
    if (!desc)
        return nullptr;
    return GetObjectInterface(obj, desc->GetID());
}
