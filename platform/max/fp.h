// Function publishing of the host stand-in: interface descriptors with their functions and
// argument types, interfaces that dispatch calls by function ID or by name, and values passed
// to and from published functions.
#pragma once

#include "platform/max/classdesc.h"
#include "platform/max/iparamb2.h"
#include "platform/max/maxtypes.h"
#include "platform/max/ref.h"

#include <deque>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

using FunctionID = short;
constexpr FunctionID FP_NO_FUNCTION = -1;

using FPStatus = int;
constexpr FPStatus FPS_FAIL = 0;
constexpr FPStatus FPS_OK = 1;
constexpr FPStatus FPS_NO_SUCH_FUNCTION = -1;
constexpr FPStatus FPS_ACTION_DISABLED = -2;

// Interface descriptor flags.
constexpr ULONG FP_ACTIONS = 0x1;
constexpr ULONG FP_MIXIN = 0x2;
constexpr ULONG FP_CORE = 0x4;
constexpr ULONG FP_STATIC_METHODS = 0x8;

// The root of every interface found through GetInterface(Interface_ID).
class BaseInterface {
public:
    virtual ~BaseInterface() = default;
    virtual Interface_ID GetID() { return Interface_ID(0, 0); }
    virtual BaseInterface* GetInterface(Interface_ID id) { return id == GetID() ? this : nullptr; }
    virtual void ReleaseInterface() {}
};

// A value passed to or returned by a published function; the member that matches `type` holds
// it (TYPE_VOID: no value).
struct FPValue {
    ParamType2 type = TYPE_VOID;
    int i = 0;
    float f = 0.0f;
    Point3 p;
    ReferenceTarget* r = nullptr;
    std::string s;

    FPValue() = default;
    static FPValue Int(int v, ParamType2 t = TYPE_INT) {
        FPValue x;
        x.type = t, x.i = v;
        return x;
    }
    static FPValue Float(float v) {
        FPValue x;
        x.type = TYPE_FLOAT, x.f = v;
        return x;
    }
    static FPValue Point(const Point3& v) {
        FPValue x;
        x.type = TYPE_POINT3, x.p = v;
        return x;
    }
    static FPValue String(std::string v) {
        FPValue x;
        x.type = TYPE_STRING, x.s = std::move(v);
        return x;
    }
    static FPValue Ref(ReferenceTarget* v, ParamType2 t = TYPE_REFTARG) {
        FPValue x;
        x.type = t, x.r = v;
        return x;
    }
    // A node value from any class that derives from ReferenceTarget.
    template <class T> static FPValue Node(T* n) {
        return Ref(static_cast<ReferenceTarget*>(n), TYPE_INODE);
    }
    template <class T = INode> T* ref() const { return static_cast<T*>(r); }
};

// Arguments of one call, in the function's argument order.
class FPParams {
public:
    FPParams() = default;
    FPParams(std::initializer_list<FPValue> v) : params(v) {}
    int Count() const { return static_cast<int>(params.size()); }
    FPValue& operator[](int i) { return params[i]; }
    std::vector<FPValue> params;
};

struct FPParamDef {
    std::string internal_name;
    int description = 0; // string-table ID, 0 for none
    ParamType2 type = TYPE_VOID;
};

struct FPFunctionDef {
    FunctionID ID = FP_NO_FUNCTION;
    std::string internal_name;
    int description = 0;
    ParamType2 result_type = TYPE_VOID;
    std::vector<FPParamDef> params;
    FPFunctionDef& Param(const char* name, int description, ParamType2 type) {
        params.push_back({name ? name : "", description, type});
        return *this;
    }
};

class FPInterfaceDesc;

// An interface whose functions can be called by ID or by name.
class FPInterface : public BaseInterface {
public:
    virtual FPInterfaceDesc* GetDesc() = 0;
    Interface_ID GetID() override;

    // Calls function `fid`: the implementation decides (unknown IDs answer FPS_NO_SUCH_FUNCTION).
    virtual FPStatus Invoke(FunctionID fid, TimeValue t, FPValue& result, FPParams* p = nullptr) {
        return _dispatch_fn(fid, t, result, p);
    }
    FPStatus Invoke(FunctionID fid, FPParams* p = nullptr);
    // Calls a function by its internal name (case-insensitive). An unknown name answers
    // FPS_NO_SUCH_FUNCTION; arguments that do not match the function's argument list in count
    // or type answer FPS_FAIL without calling.
    FPStatus InvokeByName(const char* fname, TimeValue t, FPValue& result, FPParams* p = nullptr);
    FunctionID FindFn(const char* name);

protected:
    virtual FPStatus _dispatch_fn(FunctionID fid, TimeValue t, FPValue& result, FPParams* p) {
        (void)fid, (void)t, (void)result, (void)p;
        return FPS_NO_SUCH_FUNCTION;
    }
};

// Describes an interface: ID, names, owner class and functions. Registers itself with its owner
// when constructed with one, as module-wide descriptors do at load time.
class FPInterfaceDesc : public FPInterface {
public:
    FPInterfaceDesc(Interface_ID id, const char* int_name, int descr, ClassDesc* cd, ULONG flag);
    FPInterfaceDesc(const FPInterfaceDesc&) = delete;
    FPInterfaceDesc& operator=(const FPInterfaceDesc&) = delete;

    FPFunctionDef& AppendFunction(FunctionID id, const char* int_name, int descr,
                                  ParamType2 result_type);
    FPFunctionDef* GetFnDef(FunctionID id);
    FPFunctionDef* GetFnDefByName(const char* name);
    int NumFunctions() const { return static_cast<int>(functions.size()); }

    FPInterfaceDesc* GetDesc() override { return this; }
    Interface_ID GetID() override { return ID; }

    Interface_ID ID;
    std::string internal_name;
    int description = 0;
    ClassDesc* cd = nullptr;
    ULONG flags = 0;
    std::deque<FPFunctionDef> functions; // references stay valid while appending
};

// An interface implemented by each object of a class (flag FP_MIXIN), found through the
// object's GetInterface(Interface_ID).
class FPMixinInterface : public FPInterface {
public:
    BaseInterface* GetInterface(Interface_ID id) override { return id == GetID() ? this : nullptr; }
};

// A static interface: the descriptor itself implements the functions.
class FPStaticInterface : public FPInterfaceDesc {
public:
    using FPInterfaceDesc::FPInterfaceDesc;
};

// The published interface of an object by interface name: its class is looked up in the class
// directory, the interface by name in the class descriptor, and the object asked for it.
FPInterface* GetObjectInterface(Animatable* obj, const char* ifaceName);
// The published interface of an object by ID (null when the object does not offer it).
FPInterface* GetObjectInterface(Animatable* obj, Interface_ID id);
