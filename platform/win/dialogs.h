// Window-system stand-in: dialog templates as data, per-module resources (dialog templates and
// string tables), dialog windows with their procedures, the standard controls (buttons, check
// boxes, static texts, list boxes, combo boxes) and custom-control placeholders, and modal dialogs
// run by a driver that acts as the user.
//
// Windows are used from one thread (the user-interface thread) and are not locked; the resource
// registry may be read from any thread. Handles are owned by the stand-in: DestroyWindow frees a
// window with its children, and calls on a handle that is not a live window fail harmlessly.
#pragma once

#include "platform/win/wintypes.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// A resource named by number travels in a name pointer, as the window system does it.
inline LPSTR MAKEINTRESOURCEA(int id) {
    return reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(id)));
}
#ifndef MAKEINTRESOURCE
#define MAKEINTRESOURCE(i) MAKEINTRESOURCEA(i)
#endif
inline bool IS_INTRESOURCE(LPCSTR p) {
    return (reinterpret_cast<std::uintptr_t>(p) >> 16) == 0;
}

// ---- Messages and notifications ----
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BST_INDETERMINATE = 2;
constexpr WORD BN_CLICKED = 0;

constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;
constexpr UINT LB_DELETESTRING = 0x0182;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETSEL = 0x0185;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETSEL = 0x0187;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_GETSELCOUNT = 0x0190;
constexpr UINT LB_GETSELITEMS = 0x0191;
constexpr UINT LB_GETITEMDATA = 0x0199;
constexpr UINT LB_SETITEMDATA = 0x019A;
constexpr LRESULT LB_ERR = -1;
constexpr WORD LBN_SELCHANGE = 1;
constexpr WORD LBN_DBLCLK = 2;

constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr LRESULT CB_ERR = -1;
constexpr WORD CBN_SELCHANGE = 1;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr int GWLP_USERDATA = -21;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// ---- Styles ----
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD DS_MODALFRAME = 0x0080;
constexpr DWORD DS_SETFONT = 0x0040;

constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_TYPEMASK = 0x000F;

constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_TYPEMASK = 0x001F;

constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_MULTIPLESEL = 0x0008;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x0100;
constexpr DWORD LBS_EXTENDEDSEL = 0x0800;

constexpr DWORD CBS_DROPDOWNLIST = 0x0003;

// Control classes.
constexpr const char* WC_BUTTON = "Button";
constexpr const char* WC_STATIC = "Static";
constexpr const char* WC_LISTBOX = "ListBox";
constexpr const char* WC_COMBOBOX = "ComboBox";
constexpr const char* WC_DIALOG = "#32770";

// What a control is, from its class and style.
enum class ControlKind {
    PushButton,
    DefPushButton,
    CheckBox,
    GroupBox,
    Label,
    ListBox,
    ComboBox,
    Custom, // a host custom control ("CustEdit", "SpinnerControl", "CustButton", ...)
};

// One control of a dialog template; the rectangle is in dialog units (x, y, width, height).
struct ControlTemplate {
    int id = -1; // -1: no id (labels, group boxes)
    std::string className;
    std::string text;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;

    ControlKind kind() const;
};

struct DialogTemplate {
    int resourceId = 0;
    int cx = 0, cy = 0; // size in dialog units
    std::string fontName = "MS Sans Serif";
    int fontSize = 8;
    DWORD style = WS_CHILD | WS_VISIBLE;
    std::string caption;
    std::vector<ControlTemplate> controls;

    bool isModalPopup() const { return (style & WS_POPUP) != 0 && (style & DS_MODALFRAME) != 0; }
    // The control with `id`, or null.
    const ControlTemplate* control(int id) const;
};

// Controls as a resource script writes them.
ControlTemplate RcPushButton(const std::string& text, int id, int x, int y, int cx, int cy);
ControlTemplate RcDefPushButton(const std::string& text, int id, int x, int y, int cx, int cy);
ControlTemplate RcCheckBox(const std::string& text, int id, int x, int y, int cx, int cy);
ControlTemplate RcGroupBox(const std::string& text, int x, int y, int cx, int cy);
ControlTemplate RcLText(const std::string& text, int x, int y, int cx, int cy, int id = -1);
ControlTemplate RcRText(const std::string& text, int x, int y, int cx, int cy, int id = -1);
ControlTemplate RcCText(const std::string& text, int x, int y, int cx, int cy, int id = -1);
// List boxes always have LBS_NOTIFY-style flags as given; add LBS_EXTENDEDSEL for several.
ControlTemplate RcListBox(int id, int x, int y, int cx, int cy, DWORD style);
ControlTemplate RcComboBox(int id, int x, int y, int cx, int cy, DWORD style = CBS_DROPDOWNLIST);
ControlTemplate RcCustom(const std::string& className, const std::string& text, int id, int x,
                         int y, int cx, int cy, DWORD style = 0);

// ---- Resources per module ----

// Registers (or replaces) resources of a module. Any non-null HINSTANCE names a module.
void RegisterDialogTemplate(HINSTANCE module, const DialogTemplate& tmpl);
void RegisterStringTable(HINSTANCE module, const std::map<UINT, std::string>& strings);
// Drops every resource of a module.
void UnregisterModuleResources(HINSTANCE module);
// A copy of a registered template; false when there is none.
bool FindDialogTemplate(HINSTANCE module, int resourceId, DialogTemplate& out);

// Copies string `id` into buffer (at most bufferMax - 1 characters, then a terminating zero) and
// returns the number of characters copied; 0 when the string does not exist or there is no room.
int LoadStringA(HINSTANCE module, UINT id, char* buffer, int bufferMax);

// ---- Cursors and common controls ----
constexpr int IDC_ARROW_ID = 32512;
constexpr int IDC_CROSS_ID = 32515;
#define IDC_ARROW MAKEINTRESOURCEA(IDC_ARROW_ID)
#define IDC_CROSS MAKEINTRESOURCEA(IDC_CROSS_ID)
// The system cursor for a standard id (module null); the same handle every time. Null for any
// other request.
HCURSOR LoadCursorA(HINSTANCE module, LPCSTR name);
void InitCommonControls();
bool CommonControlsInitialized();

// ---- Dialogs ----

// A modeless (child) dialog from a template: WM_INITDIALOG is sent with `initParam` before the
// call returns. Null when the template does not exist.
HWND CreateDialogParamA(HINSTANCE module, LPCSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
// Runs a modal dialog: creates it, sends WM_INITDIALOG, disables the parent, hands the dialog to
// the modal driver (the user) and returns the code given to EndDialog. A dialog that the driver
// leaves open is closed as a user closing its window would: WM_CLOSE, and when the procedure does
// not handle that, a Cancel command; a dialog still open after that returns -1, as does a missing
// template. The parent is enabled again and the dialog destroyed before the call returns.
INT_PTR DialogBoxParamA(HINSTANCE module, LPCSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
// Ends a modal dialog with `result`; FALSE for a window that is not a running modal dialog.
BOOL EndDialog(HWND dialog, INT_PTR result);

// The user of modal dialogs: called once with each modal dialog after its WM_INITDIALOG. Returns
// the driver that was installed before. An empty driver is a user who closes the window at once.
using ModalDialogDriver = std::function<void(HWND dialog)>;
ModalDialogDriver SetModalDialogDriver(ModalDialogDriver driver);

// ---- Windows and controls ----
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
HWND GetParent(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// Frees the window, its children first; a dialog's procedure hears WM_DESTROY.
BOOL DestroyWindow(HWND hwnd);
// Returns non-zero when the window was disabled before.
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
// Shows or hides; a dialog's procedure hears WM_SHOWWINDOW (wParam TRUE when shown). Returns
// whether it was visible before.
BOOL ShowWindow(HWND hwnd, int cmdShow);
BOOL IsWindowVisible(HWND hwnd);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
int GetWindowTextA(HWND hwnd, LPSTR buffer, int bufferMax);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
int GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int bufferMax);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
// Named per-window values that other layers (custom controls) attach to a window.
BOOL SetPropA(HWND hwnd, LPCSTR name, HANDLE value);
HANDLE GetPropA(HWND hwnd, LPCSTR name);
HANDLE RemovePropA(HWND hwnd, LPCSTR name);

#define SendMessage SendMessageA
#define SendDlgItemMessage SendDlgItemMessageA
#define SetWindowLongPtr SetWindowLongPtrA
#define GetWindowLongPtr GetWindowLongPtrA
#define DialogBoxParam DialogBoxParamA
#define CreateDialogParam CreateDialogParamA
#define LoadCursor LoadCursorA
#define LoadString LoadStringA
#define SetWindowText SetWindowTextA
#define GetWindowText GetWindowTextA
#define SetDlgItemText SetDlgItemTextA
#define GetDlgItemText GetDlgItemTextA

// ---- Queries of the stand-in's own, for tests and drivers ----
// The template id a dialog was made from (0 for other windows).
int GetDialogTemplateId(HWND dialog);
// Class name of a window ("Button", "ListBox", "CustButton", WC_DIALOG for dialogs, ...).
std::string GetWindowClassName(HWND hwnd);
DWORD GetWindowStyle(HWND hwnd);
// The window's rectangle in dialog units as its template gave it.
RECT GetDialogUnitRect(HWND hwnd);
// The child windows of a dialog, in template order.
std::vector<HWND> GetChildWindows(HWND dialog);
// Live windows (to check that everything created is destroyed).
int LiveWindowCount();

// Acting as the user: a click on a button (a check box toggles first), and a user's selection
// change in a list or combo box; each notifies the owning dialog with WM_COMMAND.
void UserClickButton(HWND dialog, int id);
void UserSelectListItem(HWND dialog, int id, int index, bool addToSelection = false);
void UserSelectComboItem(HWND dialog, int id, int index);
