#include "platform/win/dialogs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <unordered_set>

struct HWND__ {
    HWND__* parent = nullptr;
    std::vector<HWND__*> children;
    int id = -1;
    std::string className;
    std::string text;
    DWORD style = 0;
    RECT dlu;
    bool enabled = true;
    bool visible = true;
    bool destroying = false;
    LONG_PTR userData = 0;
    std::map<std::string, HANDLE> props;
    // Dialogs.
    bool isDialog = false;
    DLGPROC proc = nullptr;
    int templateId = 0;
    // Controls: check state, list items with their data, the selection.
    UINT check = BST_UNCHECKED;
    std::vector<std::string> items;
    std::vector<LONG_PTR> itemData;
    std::vector<char> selected; // lists with several selections
    int curSel = -1;            // the selection of single lists and combos; the caret otherwise
};

struct HCURSOR__ {
    int id;
};

namespace {

// ---- Resources ----

struct ModuleResources {
    std::map<int, DialogTemplate> dialogs;
    std::map<UINT, std::string> strings;
};
std::mutex g_resMutex;
std::map<HINSTANCE, ModuleResources>& resources() {
    static std::map<HINSTANCE, ModuleResources> r;
    return r;
}

// ---- Windows (user-interface thread only) ----

std::unordered_set<HWND>& live() {
    static std::unordered_set<HWND> s;
    return s;
}
bool alive(HWND h) {
    return h && live().count(h) != 0;
}

// A running modal dialog; kept apart from the window so its end code survives the window.
struct ModalFrame {
    HWND dialog;
    bool ended;
    INT_PTR code;
};
std::vector<ModalFrame>& modalFrames() {
    static std::vector<ModalFrame> v;
    return v;
}
ModalFrame* findFrame(HWND h) {
    for (auto& f : modalFrames())
        if (f.dialog == h)
            return &f;
    return nullptr;
}

ModalDialogDriver& driver() {
    static ModalDialogDriver d;
    return d;
}

bool g_commonControls = false;

bool sameClass(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isList(HWND h) {
    return sameClass(h->className, WC_LISTBOX);
}
bool isCombo(HWND h) {
    return sameClass(h->className, WC_COMBOBOX);
}
bool isMultiList(HWND h) {
    return isList(h) && (h->style & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) != 0;
}

// An index argument: WPARAM carries -1 as its all-ones value.
int asIndex(WPARAM w) {
    return static_cast<int>(static_cast<std::intptr_t>(w));
}

int copyText(const std::string& s, char* buffer, int bufferMax) {
    if (!buffer || bufferMax <= 0)
        return 0;
    int n = std::min(static_cast<int>(s.size()), bufferMax - 1);
    std::memcpy(buffer, s.data(), static_cast<std::size_t>(n));
    buffer[n] = '\0';
    return n;
}

std::string textArg(LPARAM l) {
    const char* p = reinterpret_cast<const char*>(l);
    return p ? std::string(p) : std::string();
}

LRESULT textMessage(HWND h, UINT msg, WPARAM w, LPARAM l, bool& handled) {
    handled = true;
    switch (msg) {
    case WM_SETTEXT:
        h->text = textArg(l);
        return TRUE;
    case WM_GETTEXT:
        return copyText(h->text, reinterpret_cast<char*>(l), asIndex(w));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(h->text.size());
    default:
        handled = false;
        return 0;
    }
}

// Items of a list or combo: insertion, removal, reset, keeping selections in step.
int insertItem(HWND h, int index, const std::string& s) {
    int n = static_cast<int>(h->items.size());
    if (index < 0 || index > n)
        index = n;
    h->items.insert(h->items.begin() + index, s);
    h->itemData.insert(h->itemData.begin() + index, 0);
    h->selected.insert(h->selected.begin() + index, 0);
    if (h->curSel >= index)
        ++h->curSel;
    return index;
}
LRESULT deleteItem(HWND h, int index) {
    if (index < 0 || index >= static_cast<int>(h->items.size()))
        return LB_ERR;
    h->items.erase(h->items.begin() + index);
    h->itemData.erase(h->itemData.begin() + index);
    h->selected.erase(h->selected.begin() + index);
    if (h->curSel == index)
        h->curSel = -1;
    else if (h->curSel > index)
        --h->curSel;
    return static_cast<LRESULT>(h->items.size());
}
void resetItems(HWND h) {
    h->items.clear();
    h->itemData.clear();
    h->selected.clear();
    h->curSel = -1;
}
bool validIndex(HWND h, int i) {
    return i >= 0 && i < static_cast<int>(h->items.size());
}

LRESULT listMessage(HWND h, UINT msg, WPARAM w, LPARAM l) {
    const bool multi = isMultiList(h);
    int i = asIndex(w);
    switch (msg) {
    case LB_ADDSTRING:
        return insertItem(h, -1, textArg(l));
    case LB_INSERTSTRING:
        return insertItem(h, i, textArg(l));
    case LB_DELETESTRING:
        return deleteItem(h, i);
    case LB_RESETCONTENT:
        resetItems(h);
        return 0;
    case LB_GETCOUNT:
        return static_cast<LRESULT>(h->items.size());
    case LB_GETTEXT:
        if (!validIndex(h, i))
            return LB_ERR;
        // The caller sized the buffer with LB_GETTEXTLEN; the text and its zero are copied.
        return copyText(h->items[static_cast<std::size_t>(i)], reinterpret_cast<char*>(l),
                        static_cast<int>(h->items[static_cast<std::size_t>(i)].size()) + 1);
    case LB_GETTEXTLEN:
        return validIndex(h, i) ? static_cast<LRESULT>(h->items[static_cast<std::size_t>(i)].size())
                                : LB_ERR;
    case LB_GETITEMDATA:
        return validIndex(h, i) ? h->itemData[static_cast<std::size_t>(i)] : LB_ERR;
    case LB_SETITEMDATA:
        if (!validIndex(h, i))
            return LB_ERR;
        h->itemData[static_cast<std::size_t>(i)] = l;
        return 0;
    case LB_SETCURSEL:
        if (multi)
            return LB_ERR;
        if (!validIndex(h, i)) {
            h->curSel = -1;
            return LB_ERR;
        }
        h->curSel = i;
        return i;
    case LB_GETCURSEL:
        return h->curSel >= 0 ? h->curSel : LB_ERR;
    case LB_SETSEL: {
        if (!multi)
            return LB_ERR;
        int idx = static_cast<int>(l);
        char on = w ? 1 : 0;
        if (idx == -1) {
            std::fill(h->selected.begin(), h->selected.end(), on);
            return 0;
        }
        if (!validIndex(h, idx))
            return LB_ERR;
        h->selected[static_cast<std::size_t>(idx)] = on;
        h->curSel = idx;
        return 0;
    }
    case LB_GETSEL:
        if (!validIndex(h, i))
            return LB_ERR;
        return multi ? (h->selected[static_cast<std::size_t>(i)] ? 1 : 0)
                     : (h->curSel == i ? 1 : 0);
    case LB_GETSELCOUNT:
        if (!multi)
            return LB_ERR;
        return std::count(h->selected.begin(), h->selected.end(), 1);
    case LB_GETSELITEMS: {
        if (!multi)
            return LB_ERR;
        int* out = reinterpret_cast<int*>(l);
        int n = 0;
        for (int k = 0; k < static_cast<int>(h->selected.size()) && n < i && out; ++k)
            if (h->selected[static_cast<std::size_t>(k)])
                out[n++] = k;
        return n;
    }
    default:
        return 0;
    }
}

LRESULT comboMessage(HWND h, UINT msg, WPARAM w, LPARAM l) {
    int i = asIndex(w);
    switch (msg) {
    case CB_ADDSTRING:
        return insertItem(h, -1, textArg(l));
    case CB_DELETESTRING:
        return deleteItem(h, i);
    case CB_RESETCONTENT:
        resetItems(h);
        h->text.clear();
        return 0;
    case CB_GETCOUNT:
        return static_cast<LRESULT>(h->items.size());
    case CB_GETCURSEL:
        return h->curSel >= 0 ? h->curSel : CB_ERR;
    case CB_SETCURSEL:
        if (!validIndex(h, i)) {
            h->curSel = -1;
            h->text.clear();
            return CB_ERR;
        }
        h->curSel = i;
        h->text = h->items[static_cast<std::size_t>(i)];
        return i;
    case CB_GETLBTEXT:
        if (!validIndex(h, i))
            return CB_ERR;
        return copyText(h->items[static_cast<std::size_t>(i)], reinterpret_cast<char*>(l),
                        static_cast<int>(h->items[static_cast<std::size_t>(i)].size()) + 1);
    case CB_GETLBTEXTLEN:
        return validIndex(h, i) ? static_cast<LRESULT>(h->items[static_cast<std::size_t>(i)].size())
                                : CB_ERR;
    default:
        return 0;
    }
}

LRESULT controlMessage(HWND h, UINT msg, WPARAM w, LPARAM l) {
    bool handled = false;
    LRESULT r = textMessage(h, msg, w, l, handled);
    if (handled)
        return r;
    if (isList(h))
        return listMessage(h, msg, w, l);
    if (isCombo(h))
        return comboMessage(h, msg, w, l);
    if (msg == BM_GETCHECK)
        return h->check;
    if (msg == BM_SETCHECK) {
        h->check = static_cast<UINT>(w);
        return 0;
    }
    return 0;
}

LRESULT dialogMessage(HWND h, UINT msg, WPARAM w, LPARAM l) {
    INT_PTR r = h->proc ? h->proc(h, msg, w, l) : FALSE;
    if (r || !alive(h))
        return r;
    // What the procedure leaves to the platform.
    switch (msg) {
    case WM_CLOSE: {
        // Closing a dialog's window is its Cancel.
        HWND cancel = GetDlgItem(h, IDCANCEL);
        return dialogMessage(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(cancel));
    }
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
        bool handled = false;
        return textMessage(h, msg, w, l, handled);
    }
    default:
        return 0;
    }
}

HWND newWindow(HWND parent) {
    HWND h = new HWND__;
    live().insert(h);
    if (alive(parent)) {
        h->parent = parent;
        parent->children.push_back(h);
    }
    return h;
}

HWND createDialog(const DialogTemplate& t, HWND parent, DLGPROC proc) {
    HWND d = newWindow(parent);
    d->isDialog = true;
    d->className = WC_DIALOG;
    d->text = t.caption;
    d->style = t.style;
    d->templateId = t.resourceId;
    d->proc = proc;
    d->dlu = RECT{0, 0, t.cx, t.cy};
    d->visible = (t.style & WS_VISIBLE) != 0;
    d->enabled = (t.style & WS_DISABLED) == 0;
    for (const ControlTemplate& c : t.controls) {
        HWND h = newWindow(d);
        h->id = c.id;
        h->className = c.className;
        h->text = c.text;
        h->style = c.style;
        h->dlu = RECT{c.x, c.y, c.x + c.cx, c.y + c.cy};
        h->enabled = (c.style & WS_DISABLED) == 0;
    }
    return d;
}

bool lookupTemplate(HINSTANCE module, LPCSTR name, DialogTemplate& t) {
    if (!name || !IS_INTRESOURCE(name))
        return false; // templates are registered by number only
    return FindDialogTemplate(module, static_cast<int>(reinterpret_cast<std::uintptr_t>(name)), t);
}

ControlTemplate makeControl(const char* cls, const std::string& text, int id, DWORD style, int x,
                            int y, int cx, int cy) {
    ControlTemplate c;
    c.id = id;
    c.className = cls;
    c.text = text;
    c.style = style | WS_CHILD | WS_VISIBLE;
    c.x = x;
    c.y = y;
    c.cx = cx;
    c.cy = cy;
    return c;
}

} // namespace

// ---- Templates ----

ControlKind ControlTemplate::kind() const {
    if (sameClass(className, WC_BUTTON)) {
        switch (style & BS_TYPEMASK) {
        case BS_DEFPUSHBUTTON:
            return ControlKind::DefPushButton;
        case BS_AUTOCHECKBOX:
        case 0x2: // BS_CHECKBOX
            return ControlKind::CheckBox;
        case BS_GROUPBOX:
            return ControlKind::GroupBox;
        default:
            return ControlKind::PushButton;
        }
    }
    if (sameClass(className, WC_STATIC))
        return ControlKind::Label;
    if (sameClass(className, WC_LISTBOX))
        return ControlKind::ListBox;
    if (sameClass(className, WC_COMBOBOX))
        return ControlKind::ComboBox;
    return ControlKind::Custom;
}

const ControlTemplate* DialogTemplate::control(int id) const {
    for (const ControlTemplate& c : controls)
        if (c.id == id && id != -1)
            return &c;
    return nullptr;
}

ControlTemplate RcPushButton(const std::string& text, int id, int x, int y, int cx, int cy) {
    return makeControl(WC_BUTTON, text, id, BS_PUSHBUTTON | WS_TABSTOP, x, y, cx, cy);
}
ControlTemplate RcDefPushButton(const std::string& text, int id, int x, int y, int cx, int cy) {
    return makeControl(WC_BUTTON, text, id, BS_DEFPUSHBUTTON | WS_TABSTOP, x, y, cx, cy);
}
ControlTemplate RcCheckBox(const std::string& text, int id, int x, int y, int cx, int cy) {
    return makeControl(WC_BUTTON, text, id, BS_AUTOCHECKBOX | WS_TABSTOP, x, y, cx, cy);
}
ControlTemplate RcGroupBox(const std::string& text, int x, int y, int cx, int cy) {
    return makeControl(WC_BUTTON, text, -1, BS_GROUPBOX, x, y, cx, cy);
}
ControlTemplate RcLText(const std::string& text, int x, int y, int cx, int cy, int id) {
    return makeControl(WC_STATIC, text, id, SS_LEFT, x, y, cx, cy);
}
ControlTemplate RcRText(const std::string& text, int x, int y, int cx, int cy, int id) {
    return makeControl(WC_STATIC, text, id, SS_RIGHT, x, y, cx, cy);
}
ControlTemplate RcCText(const std::string& text, int x, int y, int cx, int cy, int id) {
    return makeControl(WC_STATIC, text, id, SS_CENTER, x, y, cx, cy);
}
ControlTemplate RcListBox(int id, int x, int y, int cx, int cy, DWORD style) {
    return makeControl(WC_LISTBOX, "", id, style | WS_TABSTOP, x, y, cx, cy);
}
ControlTemplate RcComboBox(int id, int x, int y, int cx, int cy, DWORD style) {
    return makeControl(WC_COMBOBOX, "", id, style | WS_TABSTOP, x, y, cx, cy);
}
ControlTemplate RcCustom(const std::string& className, const std::string& text, int id, int x,
                         int y, int cx, int cy, DWORD style) {
    return makeControl(className.c_str(), text, id, style, x, y, cx, cy);
}

// ---- Resources ----

void RegisterDialogTemplate(HINSTANCE module, const DialogTemplate& tmpl) {
    if (!module)
        return;
    std::lock_guard<std::mutex> lock(g_resMutex);
    resources()[module].dialogs[tmpl.resourceId] = tmpl;
}

void RegisterStringTable(HINSTANCE module, const std::map<UINT, std::string>& strings) {
    if (!module)
        return;
    std::lock_guard<std::mutex> lock(g_resMutex);
    auto& table = resources()[module].strings;
    for (const auto& [id, s] : strings)
        table[id] = s;
}

void UnregisterModuleResources(HINSTANCE module) {
    std::lock_guard<std::mutex> lock(g_resMutex);
    resources().erase(module);
}

bool FindDialogTemplate(HINSTANCE module, int resourceId, DialogTemplate& out) {
    std::lock_guard<std::mutex> lock(g_resMutex);
    auto m = resources().find(module);
    if (m == resources().end())
        return false;
    auto d = m->second.dialogs.find(resourceId);
    if (d == m->second.dialogs.end())
        return false;
    out = d->second;
    return true;
}

int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferMax) {
    std::lock_guard<std::mutex> lock(g_resMutex);
    auto m = resources().find(module);
    if (m == resources().end())
        return 0;
    auto s = m->second.strings.find(id);
    if (s == m->second.strings.end())
        return 0;
    return copyText(s->second, buffer, bufferMax);
}

// ---- Cursors ----

HCURSOR LoadCursorA(HINSTANCE module, LPCSTR name) {
    static HCURSOR__ arrow{IDC_ARROW_ID};
    static HCURSOR__ cross{IDC_CROSS_ID};
    if (module || !name || !IS_INTRESOURCE(name))
        return nullptr;
    auto id = reinterpret_cast<std::uintptr_t>(name);
    if (id == IDC_ARROW_ID)
        return &arrow;
    if (id == IDC_CROSS_ID)
        return &cross;
    return nullptr;
}

void InitCommonControls() {
    g_commonControls = true;
}

bool CommonControlsInitialized() {
    return g_commonControls;
}

// ---- Dialogs ----

HWND CreateDialogParamA(HINSTANCE module, LPCSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
    DialogTemplate t;
    if (!lookupTemplate(module, templateName, t))
        return nullptr;
    HWND d = createDialog(t, parent, proc);
    dialogMessage(d, WM_INITDIALOG, 0, initParam);
    return alive(d) ? d : nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE module, LPCSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
    DialogTemplate t;
    if (!lookupTemplate(module, templateName, t))
        return -1;
    // The dialog is an owned pop-up, not a child: it is not linked under the parent.
    HWND d = createDialog(t, nullptr, proc);
    d->visible = true;
    modalFrames().push_back(ModalFrame{d, false, -1});
    bool reenable = false;
    if (alive(parent) && parent->enabled) {
        parent->enabled = false;
        reenable = true;
    }
    auto frame = [d]() { return findFrame(d); };

    dialogMessage(d, WM_INITDIALOG, 0, initParam);
    if (alive(d) && !frame()->ended) {
        // A copy, so that a driver that installs another driver keeps running.
        ModalDialogDriver user = driver();
        if (user)
            user(d);
    }
    if (alive(d) && !frame()->ended)
        SendMessageA(d, WM_CLOSE, 0, 0);

    ModalFrame* f = frame();
    INT_PTR code = f->ended ? f->code : -1;
    modalFrames().erase(modalFrames().begin() + (f - modalFrames().data()));
    if (alive(d))
        DestroyWindow(d);
    if (reenable && alive(parent))
        parent->enabled = true;
    return code;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    ModalFrame* f = alive(dialog) ? findFrame(dialog) : nullptr;
    if (!f || f->ended)
        return FALSE;
    f->ended = true;
    f->code = result;
    return TRUE;
}

ModalDialogDriver SetModalDialogDriver(ModalDialogDriver d) {
    ModalDialogDriver old = std::move(driver());
    driver() = std::move(d);
    return old;
}

// ---- Windows and controls ----

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!alive(hwnd))
        return 0;
    return hwnd->isDialog ? dialogMessage(hwnd, msg, wParam, lParam)
                          : controlMessage(hwnd, msg, wParam, lParam);
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND c = GetDlgItem(dialog, id);
    return c ? SendMessageA(c, msg, wParam, lParam) : 0;
}

HWND GetDlgItem(HWND dialog, int id) {
    if (!alive(dialog) || id == -1)
        return nullptr;
    for (HWND c : dialog->children)
        if (c->id == id)
            return c;
    return nullptr;
}

int GetDlgCtrlID(HWND control) {
    return alive(control) ? control->id : 0;
}

HWND GetParent(HWND hwnd) {
    return alive(hwnd) ? hwnd->parent : nullptr;
}

BOOL IsWindow(HWND hwnd) {
    return alive(hwnd) ? TRUE : FALSE;
}

BOOL DestroyWindow(HWND hwnd) {
    if (!alive(hwnd) || hwnd->destroying)
        return FALSE;
    hwnd->destroying = true;
    if (hwnd->isDialog && hwnd->proc)
        hwnd->proc(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> kids = hwnd->children;
    for (HWND c : kids)
        DestroyWindow(c);
    if (alive(hwnd->parent)) {
        auto& sib = hwnd->parent->children;
        sib.erase(std::remove(sib.begin(), sib.end(), hwnd), sib.end());
    }
    live().erase(hwnd);
    delete hwnd;
    return TRUE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    if (!alive(hwnd))
        return FALSE;
    BOOL wasDisabled = hwnd->enabled ? FALSE : TRUE;
    hwnd->enabled = enable != 0;
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
    return alive(hwnd) && hwnd->enabled ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hwnd, int cmdShow) {
    if (!alive(hwnd))
        return FALSE;
    BOOL was = hwnd->visible ? TRUE : FALSE;
    hwnd->visible = cmdShow != SW_HIDE;
    if (hwnd->isDialog)
        dialogMessage(hwnd, WM_SHOWWINDOW, hwnd->visible ? TRUE : FALSE, 0);
    return was;
}

BOOL IsWindowVisible(HWND hwnd) {
    return alive(hwnd) && hwnd->visible ? TRUE : FALSE;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    if (!alive(hwnd) || index != GWLP_USERDATA)
        return 0;
    LONG_PTR old = hwnd->userData;
    hwnd->userData = value;
    return old;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    if (!alive(hwnd) || index != GWLP_USERDATA)
        return 0;
    return hwnd->userData;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!alive(hwnd))
        return FALSE;
    hwnd->text = text ? text : "";
    return TRUE;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int bufferMax) {
    return alive(hwnd) ? copyText(hwnd->text, buffer, bufferMax) : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    return SetWindowTextA(GetDlgItem(dialog, id), text);
}

int GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int bufferMax) {
    HWND c = GetDlgItem(dialog, id);
    if (!c) {
        copyText("", buffer, bufferMax);
        return 0;
    }
    return GetWindowTextA(c, buffer, bufferMax);
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    HWND c = GetDlgItem(dialog, id);
    return c ? c->check : BST_UNCHECKED;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND c = GetDlgItem(dialog, id);
    if (!c)
        return FALSE;
    c->check = check;
    return TRUE;
}

BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE value) {
    if (!alive(hwnd) || !name)
        return FALSE;
    hwnd->props[name] = value;
    return TRUE;
}

HANDLE GetPropA(HWND hwnd, LPCSTR name) {
    if (!alive(hwnd) || !name)
        return nullptr;
    auto it = hwnd->props.find(name);
    return it == hwnd->props.end() ? nullptr : it->second;
}

HANDLE RemovePropA(HWND hwnd, LPCSTR name) {
    if (!alive(hwnd) || !name)
        return nullptr;
    auto it = hwnd->props.find(name);
    if (it == hwnd->props.end())
        return nullptr;
    HANDLE v = it->second;
    hwnd->props.erase(it);
    return v;
}

// ---- Queries of the stand-in ----

int GetDialogTemplateId(HWND dialog) {
    return alive(dialog) && dialog->isDialog ? dialog->templateId : 0;
}

std::string GetWindowClassName(HWND hwnd) {
    return alive(hwnd) ? hwnd->className : std::string();
}

DWORD GetWindowStyle(HWND hwnd) {
    return alive(hwnd) ? hwnd->style : 0;
}

RECT GetDialogUnitRect(HWND hwnd) {
    return alive(hwnd) ? hwnd->dlu : RECT();
}

std::vector<HWND> GetChildWindows(HWND dialog) {
    return alive(dialog) ? dialog->children : std::vector<HWND>();
}

int LiveWindowCount() {
    return static_cast<int>(live().size());
}

// ---- The user ----

void UserClickButton(HWND dialog, int id) {
    HWND c = GetDlgItem(dialog, id);
    // A disabled control cannot be clicked.
    if (!c || !c->enabled)
        return;
    if (sameClass(c->className, WC_BUTTON) && (c->style & BS_TYPEMASK) == BS_AUTOCHECKBOX)
        c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(c));
}

void UserSelectListItem(HWND dialog, int id, int index, bool addToSelection) {
    HWND c = GetDlgItem(dialog, id);
    if (!c || !c->enabled || !isList(c) || !validIndex(c, index))
        return;
    if (isMultiList(c)) {
        if (!addToSelection)
            std::fill(c->selected.begin(), c->selected.end(), 0);
        c->selected[static_cast<std::size_t>(index)] = 1;
    }
    c->curSel = index;
    if (c->style & LBS_NOTIFY)
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(c));
}

void UserSelectComboItem(HWND dialog, int id, int index) {
    HWND c = GetDlgItem(dialog, id);
    if (!c || !c->enabled || !isCombo(c) || !validIndex(c, index))
        return;
    comboMessage(c, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(c));
}
