#include "platform/max/core.h"

#include "platform/win/dialogs.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// Made on first use and never destroyed at exit: its scene may hold objects of plug-in modules
// that are unloaded by then, and objects whose destructors use other services. Tests and tools
// that want it gone call ResetCOREInterface while everything is still loaded.
IObjParam* g_core = nullptr;

struct UiColors {
    Point3 c[3] = {{1.0f, 1.0f, 1.0f}, {1.0f, 0.0f, 0.0f}, {0.55f, 0.55f, 0.55f}};
};
UiColors g_uiColors;
IColorManager g_colorManager;
std::map<HWND, std::unique_ptr<CustButtonState>> g_buttons;

} // namespace

HitByNameChooser ChooseNodesByName(std::vector<std::string> names) {
    return [names = std::move(names)](const HitByNameView& view, std::vector<INode*>& chosen) {
        for (const std::string& n : names)
            for (INode* node : view.offered)
                if (n == node->GetName()) {
                    chosen.push_back(node);
                    break;
                }
        return true;
    };
}

// ---- Interface ----

Interface::Interface() : scene_(std::make_unique<Scene>()) {
    viewports_.push_back(std::make_unique<ViewExp>(640, 480));
}

Interface::~Interface() {
    // A running mode hears that it ends while the interface still stands.
    ClearPickMode();
    scene_.reset();
}

void Interface::SetTime(TimeValue t, BOOL redraw) {
    time_ = t;
    if (redraw)
        RedrawViews(t);
}

void Interface::RedrawViews(TimeValue t, DWORD vpFlags, ReferenceTarget* change) {
    (void)change;
    ++redraws_;
    lastRedrawTime_ = t;
    lastRedrawFlags_ = vpFlags;
    for (auto& vp : viewports_) {
        vp->getGW()->ClearRecord();
        for (int i = 0; i < scene_->NumNodes(); ++i) {
            INode* node = scene_->GetNode(i);
            if (node->IsHidden())
                continue;
            if (Object* obj = node->EvalWorldState(t).obj)
                obj->Display(t, node, vp.get(), 0);
        }
    }
}

void Interface::SetPickMode(PickModeCallback* pc) {
    if (pickMode_)
        ClearPickMode();
    if (!pc)
        return;
    pickMode_ = pc;
    pc->EnterMode(static_cast<IObjParam*>(this));
    cursor_ = pc->GetDefCursor(static_cast<IObjParam*>(this));
}

void Interface::ClearPickMode() {
    PickModeCallback* pc = pickMode_;
    if (!pc)
        return;
    // Cleared before ExitMode so that a mode that toggles itself from ExitMode sees no mode.
    pickMode_ = nullptr;
    cursor_ = nullptr;
    pc->ExitMode(static_cast<IObjParam*>(this));
}

ViewExp* Interface::GetViewport(int i) {
    return i >= 0 && i < NumViewports() ? viewports_[static_cast<size_t>(i)].get() : nullptr;
}

ViewExp* Interface::AddViewport(int width, int height) {
    viewports_.push_back(std::make_unique<ViewExp>(width, height));
    return viewports_.back().get();
}

void Interface::SetActiveViewport(int i) {
    if (i >= 0 && i < NumViewports())
        active_ = i;
}

ViewExp* Interface::FindViewport(HWND hWnd) {
    if (!hWnd)
        return GetActiveViewport();
    for (auto& vp : viewports_)
        if (vp->GetHWnd() == hWnd)
            return vp.get();
    return nullptr;
}

INode* Interface::PickNode(HWND hWnd, IPoint2 pt, PickNodeCallback* filt) {
    ViewExp* vp = FindViewport(hWnd);
    if (!vp)
        return nullptr;
    vp->ClearHitList();
    for (int i = 0; i < scene_->NumNodes(); ++i) {
        INode* node = scene_->GetNode(i);
        if (node->IsHidden() || node->IsFrozen())
            continue;
        Object* obj = node->EvalWorldState(time_).obj;
        if (!obj)
            continue;
        IPoint2 p = pt;
        if (!obj->HitTest(time_, node, HITTYPE_POINT, 0, 0, &p, vp))
            continue;
        DWORD dist = vp->getGW()->getHitDistance();
        if (filt && !filt->Filter(node))
            continue;
        vp->LogHit(node, dist);
    }
    HitRecord* best = vp->GetClosestHit();
    return best ? best->nodeRef : nullptr;
}

BOOL Interface::DoHitByNameDialog(HitByNameDlgCallback* cb) {
    ++hitByNameRuns_;
    HitByNameView view;
    if (cb) {
        view.title = cb->dialogTitle() ? cb->dialogTitle() : "";
        view.button = cb->buttonText() ? cb->buttonText() : "";
        view.singleSelect = cb->singleSelect() != FALSE;
    }
    bool showHidden = cb && cb->showHiddenAndFrozen();
    bool useFilter = cb && cb->useFilter();
    for (int i = 0; i < scene_->NumNodes(); ++i) {
        INode* node = scene_->GetNode(i);
        if (!showHidden && (node->IsHidden() || node->IsFrozen()))
            continue;
        if (useFilter && !cb->filter(node))
            continue;
        view.offered.push_back(node);
    }
    lastView_ = view;
    if (!chooser_)
        return FALSE;
    std::vector<INode*> picked;
    if (!chooser_(view, picked))
        return FALSE;
    // The dialog can only give back what it listed, each node once.
    std::vector<INode*> chosen;
    for (INode* n : picked) {
        if (std::find(view.offered.begin(), view.offered.end(), n) == view.offered.end())
            continue;
        if (std::find(chosen.begin(), chosen.end(), n) != chosen.end())
            continue;
        chosen.push_back(n);
        if (view.singleSelect)
            break;
    }
    if (cb && cb->useProc()) {
        INodeTab tab;
        if (!chosen.empty())
            tab.Append(static_cast<int>(chosen.size()), chosen.data());
        cb->proc(tab);
    } else {
        ClearNodeSelection();
        for (INode* n : chosen)
            SelectNode(n, 0);
    }
    return TRUE;
}

void Interface::SelectNode(INode* node, int clearSel) {
    if (clearSel)
        ClearNodeSelection();
    if (node)
        node->SetSelected(TRUE);
}

void Interface::ClearNodeSelection(BOOL redraw) {
    for (int i = 0; i < scene_->NumNodes(); ++i)
        scene_->GetNode(i)->SetSelected(FALSE);
    if (redraw)
        RedrawViews(time_);
}

int Interface::GetSelNodeCount() {
    int n = 0;
    for (int i = 0; i < scene_->NumNodes(); ++i)
        n += scene_->GetNode(i)->Selected() ? 1 : 0;
    return n;
}

INode* Interface::GetSelNode(int i) {
    for (int k = 0; k < scene_->NumNodes(); ++k) {
        INode* node = scene_->GetNode(k);
        if (node->Selected() && i-- == 0)
            return node;
    }
    return nullptr;
}

BOOL Interface::SimulateMouseMove(ViewExp* vpt, IPoint2 m) {
    if (!pickMode_ || !vpt)
        return FALSE;
    IObjParam* ip = static_cast<IObjParam*>(this);
    BOOL hit = pickMode_->HitTest(ip, vpt->GetHWnd(), vpt, m, 0);
    if (pickMode_)
        cursor_ = hit ? pickMode_->GetHitCursor(ip) : pickMode_->GetDefCursor(ip);
    return hit;
}

BOOL Interface::SimulatePick(ViewExp* vpt, IPoint2 m) {
    if (!pickMode_ || !vpt)
        return FALSE;
    IObjParam* ip = static_cast<IObjParam*>(this);
    vpt->ClearHitList();
    PickModeCallback* pc = pickMode_;
    if (!pc->HitTest(ip, vpt->GetHWnd(), vpt, m, 0))
        return FALSE;
    if (pc->Pick(ip, vpt) && pickMode_ == pc)
        ClearPickMode();
    return TRUE;
}

void Interface::SimulateRightClick(ViewExp* vpt, IPoint2 m) {
    (void)m;
    PickModeCallback* pc = pickMode_;
    if (!pc)
        return;
    if (pc->RightClick(static_cast<IObjParam*>(this), vpt) && pickMode_ == pc)
        ClearPickMode();
}

INode* Interface::CreateObjectByDrag(Object* obj, ViewExp* vpt, IPoint2 from, IPoint2 to) {
    if (!obj)
        return nullptr;
    if (!vpt)
        vpt = GetActiveViewport();
    CreateMouseCallBack* cb = obj->GetCreateMouseCallBack();
    if (!cb) {
        obj->DeleteThis();
        return nullptr;
    }
    Matrix3 mat;
    vpt->GetConstructionTM(mat);
    int res = cb->proc(vpt, MOUSE_POINT, 0, 0, from, mat);
    if (res == CREATE_CONTINUE)
        res = cb->proc(vpt, MOUSE_MOVE, 1, 0, to, mat);
    for (int point = 1; res == CREATE_CONTINUE && point <= 8; ++point)
        res = cb->proc(vpt, MOUSE_POINT, point, 0, to, mat);
    if (res == CREATE_CONTINUE)
        res = cb->proc(vpt, MOUSE_ABORT, 0, 0, to, mat) == CREATE_STOP ? CREATE_STOP : CREATE_ABORT;
    if (res != CREATE_STOP) {
        obj->DeleteThis();
        return nullptr;
    }
    INode* node = scene_->CreateNode(obj);
    node->SetNodeTMConstant(mat);
    return node;
}

// ---- singletons ----

Interface* GetCOREInterface() {
    return GetCOREObjParam();
}

IObjParam* GetCOREObjParam() {
    if (!g_core)
        g_core = new IObjParam();
    return g_core;
}

void ResetCOREInterface() {
    IObjParam* old = g_core;
    g_core = nullptr;
    delete old;
    g_uiColors = UiColors();
    g_colorManager = IColorManager();
    // Button states belong to their windows, which outlive the core interface.
}

Point3 GetUIColor(int which) {
    return which >= 0 && which < 3 ? g_uiColors.c[which] : Point3();
}

void SetUIColor(int which, const Point3& c) {
    if (which >= 0 && which < 3)
        g_uiColors.c[which] = c;
}

COLORREF IColorManager::GetColor(int id) const {
    auto it = colors_.find(id);
    if (it != colors_.end())
        return it->second;
    return id == kActiveCommand ? RGB(255, 209, 64) : RGB(0, 0, 0);
}

IColorManager* GetColorManager() {
    return &g_colorManager;
}

// ---- custom buttons ----

namespace {
constexpr const char* kButtonProp = "VelquinCustButtonState";

// Window class names compare without regard to case.
bool isCustButtonClass(const std::string& name) {
    static const char kName[] = "custbutton";
    if (name.size() != sizeof kName - 1)
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != kName[i])
            return false;
    return true;
}
} // namespace

void ICustButton::Enable(BOOL onOff) {
    EnableWindow(hwnd_, onOff ? TRUE : FALSE);
}

BOOL ICustButton::IsEnabled() const {
    return IsWindowEnabled(hwnd_);
}

void ICustButton::SetType(CustButType type) {
    s_->type = type;
    if (type != CBT_CHECK)
        s_->checked = false;
}

void ICustButton::SetCheck(BOOL checked) {
    s_->checked = s_->type == CBT_CHECK && checked;
}

ICustButton* GetICustButton(HWND hCtrl) {
    if (!hCtrl || !IsWindow(hCtrl) || !isCustButtonClass(GetWindowClassName(hCtrl)))
        return nullptr;
    auto* attached = static_cast<CustButtonState*>(GetPropA(hCtrl, kButtonProp));
    if (!attached) {
        // A window without the property is a new window, even when its handle value was used
        // before by a window that is gone.
        std::unique_ptr<CustButtonState>& slot = g_buttons[hCtrl];
        slot = std::make_unique<CustButtonState>();
        attached = slot.get();
        SetPropA(hCtrl, kButtonProp, attached);
    }
    return new ICustButton(hCtrl, attached);
}

void ReleaseICustButton(ICustButton* icb) {
    delete icb;
}

const CustButtonState* FindCustButtonState(HWND hCtrl) {
    if (!hCtrl || !IsWindow(hCtrl))
        return nullptr;
    return static_cast<const CustButtonState*>(GetPropA(hCtrl, kButtonProp));
}
