// Parameter maps of the host stand-in: the rollouts of the command panel made from a block
// descriptor's maps, with the automatic two-way bindings between a block's parameters and the
// dialog's controls (spinners with their edits, check boxes, integer combo boxes, node list boxes
// with their delete buttons, texture-map buttons), the user dialog procedure a plug-in puts on a
// map, and the spinner custom control.
//
// The host opens the rollouts itself: while a class descriptor's object is edited, every map of
// every block descriptor that asks for an automatic user interface becomes a rollout, in the
// order in which the descriptor lists its maps. Everything here runs on the user-interface thread.
#pragma once

#include "platform/max/classdesc.h"
#include "platform/max/iparamb2.h"
#include "platform/win/dialogs.h"

#include <functional>
#include <string>

class IObjParam;
class IParamMap2;

// Messages of the host's custom controls to their dialog.
constexpr UINT CC_SPINNER_CHANGE = WM_USER + 600;   // wParam: MAKEWPARAM(id, 0); lParam: spinner
constexpr UINT CC_SPINNER_BUTTONUP = WM_USER + 602; // wParam: MAKEWPARAM(id, TRUE) (accepted)
constexpr UINT WM_CUSTEDIT_ENTER = WM_USER + 685;   // wParam: edit id; lParam: edit window

// The plug-in's own procedure on a rollout: it hears every message of the dialog after the
// automatic bindings have handled theirs. The map that holds it deletes it (DeleteThis) when the
// rollout closes or the procedure is replaced.
class ParamMap2UserDlgProc {
public:
    virtual ~ParamMap2UserDlgProc() = default;
    virtual INT_PTR DlgProc(TimeValue t, IParamMap2* map, HWND hWnd, UINT msg, WPARAM wParam,
                            LPARAM lParam) = 0;
    virtual void DeleteThis() = 0;
    // Called after the map has shown current values again.
    virtual void Update(TimeValue t) { (void)t; }
};

// One rollout of the command panel.
class IParamMap2 {
public:
    IParamMap2(const IParamMap2&) = delete;
    IParamMap2& operator=(const IParamMap2&) = delete;

    HWND GetHWnd() const { return hwnd_; }
    IParamBlock2* GetParamBlock() const { return pblock_; }
    ParamBlockDesc2* GetDesc() const { return desc_; }
    MapID GetMapID() const { return id_; }
    const std::string& GetTitle() const { return title_; }
    // The time the rollout shows: the host's current time.
    TimeValue GetTime() const;

    bool IsRolledUp() const { return rolledUp_; }
    // Rolls the rollout up or down as the user does; the dialog hears WM_SHOWWINDOW.
    void SetRolledUp(bool rolledUp);

    // Gives the map a new user procedure (it owns it from now on; the previous one is deleted).
    // When the dialog already exists the new procedure hears WM_INITDIALOG at once, so that it
    // can fill its controls as if it had been there from the start.
    void SetUserDlgProc(ParamMap2UserDlgProc* proc);
    ParamMap2UserDlgProc* GetUserDlgProc() const { return proc_; }

    // Shows the block's current values in the bound controls (id -1: all of them).
    void Invalidate(ParamID id = -1);
    // Enables or disables the controls bound to a parameter.
    void Enable(ParamID id, BOOL onOff);

private:
    friend IParamMap2* CreateCPParamMap2(MapID, IParamBlock2*, IObjParam*, HINSTANCE, int,
                                         const char*, DWORD, ParamMap2UserDlgProc*);
    friend void DestroyCPParamMap2(IParamMap2*);
    IParamMap2() = default;
    ~IParamMap2();
    static INT_PTR dialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR message(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void setupControls();
    void showValue(ParamDef& def);
    bool command(WORD id, WORD code);
    bool spinnerChanged(WORD id);

    HWND hwnd_ = nullptr;
    IParamBlock2* pblock_ = nullptr;
    ParamBlockDesc2* desc_ = nullptr;
    MapID id_ = 0;
    std::string title_;
    bool rolledUp_ = false;
    ParamMap2UserDlgProc* proc_ = nullptr;
    IObjParam* ip_ = nullptr;
    int listener_ = 0;
};

// Opens a rollout at the end of the command panel from dialog resource `dlgTemplate` of module
// `hInst`; rollFlags APPENDROLL_CLOSED starts it rolled up. Null when the resource is missing.
IParamMap2* CreateCPParamMap2(MapID mapId, IParamBlock2* pb, IObjParam* ip, HINSTANCE hInst,
                              int dlgTemplate, const char* title, DWORD rollFlags,
                              ParamMap2UserDlgProc* proc = nullptr);
// Closes the rollout: its dialog hears WM_DESTROY, then its user procedure is deleted.
void DestroyCPParamMap2(IParamMap2* map);

// The rollouts open in the command panel, top to bottom.
int NumCommandPanelRollouts();
IParamMap2* GetCommandPanelRollout(int i);
// The open rollout of a descriptor's map, or null.
IParamMap2* FindParamMap(ParamBlockDesc2* desc, MapID id);
// Puts a user procedure on a descriptor's map: it is recorded on the descriptor and handed to the
// open rollout. Without an open rollout the procedure is deleted at once (nothing would own it)
// and false answered.
bool SetParamMapUserDlgProc(ParamBlockDesc2* desc, MapID id, ParamMap2UserDlgProc* proc);

// The host's automatic rollouts of an edited object (installed as the class descriptors' edit
// handler when the platform loads): every map of every automatic-UI block descriptor of `cd`,
// titles and dialogs from the descriptor's module.
void CreateAutoParamMaps(ClassDesc2* cd, IObjParam* ip, ReferenceMaker* obj);
void DestroyAutoParamMaps(ClassDesc2* cd, ReferenceMaker* obj);

// The material browser a texture-map button opens: answers the chosen map, or null when the user
// cancels. Without a browser a click does nothing.
using TexmapBrowser = std::function<ReferenceTarget*()>;
TexmapBrowser SetTexmapBrowser(TexmapBrowser browser);

// ---- Spinners ----

// The state of a "SpinnerControl" window; lives as long as the window.
struct SpinnerState {
    bool isInt = false;
    float value = 0.0f;
    float low = -3.0e38f, high = 3.0e38f;
    float scale = 0.1f;
    HWND edit = nullptr; // the linked "CustEdit" that shows the value
};

class ISpinnerControl {
public:
    ISpinnerControl(HWND hwnd, SpinnerState* s) : hwnd_(hwnd), s_(s) {}
    HWND GetHwnd() const { return hwnd_; }
    float GetFVal() const { return s_->value; }
    int GetIVal() const;
    // Values are held within the limits; notify sends CC_SPINNER_CHANGE to the dialog.
    void SetValue(float v, BOOL notify);
    void SetValue(int v, BOOL notify) { SetValue(static_cast<float>(v), notify); }
    void SetLimits(float low, float high, BOOL limitCurValue = TRUE);
    void SetLimits(int low, int high, BOOL limitCurValue = TRUE) {
        SetLimits(static_cast<float>(low), static_cast<float>(high), limitCurValue);
    }
    float GetLimitLow() const { return s_->low; }
    float GetLimitHigh() const { return s_->high; }
    void SetScale(float s) { s_->scale = s; }
    // Links the edit that shows (and lets the user type) the value; the type decides integer or
    // float display.
    void LinkToEdit(HWND edit, EditSpinnerType type);
    // Enabling a spinner enables its edit with it.
    void Enable(BOOL onOff = TRUE);
    BOOL IsEnabled() const { return IsWindowEnabled(hwnd_); }

private:
    void showInEdit();
    HWND hwnd_;
    SpinnerState* s_;
};
// Null unless hCtrl is a live "SpinnerControl" window. Every GetISpinner needs its
// ReleaseISpinner.
ISpinnerControl* GetISpinner(HWND hCtrl);
void ReleaseISpinner(ISpinnerControl* spin);
const SpinnerState* FindSpinnerState(HWND hCtrl);
// How a spinner writes a value in its edit: integers plainly, floats with up to six decimals and
// at least one ("20.0", "0.0001").
std::string FormatSpinnerValue(float v, bool isInt);

// ---- Acting as the user ----

// Drags or clicks spinner `spinnerId` of `dialog` to `value`: the spinner keeps it within its
// limits, shows it in its edit and tells the dialog (CC_SPINNER_CHANGE, then CC_SPINNER_BUTTONUP).
void UserSetSpinner(HWND dialog, int spinnerId, float value);
// Types `text` into edit `editId` and presses Enter: a spinner linked to the edit takes the number
// (text that is no number leaves the value as it was); the dialog hears WM_CUSTEDIT_ENTER.
void UserEnterText(HWND dialog, int editId, const char* text);
