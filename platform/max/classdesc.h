// Class descriptors and the class directory of the host stand-in: how the host learns of a
// plug-in class, creates its objects, builds their automatic parameter blocks and opens their
// rollouts, and finds a class again by name or ID.
#pragma once

#include "platform/max/maxtypes.h"
#include "platform/max/ref.h"
#include "platform/win/wintypes.h"

#include <functional>
#include <string>
#include <vector>

class ParamBlockDesc2;
class FPInterface;
class FPInterfaceDesc;
class IObjParam;
class Interface;

// Flags passed to BeginEditParams / EndEditParams.
constexpr ULONG BEGIN_EDIT_CREATE = 1 << 0;
constexpr ULONG END_EDIT_REMOVEUI = 1 << 0;

class ClassDesc {
public:
    virtual ~ClassDesc() = default;
    virtual int IsPublic() = 0;
    virtual void* Create(BOOL loading = FALSE) = 0;
    virtual const char* ClassName() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const char* Category() = 0;
    virtual BOOL OkToCreate(Interface* i) {
        (void)i;
        return TRUE;
    }
    virtual BOOL HasClassParams() { return FALSE; }
    virtual int NumActionTables() { return 0; }
    virtual void ResetClassParams(BOOL fileReset) { (void)fileReset; }
    // The name scripts use for the class; null means "same as ClassName".
    virtual const char* InternalName() { return nullptr; }
    virtual HINSTANCE HInstance() { return nullptr; }

    virtual void BeginEditParams(IObjParam* ip, ReferenceMaker* obj, ULONG flags,
                                 Animatable* prev) {
        (void)ip, (void)obj, (void)flags, (void)prev;
    }
    virtual void EndEditParams(IObjParam* ip, ReferenceMaker* obj, ULONG flags, Animatable* next) {
        (void)ip, (void)obj, (void)flags, (void)next;
    }

    // Published interfaces of the class.
    virtual int NumInterfaces() { return 0; }
    virtual FPInterface* GetInterfaceAt(int i) {
        (void)i;
        return nullptr;
    }
    virtual FPInterface* GetInterface(Interface_ID id) {
        (void)id;
        return nullptr;
    }
    virtual FPInterface* GetInterface(const char* name) {
        (void)name;
        return nullptr;
    }
};

// A descriptor that also knows its parameter-block descriptors and published interfaces (they
// register themselves when they are constructed with this descriptor as owner).
class ClassDesc2 : public ClassDesc {
public:
    // Opens or closes the automatic rollouts of an object; installed by the user-interface layer.
    using EditParamsHandler = std::function<void(ClassDesc2* cd, IObjParam* ip, ReferenceMaker* obj,
                                                 ULONG flags, bool begin)>;
    static void SetEditParamsHandler(EditParamsHandler h);

    void AddParamBlockDesc(ParamBlockDesc2* pbd);
    int NumParamBlockDescs() { return static_cast<int>(pbdescs_.size()); }
    ParamBlockDesc2* GetParamBlockDesc(int i);
    ParamBlockDesc2* GetParamBlockDescByID(BlockID id);
    ParamBlockDesc2* GetParamBlockDescByName(const char* name);

    // Creates every block descriptor's block that asks for automatic construction, each for
    // `owner` and as its reference number ref_no.
    void MakeAutoParamBlocks(ReferenceMaker* owner);

    // Remembers the object being edited and lets the user-interface layer open (close) the
    // rollouts of every block descriptor that asks for an automatic user interface.
    void BeginEditParams(IObjParam* ip, ReferenceMaker* obj, ULONG flags,
                         Animatable* prev) override;
    void EndEditParams(IObjParam* ip, ReferenceMaker* obj, ULONG flags, Animatable* next) override;
    ReferenceMaker* EditingObject() const { return editObj_; }
    IObjParam* EditingInterface() const { return editIp_; }
    // Refreshes every open rollout of every block descriptor.
    void InvalidateUI();

    void AddInterface(FPInterfaceDesc* fpd);
    int NumInterfaces() override { return static_cast<int>(interfaces_.size()); }
    FPInterface* GetInterfaceAt(int i) override;
    FPInterface* GetInterface(Interface_ID id) override;
    FPInterface* GetInterface(const char* name) override;
    FPInterfaceDesc* GetFPInterfaceDesc(int i);

private:
    std::vector<ParamBlockDesc2*> pbdescs_;
    std::vector<FPInterfaceDesc*> interfaces_;
    ReferenceMaker* editObj_ = nullptr;
    IObjParam* editIp_ = nullptr;
};

// Every class the host knows, in registration order.
class ClassDirectory {
public:
    static ClassDirectory& Instance();

    // Refuses null and a second descriptor of the same super class and class ID.
    bool Register(ClassDesc* cd);
    void Unregister(ClassDesc* cd);
    int Count() const { return static_cast<int>(classes_.size()); }
    ClassDesc* Get(int i) const;
    ClassDesc* FindClass(SClass_ID sid, Class_ID cid) const;
    ClassDesc* FindClass(Class_ID cid) const;
    // By class name or internal (script) name, case-insensitively.
    ClassDesc* FindClass(const char* name) const;
    // A new object of the class, or null when the class is unknown or refuses.
    void* CreateInstance(SClass_ID sid, Class_ID cid) const;
    void* CreateInstance(const char* name) const;

private:
    std::vector<ClassDesc*> classes_;
};

// Host SDK version the stand-in plays: (release << 16) | (API number << 8) | SDK revision.
constexpr ULONG MakeLibVersion(ULONG release, ULONG api, ULONG revision) {
    return (release << 16) | (api << 8) | revision;
}
ULONG HostSDKVersion();
void SetHostSDKVersion(ULONG v);
