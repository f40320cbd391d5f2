// The host's core interface (one per process): current time, redraws, the command panel's task
// mode, pick modes, node picking, the select-by-name dialog, viewports, the scene and the node
// selection. Also the UI colours, the colour manager and the custom buttons.
//
// Nothing here has a user in front of it: tests and the scene loader stand in for the mouse
// (SimulatePick, SimulateRightClick, CreateObjectByDrag) and for the select-by-name dialog (a
// chooser function that answers what the user would choose).
#pragma once

#include "platform/max/maxtypes.h"
#include "platform/max/object.h"
#include "platform/max/scene.h"
#include "platform/max/tab.h"
#include "platform/max/viewport.h"
#include "platform/win/wintypes.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Interface;
class IObjParam;
using INodeTab = Tab<INode*>;

// Task modes of the command panel.
constexpr int TASK_MODE_CREATE = 1;
constexpr int TASK_MODE_MODIFY = 2;
constexpr int TASK_MODE_HIERARCHY = 3;
constexpr int TASK_MODE_MOTION = 4;
constexpr int TASK_MODE_DISPLAY = 5;
constexpr int TASK_MODE_UTILITY = 6;

// Redraw flags.
constexpr DWORD REDRAW_BEGIN = 0x1;
constexpr DWORD REDRAW_INTERACTIVE = 0x2;
constexpr DWORD REDRAW_END = 0x4;
constexpr DWORD REDRAW_NORMAL = 0x8;

// Decides which nodes a pick may take.
class PickNodeCallback {
public:
    virtual ~PickNodeCallback() = default;
    virtual BOOL Filter(INode* node) = 0;
};

// A viewport pick mode. The host asks HitTest while the mouse moves and before a click, Pick on a
// click that hit (TRUE ends the mode), RightClick on a right click (TRUE ends the mode); ExitMode
// is called whenever the mode ends, for whatever reason.
class PickModeCallback {
public:
    virtual ~PickModeCallback() = default;
    virtual BOOL HitTest(IObjParam* ip, HWND hWnd, ViewExp* vpt, IPoint2 m, int flags) = 0;
    virtual BOOL Pick(IObjParam* ip, ViewExp* vpt) = 0;
    virtual BOOL PickAnimatable(Animatable* anim) {
        (void)anim;
        return TRUE;
    }
    virtual BOOL RightClick(IObjParam* ip, ViewExp* vpt) {
        (void)ip, (void)vpt;
        return FALSE;
    }
    virtual void EnterMode(IObjParam* ip) { (void)ip; }
    virtual void ExitMode(IObjParam* ip) { (void)ip; }
    virtual HCURSOR GetDefCursor(IObjParam* ip) {
        (void)ip;
        return nullptr;
    }
    virtual HCURSOR GetHitCursor(IObjParam* ip) {
        (void)ip;
        return nullptr;
    }
    virtual PickNodeCallback* GetFilter() { return nullptr; }
    virtual BOOL AllowMultiSelect() { return FALSE; }
};

// The questions the select-by-name dialog asks its owner, in their slot order.
class HitByNameDlgCallback {
public:
    virtual ~HitByNameDlgCallback() = default;
    virtual const char* dialogTitle() { return ""; }
    virtual const char* buttonText() { return ""; }
    virtual BOOL singleSelect() { return FALSE; }
    virtual BOOL useFilter() { return TRUE; }
    virtual int filter(INode* node) {
        (void)node;
        return TRUE;
    }
    virtual BOOL useProc() { return TRUE; }
    virtual void proc(INodeTab& nodeTab) { (void)nodeTab; }
    virtual BOOL doCustomHilite() { return FALSE; }
    virtual BOOL doHilite(INode* node) {
        (void)node;
        return FALSE;
    }
    virtual BOOL showHiddenAndFrozen() { return FALSE; }
};

// What the select-by-name dialog shows: its title, button and the offered nodes in scene order.
struct HitByNameView {
    std::string title;
    std::string button;
    bool singleSelect = false;
    std::vector<INode*> offered;
};
// Plays the user of the dialog: fills `chosen` (in the order the user chose) and answers true
// for the dialog's button, false for Cancel. Only offered nodes count, each once; a single-select
// dialog keeps the first.
using HitByNameChooser =
    std::function<bool(const HitByNameView& view, std::vector<INode*>& chosen)>;
// A chooser that takes the offered nodes with these names, in this order, and confirms.
HitByNameChooser ChooseNodesByName(std::vector<std::string> names);

class Interface {
public:
    virtual ~Interface();
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    TimeValue GetTime() const { return time_; }
    void SetTime(TimeValue t, BOOL redraw = TRUE);

    // Redraws every viewport: each records what the visible nodes' objects display at t.
    void RedrawViews(TimeValue t, DWORD vpFlags = REDRAW_NORMAL, ReferenceTarget* change = nullptr);
    int RedrawCount() const { return redraws_; }
    TimeValue LastRedrawTime() const { return lastRedrawTime_; }
    DWORD LastRedrawFlags() const { return lastRedrawFlags_; }

    int GetCommandPanelTaskMode() const { return taskMode_; }
    void SetCommandPanelTaskMode(int mode) { taskMode_ = mode; }

    // Starting a mode ends the current one first (its ExitMode runs), then enters the new one.
    void SetPickMode(PickModeCallback* pc);
    void ClearPickMode();
    PickModeCallback* GetCurPickMode() const { return pickMode_; }
    HCURSOR GetCurrentCursor() const { return cursor_; }

    // The node under a screen point of the viewport with this window handle (the active one for
    // null): every visible, unfrozen node whose object's point hit test answers and whose filter
    // accepts is logged in the viewport's hit log; the closest one is answered.
    INode* PickNode(HWND hWnd, IPoint2 pt, PickNodeCallback* filt = nullptr);

    // Runs the select-by-name dialog through the chooser. Confirming calls the callback's proc
    // with the chosen nodes (or, without a callback or when it uses no proc, selects them).
    // TRUE when the user confirmed; FALSE for Cancel or when no chooser is set.
    BOOL DoHitByNameDialog(HitByNameDlgCallback* hbthDlg = nullptr);
    void SetHitByNameChooser(HitByNameChooser chooser) { chooser_ = std::move(chooser); }
    int HitByNameDialogCount() const { return hitByNameRuns_; }
    const HitByNameView& LastHitByNameView() const { return lastView_; }

    // Viewports; there is always at least one, and one is active.
    int NumViewports() const { return static_cast<int>(viewports_.size()); }
    ViewExp* GetViewport(int i);
    ViewExp* AddViewport(int width, int height);
    void SetActiveViewport(int i);
    ViewExp& GetActiveViewExp() { return *viewports_[static_cast<size_t>(active_)]; }
    ViewExp* GetActiveViewport() { return viewports_[static_cast<size_t>(active_)].get(); }
    void ReleaseViewport(ViewExp* vpt) { (void)vpt; }
    ViewExp* FindViewport(HWND hWnd);

    Scene& GetScene() { return *scene_; }

    // Selection (the nodes' selected flags).
    void SelectNode(INode* node, int clearSel = 1);
    void ClearNodeSelection(BOOL redraw = FALSE);
    int GetSelNodeCount();
    INode* GetSelNode(int i);

    // Mouse stand-ins, all in one viewport. A move hit-tests with the current pick mode and sets
    // the cursor; a click hit-tests and, on a hit, lets the mode pick (answers whether it
    // picked); a right click lets the mode end itself. Without a pick mode they do nothing.
    BOOL SimulateMouseMove(ViewExp* vpt, IPoint2 m);
    BOOL SimulatePick(ViewExp* vpt, IPoint2 m);
    void SimulateRightClick(ViewExp* vpt, IPoint2 m);

    // Creates obj by a drag from `from` to `to` through its creation callback: a click at
    // `from` (point 0), a move to `to` (point 1) and a release there (point 1), continuing with
    // further clicks at `to` while the callback asks for more points (at most 8). On success a
    // new node in the scene holds the object, placed at the creation matrix; on abort the object
    // is deleted and null answered.
    INode* CreateObjectByDrag(Object* obj, ViewExp* vpt, IPoint2 from, IPoint2 to);

protected:
    // Only the one IObjParam of the process is made.
    Interface();

private:
    TimeValue time_ = 0;
    int redraws_ = 0;
    TimeValue lastRedrawTime_ = 0;
    DWORD lastRedrawFlags_ = 0;
    int taskMode_ = TASK_MODE_MODIFY;
    PickModeCallback* pickMode_ = nullptr;
    HCURSOR cursor_ = nullptr;
    HitByNameChooser chooser_;
    int hitByNameRuns_ = 0;
    HitByNameView lastView_;
    std::vector<std::unique_ptr<ViewExp>> viewports_;
    int active_ = 0;
    std::unique_ptr<Scene> scene_;
};

// The host interface handed to objects while they are edited.
class IObjParam : public Interface {};

Interface* GetCOREInterface();
IObjParam* GetCOREObjParam();
// Replaces the core interface (and with it the scene, viewports and modes) by a fresh one.
void ResetCOREInterface();

// Interface colours.
constexpr int COLOR_SELECTION = 0;
constexpr int COLOR_SUBSELECTION = 1;
constexpr int COLOR_FREEZE = 2;
Point3 GetUIColor(int which);
void SetUIColor(int which, const Point3& c);
inline Point3 ColorRefToPoint3(COLORREF c) {
    return Point3(static_cast<float>(c & 0xff) / 255.0f,
                  static_cast<float>((c >> 8) & 0xff) / 255.0f,
                  static_cast<float>((c >> 16) & 0xff) / 255.0f);
}

// Colour manager entries.
constexpr int kActiveCommand = 4;
class IColorManager {
public:
    COLORREF GetColor(int id) const;
    void SetColor(int id, COLORREF c) { colors_[id] = c; }

private:
    std::map<int, COLORREF> colors_;
};
IColorManager* GetColorManager();

// Custom buttons: the host's button control on a window of the window system whose class is
// "CustButton". Enabled is the window's own enabled state; the button kind, checked state, text
// and highlight colour are attached to the window and live as long as it does. Every
// GetICustButton needs its ReleaseICustButton.
enum CustButType { CBT_PUSH = 0, CBT_CHECK = 1 };
struct CustButtonState {
    CustButType type = CBT_PUSH;
    bool checked = false;
    COLORREF highlight = 0;
    bool highlightSet = false;
    std::string text;
};
class ICustButton {
public:
    ICustButton(HWND hwnd, CustButtonState* s) : hwnd_(hwnd), s_(s) {}
    HWND GetHwnd() const { return hwnd_; }
    void Enable(BOOL onOff = TRUE);
    void Disable() { Enable(FALSE); }
    BOOL IsEnabled() const;
    void SetType(CustButType type);
    CustButType GetType() const { return s_->type; }
    // Only a check button keeps a checked state.
    void SetCheck(BOOL checked);
    BOOL IsChecked() const { return s_->checked; }
    void SetHighlightColor(COLORREF c) {
        s_->highlight = c;
        s_->highlightSet = true;
    }
    COLORREF GetHighlightColor() const { return s_->highlight; }
    void SetText(const char* text) { s_->text = text ? text : ""; }
    const char* GetText() const { return s_->text.c_str(); }

private:
    HWND hwnd_;
    CustButtonState* s_;
};
// Null unless hCtrl is a live "CustButton" window.
ICustButton* GetICustButton(HWND hCtrl);
void ReleaseICustButton(ICustButton* icb);
// The state attached to a custom button window, or null when it has none.
const CustButtonState* FindCustButtonState(HWND hCtrl);
