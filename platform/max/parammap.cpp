#include "platform/max/parammap.h"

#include "platform/max/core.h"
#include "platform/max/hold.h"
#include "platform/max/scene.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr const char* kMapProp = "VelquinParamMap2";
constexpr const char* kSpinnerProp = "VelquinSpinnerState";
// The host's undo text for a change made through a rollout's controls.
constexpr const char* kParamChange = "Parameter Change";

std::vector<IParamMap2*>& panel() {
    static std::vector<IParamMap2*> maps;
    return maps;
}

std::map<HWND, std::unique_ptr<SpinnerState>>& spinnerStates() {
    static std::map<HWND, std::unique_ptr<SpinnerState>> states;
    return states;
}

TexmapBrowser& texmapBrowser() {
    static TexmapBrowser browser;
    return browser;
}

bool sameClassName(const std::string& a, const char* b) {
    size_t n = std::char_traits<char>::length(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

int ctrlID(const ParamDef& def, size_t k) {
    return k < def.ui.ctrlIDs.size() ? def.ui.ctrlIDs[k] : 0;
}

bool intSpinner(const ParamDef& def) {
    return base_type(def.type) == TYPE_INT || def.ui.editType == EDITTYPE_INT ||
           def.ui.editType == EDITTYPE_POS_INT;
}

// The host opens and closes the automatic rollouts of every edited object.
const bool autoMapsInstalled = [] {
    ClassDesc2::SetEditParamsHandler(
        [](ClassDesc2* cd, IObjParam* ip, ReferenceMaker* obj, ULONG flags, bool begin) {
            (void)flags;
            if (begin)
                CreateAutoParamMaps(cd, ip, obj);
            else
                DestroyAutoParamMaps(cd, obj);
        });
    return true;
}();

} // namespace

// ---- IParamMap2 ----

IParamMap2::~IParamMap2() = default;

TimeValue IParamMap2::GetTime() const {
    return GetCOREInterface()->GetTime();
}

void IParamMap2::SetRolledUp(bool rolledUp) {
    if (rolledUp == rolledUp_)
        return;
    rolledUp_ = rolledUp;
    ShowWindow(hwnd_, rolledUp ? SW_HIDE : SW_SHOW);
}

void IParamMap2::SetUserDlgProc(ParamMap2UserDlgProc* proc) {
    if (proc == proc_)
        return;
    ParamMap2UserDlgProc* old = proc_;
    proc_ = proc;
    if (desc_ && desc_->GetUserDlgProc(id_) == old)
        desc_->SetUserDlgProc(id_, proc);
    if (old)
        old->DeleteThis();
    if (proc_ && IsWindow(hwnd_))
        proc_->DlgProc(GetTime(), this, hwnd_, WM_INITDIALOG, 0, 0);
}

void IParamMap2::Invalidate(ParamID id) {
    if (!IsWindow(hwnd_) || !desc_)
        return;
    for (int i = 0; i < desc_->Count(); ++i) {
        ParamDef* def = desc_->GetParamDefByIndex(i);
        if (def->ui.map == id_ && def->ui.Bound() && (id == -1 || def->ID == id))
            showValue(*def);
    }
    if (proc_)
        proc_->Update(GetTime());
}

void IParamMap2::Enable(ParamID id, BOOL onOff) {
    ParamDef* def = desc_ ? desc_->FindParamDef(id) : nullptr;
    if (!def || def->ui.map != id_)
        return;
    for (int c : def->ui.ctrlIDs)
        if (c != 0)
            EnableWindow(GetDlgItem(hwnd_, c), onOff);
}

INT_PTR IParamMap2::dialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    IParamMap2* map = nullptr;
    if (msg == WM_INITDIALOG) {
        map = reinterpret_cast<IParamMap2*>(lParam);
        if (!map)
            return FALSE;
        map->hwnd_ = hWnd;
        SetPropA(hWnd, kMapProp, map);
    } else {
        map = static_cast<IParamMap2*>(GetPropA(hWnd, kMapProp));
    }
    return map ? map->message(hWnd, msg, wParam, lParam) : FALSE;
}

INT_PTR IParamMap2::message(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        setupControls();
        for (int i = 0; desc_ && i < desc_->Count(); ++i) {
            ParamDef* def = desc_->GetParamDefByIndex(i);
            if (def->ui.map == id_ && def->ui.Bound())
                showValue(*def);
        }
        break;
    case WM_COMMAND:
        command(LOWORD(wParam), HIWORD(wParam));
        break;
    case CC_SPINNER_CHANGE:
        spinnerChanged(LOWORD(wParam));
        break;
    default:
        break;
    }
    return proc_ ? proc_->DlgProc(GetTime(), this, hWnd, msg, wParam, lParam) : FALSE;
}

void IParamMap2::setupControls() {
    for (int i = 0; desc_ && i < desc_->Count(); ++i) {
        ParamDef& def = *desc_->GetParamDefByIndex(i);
        if (def.ui.map != id_ || def.ui.control != TYPE_SPINNER)
            continue;
        ISpinnerControl* spin = GetISpinner(GetDlgItem(hwnd_, ctrlID(def, 1)));
        if (!spin)
            continue;
        bool isInt = intSpinner(def);
        spin->LinkToEdit(GetDlgItem(hwnd_, ctrlID(def, 0)), isInt ? EDITTYPE_INT : def.ui.editType);
        bool positive = def.ui.editType == EDITTYPE_POS_INT ||
                        def.ui.editType == EDITTYPE_POS_FLOAT ||
                        def.ui.editType == EDITTYPE_POS_UNIVERSE;
        if (def.hasRange)
            spin->SetLimits(isInt ? static_cast<float>(def.rangeLowI) : def.rangeLowF,
                            isInt ? static_cast<float>(def.rangeHighI) : def.rangeHighF, FALSE);
        else if (positive)
            spin->SetLimits(0.0f, 3.0e38f, FALSE);
        if (def.ui.scale > 0.0f)
            spin->SetScale(def.ui.scale);
        ReleaseISpinner(spin);
    }
}

void IParamMap2::showValue(ParamDef& def) {
    if (!pblock_)
        return;
    TimeValue t = GetTime();
    int c0 = ctrlID(def, 0);
    switch (def.ui.control) {
    case TYPE_SPINNER:
        if (ISpinnerControl* spin = GetISpinner(GetDlgItem(hwnd_, ctrlID(def, 1)))) {
            if (base_type(def.type) == TYPE_INT || base_type(def.type) == TYPE_BOOL)
                spin->SetValue(pblock_->GetInt(def.ID, t), FALSE);
            else
                spin->SetValue(pblock_->GetFloat(def.ID, t), FALSE);
            ReleaseISpinner(spin);
        }
        break;
    case TYPE_SINGLECHEKBOX:
        CheckDlgButton(hwnd_, c0, pblock_->GetInt(def.ID, t) ? BST_CHECKED : BST_UNCHECKED);
        break;
    case TYPE_INTCOMBOBOX:
        SendDlgItemMessageA(
            hwnd_, c0, CB_SETCURSEL,
            static_cast<WPARAM>(static_cast<std::intptr_t>(pblock_->GetInt(def.ID, t))), 0);
        break;
    case TYPE_NODELISTBOX: {
        HWND list = GetDlgItem(hwnd_, c0);
        if (!list)
            break;
        LRESULT sel = SendMessageA(list, LB_GETCURSEL, 0, 0);
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
        int n = pblock_->Count(def.ID);
        for (int k = 0; k < n; ++k) {
            INode* node = pblock_->GetINode(def.ID, t, k);
            // A deleted node keeps its line, so that lines and entries stay in step.
            const char* name = node ? node->GetName() : "";
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        }
        if (sel != LB_ERR && n > 0)
            SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(std::min<LRESULT>(sel, n - 1)), 0);
        break;
    }
    case TYPE_TEXMAPBUTTON:
        if (ICustButton* b = GetICustButton(GetDlgItem(hwnd_, c0))) {
            MSTR name;
            if (ReferenceTarget* map = pblock_->GetReferenceTarget(def.ID, t))
                map->GetClassName(name);
            else
                name = "None";
            b->SetText(name.c_str());
            ReleaseICustButton(b);
        }
        break;
    default:
        break;
    }
}

bool IParamMap2::command(WORD id, WORD code) {
    if (!pblock_ || !desc_ || id == 0)
        return false;
    TimeValue t = GetTime();
    for (int i = 0; i < desc_->Count(); ++i) {
        ParamDef& def = *desc_->GetParamDefByIndex(i);
        if (def.ui.map != id_)
            continue;
        int c0 = ctrlID(def, 0);
        switch (def.ui.control) {
        case TYPE_SINGLECHEKBOX:
            if (c0 == id && code == BN_CLICKED) {
                int on = IsDlgButtonChecked(hwnd_, c0) == BST_CHECKED ? 1 : 0;
                theHold.Begin();
                pblock_->SetValue(def.ID, t, on);
                theHold.Accept(kParamChange);
                return true;
            }
            break;
        case TYPE_INTCOMBOBOX:
            if (c0 == id && code == CBN_SELCHANGE) {
                LRESULT sel = SendDlgItemMessageA(hwnd_, c0, CB_GETCURSEL, 0, 0);
                if (sel == CB_ERR)
                    return true;
                theHold.Begin();
                pblock_->SetValue(def.ID, t, static_cast<int>(sel));
                theHold.Accept(kParamChange);
                return true;
            }
            break;
        case TYPE_NODELISTBOX:
            if (ctrlID(def, 3) == id && code == BN_CLICKED) {
                LRESULT sel = SendDlgItemMessageA(hwnd_, c0, LB_GETCURSEL, 0, 0);
                if (sel == LB_ERR || sel >= pblock_->Count(def.ID))
                    return true; // nothing chosen: nothing to delete
                theHold.Begin();
                pblock_->Delete(def.ID, static_cast<int>(sel), 1);
                theHold.Accept(kParamChange);
                return true;
            }
            break;
        case TYPE_TEXMAPBUTTON:
            if (c0 == id && code == BN_CLICKED) {
                ReferenceTarget* chosen = texmapBrowser() ? texmapBrowser()() : nullptr;
                if (!chosen)
                    return true;
                theHold.Begin();
                pblock_->SetRefValue(def.ID, t, chosen);
                theHold.Accept(kParamChange);
                return true;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

bool IParamMap2::spinnerChanged(WORD id) {
    if (!pblock_ || !desc_)
        return false;
    for (int i = 0; i < desc_->Count(); ++i) {
        ParamDef& def = *desc_->GetParamDefByIndex(i);
        if (def.ui.map != id_ || def.ui.control != TYPE_SPINNER || ctrlID(def, 1) != id)
            continue;
        const SpinnerState* s = FindSpinnerState(GetDlgItem(hwnd_, id));
        if (!s)
            return false;
        theHold.Begin();
        if (base_type(def.type) == TYPE_INT || base_type(def.type) == TYPE_BOOL)
            pblock_->SetValue(def.ID, GetTime(), static_cast<int>(std::lround(s->value)));
        else
            pblock_->SetValue(def.ID, GetTime(), s->value);
        theHold.Accept(kParamChange);
        // The block may have refused or narrowed the value: show what it holds.
        showValue(def);
        return true;
    }
    return false;
}

// ---- The command panel ----

IParamMap2* CreateCPParamMap2(MapID mapId, IParamBlock2* pb, IObjParam* ip, HINSTANCE hInst,
                              int dlgTemplate, const char* title, DWORD rollFlags,
                              ParamMap2UserDlgProc* proc) {
    auto* map = new IParamMap2();
    map->pblock_ = pb;
    map->desc_ = pb ? pb->GetDesc() : nullptr;
    map->id_ = mapId;
    map->title_ = title ? title : "";
    map->rolledUp_ = (rollFlags & APPENDROLL_CLOSED) != 0;
    map->proc_ = proc;
    map->ip_ = ip;
    HWND h = CreateDialogParamA(hInst, MAKEINTRESOURCEA(dlgTemplate), nullptr,
                                &IParamMap2::dialogProc, reinterpret_cast<LPARAM>(map));
    if (!h) {
        if (map->desc_ && proc && map->desc_->GetUserDlgProc(mapId) == proc)
            map->desc_->SetUserDlgProc(mapId, nullptr);
        if (proc)
            proc->DeleteThis();
        delete map;
        return nullptr;
    }
    panel().push_back(map);
    if (map->rolledUp_)
        ShowWindow(h, SW_HIDE);
    if (map->desc_)
        map->listener_ = map->desc_->AddUIListener(
            [map](ParamBlockDesc2*, ParamID id, int) { map->Invalidate(id); });
    return map;
}

void DestroyCPParamMap2(IParamMap2* map) {
    auto& maps = panel();
    auto it = std::find(maps.begin(), maps.end(), map);
    if (it == maps.end())
        return;
    maps.erase(it);
    if (map->desc_ && map->listener_)
        map->desc_->RemoveUIListener(map->listener_);
    if (IsWindow(map->hwnd_)) {
        DestroyWindow(map->hwnd_);
    }
    // The descriptor must not keep a procedure that is about to go.
    if (map->desc_ && map->proc_ && map->desc_->GetUserDlgProc(map->id_) == map->proc_)
        map->desc_->SetUserDlgProc(map->id_, nullptr);
    if (map->proc_)
        map->proc_->DeleteThis();
    delete map;
}

int NumCommandPanelRollouts() {
    return static_cast<int>(panel().size());
}

IParamMap2* GetCommandPanelRollout(int i) {
    return i >= 0 && i < NumCommandPanelRollouts() ? panel()[static_cast<size_t>(i)] : nullptr;
}

IParamMap2* FindParamMap(ParamBlockDesc2* desc, MapID id) {
    for (IParamMap2* m : panel())
        if (m->GetDesc() == desc && m->GetMapID() == id)
            return m;
    return nullptr;
}

bool SetParamMapUserDlgProc(ParamBlockDesc2* desc, MapID id, ParamMap2UserDlgProc* proc) {
    IParamMap2* map = desc ? FindParamMap(desc, id) : nullptr;
    if (!map) {
        if (proc)
            proc->DeleteThis();
        return false;
    }
    desc->SetUserDlgProc(id, proc);
    map->SetUserDlgProc(proc);
    return true;
}

void CreateAutoParamMaps(ClassDesc2* cd, IObjParam* ip, ReferenceMaker* obj) {
    if (!cd || !obj)
        return;
    HINSTANCE inst = cd->HInstance();
    for (int b = 0; b < cd->NumParamBlockDescs(); ++b) {
        ParamBlockDesc2* desc = cd->GetParamBlockDesc(b);
        if (!desc || !(desc->flags & P_AUTO_UI))
            continue;
        IParamBlock2* pb = obj->GetParamBlockByID(desc->ID);
        if (!pb)
            continue;
        for (int m = 0; m < desc->NumRollouts(); ++m) {
            ParamMapInfo* info = desc->GetMapByIndex(m);
            char title[256] = "";
            LoadStringA(inst, static_cast<UINT>(info->title), title, sizeof title);
            CreateCPParamMap2(info->id, pb, ip, inst, info->dlgTemplate, title,
                              static_cast<DWORD>(info->rollupFlags), info->userDlgProc);
        }
    }
}

void DestroyAutoParamMaps(ClassDesc2* cd, ReferenceMaker* obj) {
    (void)obj;
    if (!cd)
        return;
    std::vector<IParamMap2*> maps = panel();
    for (auto it = maps.rbegin(); it != maps.rend(); ++it) {
        ParamBlockDesc2* desc = (*it)->GetDesc();
        for (int b = 0; b < cd->NumParamBlockDescs(); ++b)
            if (cd->GetParamBlockDesc(b) == desc) {
                DestroyCPParamMap2(*it);
                break;
            }
    }
}

TexmapBrowser SetTexmapBrowser(TexmapBrowser browser) {
    TexmapBrowser old = std::move(texmapBrowser());
    texmapBrowser() = std::move(browser);
    return old;
}

// ---- Spinners ----

int ISpinnerControl::GetIVal() const {
    return static_cast<int>(std::lround(s_->value));
}

void ISpinnerControl::SetValue(float v, BOOL notify) {
    if (std::isnan(v))
        return;
    if (s_->isInt)
        v = std::round(v);
    s_->value = std::clamp(v, s_->low, s_->high);
    showInEdit();
    if (notify)
        SendMessageA(GetParent(hwnd_), CC_SPINNER_CHANGE,
                     MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hwnd_)), 0),
                     reinterpret_cast<LPARAM>(hwnd_));
}

void ISpinnerControl::SetLimits(float low, float high, BOOL limitCurValue) {
    s_->low = std::min(low, high);
    s_->high = std::max(low, high);
    if (limitCurValue) {
        s_->value = std::clamp(s_->value, s_->low, s_->high);
        showInEdit();
    }
}

void ISpinnerControl::LinkToEdit(HWND edit, EditSpinnerType type) {
    s_->edit = edit;
    s_->isInt = type == EDITTYPE_INT || type == EDITTYPE_POS_INT;
    showInEdit();
}

void ISpinnerControl::Enable(BOOL onOff) {
    EnableWindow(hwnd_, onOff);
    if (IsWindow(s_->edit))
        EnableWindow(s_->edit, onOff);
}

void ISpinnerControl::showInEdit() {
    if (IsWindow(s_->edit))
        SetWindowTextA(s_->edit, FormatSpinnerValue(s_->value, s_->isInt).c_str());
}

ISpinnerControl* GetISpinner(HWND hCtrl) {
    if (!hCtrl || !IsWindow(hCtrl) || !sameClassName(GetWindowClassName(hCtrl), "SpinnerControl"))
        return nullptr;
    auto* s = static_cast<SpinnerState*>(GetPropA(hCtrl, kSpinnerProp));
    if (!s) {
        // A window without the property is a new window, even when its handle value was used
        // before by a window that is gone.
        std::unique_ptr<SpinnerState>& slot = spinnerStates()[hCtrl];
        slot = std::make_unique<SpinnerState>();
        s = slot.get();
        SetPropA(hCtrl, kSpinnerProp, s);
    }
    return new ISpinnerControl(hCtrl, s);
}

void ReleaseISpinner(ISpinnerControl* spin) {
    delete spin;
}

const SpinnerState* FindSpinnerState(HWND hCtrl) {
    if (!hCtrl || !IsWindow(hCtrl))
        return nullptr;
    return static_cast<const SpinnerState*>(GetPropA(hCtrl, kSpinnerProp));
}

std::string FormatSpinnerValue(float v, bool isInt) {
    char buf[64];
    if (isInt) {
        std::snprintf(buf, sizeof buf, "%ld", std::lround(v));
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.6f", static_cast<double>(v));
    std::string s = buf;
    size_t dot = s.find('.');
    if (dot == std::string::npos)
        return s;
    while (s.size() > dot + 2 && s.back() == '0')
        s.pop_back();
    return s;
}

// ---- Acting as the user ----

void UserSetSpinner(HWND dialog, int spinnerId, float value) {
    HWND h = GetDlgItem(dialog, spinnerId);
    if (!h || !IsWindowEnabled(h))
        return;
    ISpinnerControl* spin = GetISpinner(h);
    if (!spin)
        return;
    spin->SetValue(value, TRUE);
    ReleaseISpinner(spin);
    SendMessageA(dialog, CC_SPINNER_BUTTONUP, MAKEWPARAM(static_cast<WORD>(spinnerId), TRUE),
                 reinterpret_cast<LPARAM>(h));
}

void UserEnterText(HWND dialog, int editId, const char* text) {
    HWND edit = GetDlgItem(dialog, editId);
    if (!edit || !IsWindowEnabled(edit))
        return;
    SetWindowTextA(edit, text);
    for (HWND c : GetChildWindows(dialog)) {
        const SpinnerState* s = FindSpinnerState(c);
        if (!s || s->edit != edit)
            continue;
        ISpinnerControl* spin = GetISpinner(c);
        const char* p = text ? text : "";
        char* end = nullptr;
        double d = std::strtod(p, &end);
        while (end && *end && std::isspace(static_cast<unsigned char>(*end)))
            ++end;
        if (end == p || (end && *end))
            spin->SetValue(spin->GetFVal(), FALSE); // not a number: show the old value again
        else
            spin->SetValue(static_cast<float>(d), TRUE);
        ReleaseISpinner(spin);
        break;
    }
    SendMessageA(dialog, WM_CUSTEDIT_ENTER, MAKEWPARAM(static_cast<WORD>(editId), 0),
                 reinterpret_cast<LPARAM>(edit));
}
