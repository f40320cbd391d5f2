#include "platform/win/dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

HINSTANCE module(int n) {
    static char anchors[4];
    return reinterpret_cast<HINSTANCE>(&anchors[n]);
}

constexpr int kPickDialog = 209;
constexpr int kRollout = 102;
constexpr int kList = 1265;

DialogTemplate pickTemplate() {
    DialogTemplate t;
    t.resourceId = kPickDialog;
    t.cx = 144;
    t.cy = 180;
    t.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.caption = "Pick";
    t.controls = {
        RcListBox(kList, 4, 5, 135, 153, LBS_EXTENDEDSEL | LBS_NOTIFY | WS_VSCROLL),
        RcDefPushButton("OK", IDOK, 37, 162, 50, 14),
        RcPushButton("Cancel", IDCANCEL, 89, 162, 50, 14),
    };
    return t;
}

DialogTemplate rolloutTemplate() {
    DialogTemplate t;
    t.resourceId = kRollout;
    t.cx = 108;
    t.cy = 132;
    t.controls = {
        RcCheckBox("All", 1002, 7, 4, 89, 10),
        RcGroupBox("Events", 2, 17, 103, 112),
        RcListBox(1003, 7, 27, 93, 84, LBS_NOTIFY | WS_VSCROLL | LBS_NOINTEGRALHEIGHT),
        RcPushButton("Add", 1001, 7, 114, 46, 11),
        RcCustom("CustButton", "Remove", 1004, 55, 114, 46, 11),
        RcComboBox(1005, 7, 130, 96, 112),
        RcRText("Radius:", 6, 37, 50, 8),
    };
    return t;
}

// What the pick dialog's procedure saw and chose.
struct PickState {
    std::vector<std::string> names;
    std::vector<int> chosen;
    int destroyed = 0;
};

INT_PTR CALLBACK_pick(HWND h, UINT msg, WPARAM w, LPARAM l) {
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(h, GWLP_USERDATA, l);
        auto* s = reinterpret_cast<PickState*>(l);
        for (const auto& n : s->names)
            SendDlgItemMessageA(h, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n.c_str()));
        return TRUE;
    }
    case WM_COMMAND: {
        auto* s = reinterpret_cast<PickState*>(GetWindowLongPtrA(h, GWLP_USERDATA));
        if (LOWORD(w) == IDOK) {
            int n = static_cast<int>(SendDlgItemMessageA(h, kList, LB_GETSELCOUNT, 0, 0));
            s->chosen.resize(static_cast<std::size_t>(n));
            SendDlgItemMessageA(h, kList, LB_GETSELITEMS, static_cast<WPARAM>(n),
                                reinterpret_cast<LPARAM>(s->chosen.data()));
            EndDialog(h, 1);
        } else if (LOWORD(w) == IDCANCEL) {
            s->chosen.clear();
            EndDialog(h, 0);
        }
        return TRUE;
    }
    case WM_DESTROY:
        reinterpret_cast<PickState*>(GetWindowLongPtrA(h, GWLP_USERDATA))->destroyed++;
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR deaf(HWND, UINT, WPARAM, LPARAM) {
    return TRUE; // claims every message and never ends
}

class WinDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        baseline_ = LiveWindowCount();
        RegisterDialogTemplate(module(0), pickTemplate());
        RegisterDialogTemplate(module(0), rolloutTemplate());
    }
    void TearDown() override {
        SetModalDialogDriver(nullptr);
        UnregisterModuleResources(module(0));
        UnregisterModuleResources(module(1));
        EXPECT_EQ(LiveWindowCount(), baseline_); // nothing leaked
    }
    int baseline_ = 0;
};

TEST_F(WinDialogs, ModalDialogReturnsItsEndCode) {
    HWND owner = CreateDialogParamA(module(0), MAKEINTRESOURCE(kRollout), nullptr, nullptr, 0);
    ASSERT_TRUE(owner);
    PickState s;
    s.names = {"Event 01", "Event 02", "Event 03"};
    bool ownerDisabledDuringDialog = false;
    SetModalDialogDriver([&](HWND d) {
        EXPECT_EQ(GetDialogTemplateId(d), kPickDialog);
        ownerDisabledDuringDialog = !IsWindowEnabled(owner);
        char text[32];
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(text)), 8);
        EXPECT_EQ(std::string(text), "Event 02");
        UserSelectListItem(d, kList, 2);
        UserSelectListItem(d, kList, 0, true);
        UserClickButton(d, IDOK);
    });
    INT_PTR r = DialogBoxParamA(module(0), MAKEINTRESOURCE(kPickDialog), owner, CALLBACK_pick,
                                reinterpret_cast<LPARAM>(&s));
    EXPECT_EQ(r, 1);
    EXPECT_EQ(s.chosen, (std::vector<int>{0, 2}));
    EXPECT_EQ(s.destroyed, 1);
    EXPECT_TRUE(ownerDisabledDuringDialog);
    EXPECT_TRUE(IsWindowEnabled(owner));

    SetModalDialogDriver([](HWND d) { UserClickButton(d, IDCANCEL); });
    EXPECT_EQ(DialogBoxParamA(module(0), MAKEINTRESOURCE(kPickDialog), owner, CALLBACK_pick,
                              reinterpret_cast<LPARAM>(&s)),
              0);
    // Nobody acting: the window is closed, which is Cancel.
    SetModalDialogDriver(nullptr);
    EXPECT_EQ(DialogBoxParamA(module(0), MAKEINTRESOURCE(kPickDialog), owner, CALLBACK_pick,
                              reinterpret_cast<LPARAM>(&s)),
              0);
    // A dialog that never ends, and a missing template, give -1.
    EXPECT_EQ(DialogBoxParamA(module(0), MAKEINTRESOURCE(kPickDialog), owner, deaf, 0), -1);
    EXPECT_EQ(DialogBoxParamA(module(1), MAKEINTRESOURCE(kPickDialog), owner, deaf, 0), -1);
    EXPECT_FALSE(EndDialog(owner, 1)); // not a modal dialog
    DestroyWindow(owner);
}

TEST_F(WinDialogs, ExtendedAndSingleSelectionLists) {
    HWND d = CreateDialogParamA(module(0), MAKEINTRESOURCE(kPickDialog), nullptr, nullptr, 0);
    HWND single = CreateDialogParamA(module(0), MAKEINTRESOURCE(kRollout), nullptr, nullptr, 0);
    ASSERT_TRUE(d && single);
    for (const char* s : {"a", "b", "c", "d"}) {
        SendDlgItemMessageA(d, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        SendDlgItemMessageA(single, 1003, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    }
    // Several selections.
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETCURSEL, 1, 0), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETSEL, TRUE, 3), 0);
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETSEL, TRUE, 1), 0);
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETSEL, TRUE, 4), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETSELCOUNT, 0, 0), 2);
    int items[4] = {-7, -7, -7, -7};
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETSELITEMS, 1, reinterpret_cast<LPARAM>(items)), 1);
    EXPECT_EQ(items[0], 1);
    EXPECT_EQ(items[1], -7); // no more than the buffer holds
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_SETSEL, TRUE, -1), 0);
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETSELCOUNT, 0, 0), 4);
    // Deleting an item moves the later selections with it.
    SendDlgItemMessageA(d, kList, LB_SETSEL, FALSE, -1);
    SendDlgItemMessageA(d, kList, LB_SETSEL, TRUE, 3);
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_DELETESTRING, 0, 0), 3);
    EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETSELITEMS, 4, reinterpret_cast<LPARAM>(items)), 1);
    EXPECT_EQ(items[0], 2);

    // One selection.
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_GETSELCOUNT, 0, 0), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_SETCURSEL, 2, 0), 2);
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_SETCURSEL, static_cast<WPARAM>(-1), 0), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_GETTEXT, 9, 0), LB_ERR);
    SendDlgItemMessageA(single, 1003, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(SendDlgItemMessageA(single, 1003, LB_GETCOUNT, 0, 0), 0);
    DestroyWindow(d);
    DestroyWindow(single);
}

struct Notes {
    std::vector<std::pair<int, int>> commands; // (id, code)
    std::vector<int> shows;
};

INT_PTR recorder(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_INITDIALOG)
        SetWindowLongPtrA(h, GWLP_USERDATA, l);
    auto* n = reinterpret_cast<Notes*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    if (msg == WM_COMMAND)
        n->commands.push_back({LOWORD(w), HIWORD(w)});
    if (msg == WM_SHOWWINDOW)
        n->shows.push_back(static_cast<int>(w));
    return FALSE;
}

TEST_F(WinDialogs, CombosChecksEnablingAndNotifications) {
    Notes notes;
    HWND d = CreateDialogParamA(module(0), MAKEINTRESOURCE(kRollout), nullptr, recorder,
                                reinterpret_cast<LPARAM>(&notes));
    ASSERT_TRUE(d);
    for (const char* s : {"Multiply", "Subtract"})
        SendDlgItemMessageA(d, 1005, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    EXPECT_EQ(SendDlgItemMessageA(d, 1005, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendDlgItemMessageA(d, 1005, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(d, 1005, CB_SETCURSEL, 1, 0), 1);
    char text[16];
    EXPECT_EQ(GetDlgItemTextA(d, 1005, text, sizeof text), 8);
    EXPECT_EQ(std::string(text), "Subtract");
    EXPECT_EQ(SendDlgItemMessageA(d, 1005, CB_SETCURSEL, 2, 0), CB_ERR);
    EXPECT_EQ(SendDlgItemMessageA(d, 1005, CB_GETCURSEL, 0, 0), CB_ERR);
    UserSelectComboItem(d, 1005, 0);
    EXPECT_EQ(SendDlgItemMessageA(d, 1005, CB_GETCURSEL, 0, 0), 0);
    SendDlgItemMessageA(d, 1005, CB_RESETCONTENT, 0, 0);
    EXPECT_EQ(SendDlgItemMessageA(d, 1005, CB_GETCOUNT, 0, 0), 0);

    // Check boxes: set by the program or toggled by the user.
    EXPECT_EQ(IsDlgButtonChecked(d, 1002), BST_UNCHECKED);
    CheckDlgButton(d, 1002, BST_CHECKED);
    EXPECT_EQ(SendDlgItemMessageA(d, 1002, BM_GETCHECK, 0, 0), BST_CHECKED);
    UserClickButton(d, 1002);
    EXPECT_EQ(IsDlgButtonChecked(d, 1002), BST_UNCHECKED);

    // Enabling: the previous state comes back, and disabled controls ignore the user.
    HWND add = GetDlgItem(d, 1001);
    EXPECT_EQ(GetDlgCtrlID(add), 1001);
    EXPECT_EQ(GetParent(add), d);
    EXPECT_FALSE(EnableWindow(add, FALSE));
    EXPECT_FALSE(IsWindowEnabled(add));
    EXPECT_TRUE(EnableWindow(add, FALSE));
    UserClickButton(d, 1001);
    EXPECT_TRUE(EnableWindow(add, TRUE));
    UserClickButton(d, 1001);
    UserClickButton(d, 1004);

    EXPECT_EQ(
        notes.commands,
        (std::vector<std::pair<int, int>>{
            {1005, CBN_SELCHANGE}, {1002, BN_CLICKED}, {1001, BN_CLICKED}, {1004, BN_CLICKED}}));
    ShowWindow(d, SW_HIDE);
    ShowWindow(d, SW_SHOW);
    EXPECT_EQ(notes.shows, (std::vector<int>{0, 1}));

    // Props and user data live with the window.
    int marker = 0;
    EXPECT_TRUE(SetPropA(add, "state", &marker));
    EXPECT_EQ(GetPropA(add, "state"), &marker);
    EXPECT_EQ(RemovePropA(add, "state"), &marker);
    EXPECT_EQ(GetPropA(add, "state"), nullptr);

    DestroyWindow(d);
    // Handles of destroyed windows are refused, not followed.
    EXPECT_FALSE(IsWindow(add));
    EXPECT_EQ(SendMessageA(add, BM_GETCHECK, 0, 0), 0);
    EXPECT_FALSE(DestroyWindow(d));
}

TEST_F(WinDialogs, TemplatesAsData) {
    DialogTemplate t;
    ASSERT_TRUE(FindDialogTemplate(module(0), kRollout, t));
    EXPECT_EQ(t.fontName, "MS Sans Serif");
    EXPECT_EQ(t.fontSize, 8);
    EXPECT_FALSE(t.isModalPopup());
    ASSERT_TRUE(t.control(1004));
    EXPECT_EQ(t.control(1004)->kind(), ControlKind::Custom);
    EXPECT_EQ(t.control(1002)->kind(), ControlKind::CheckBox);
    EXPECT_EQ(t.control(1001)->kind(), ControlKind::PushButton);
    EXPECT_EQ(t.control(1005)->kind(), ControlKind::ComboBox);
    EXPECT_EQ(t.controls[1].kind(), ControlKind::GroupBox);
    EXPECT_EQ(t.controls[6].kind(), ControlKind::Label);
    EXPECT_EQ(t.controls[6].style & SS_TYPEMASK, SS_RIGHT);
    EXPECT_EQ(t.control(-1), nullptr);
    DialogTemplate p;
    ASSERT_TRUE(FindDialogTemplate(module(0), kPickDialog, p));
    EXPECT_TRUE(p.isModalPopup());
    EXPECT_EQ(p.control(IDOK)->kind(), ControlKind::DefPushButton);
    EXPECT_FALSE(FindDialogTemplate(module(1), kPickDialog, p));

    HWND d = CreateDialogParamA(module(0), MAKEINTRESOURCE(kRollout), nullptr, nullptr, 0);
    RECT r = GetDialogUnitRect(GetDlgItem(d, 1004));
    EXPECT_EQ(r.left, 55);
    EXPECT_EQ(r.bottom, 125);
    EXPECT_EQ(GetWindowClassName(GetDlgItem(d, 1004)), "CustButton");
    EXPECT_EQ(GetChildWindows(d).size(), 7u);
    DestroyWindow(d);
    EXPECT_EQ(CreateDialogParamA(module(0), MAKEINTRESOURCE(999), nullptr, nullptr, 0), nullptr);
}

TEST_F(WinDialogs, StringTablesAndCursors) {
    RegisterStringTable(module(0), {{4, "General Parameters"}, {18, "Add Events"}});
    RegisterStringTable(module(1), {{4, "Other"}});
    char buf[64];
    EXPECT_EQ(LoadStringA(module(0), 4, buf, sizeof buf), 18);
    EXPECT_EQ(std::string(buf), "General Parameters");
    EXPECT_EQ(LoadStringA(module(1), 4, buf, sizeof buf), 5);
    // Truncated to the buffer, always terminated.
    EXPECT_EQ(LoadStringA(module(0), 18, buf, 4), 3);
    EXPECT_EQ(std::string(buf), "Add");
    EXPECT_EQ(LoadStringA(module(0), 5, buf, sizeof buf), 0);
    EXPECT_EQ(LoadStringA(module(0), 4, buf, 0), 0);
    EXPECT_EQ(LoadStringA(module(0), 4, nullptr, 10), 0);
    UnregisterModuleResources(module(0));
    EXPECT_EQ(LoadStringA(module(0), 4, buf, sizeof buf), 0);

    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    EXPECT_NE(arrow, nullptr);
    EXPECT_NE(cross, nullptr);
    EXPECT_NE(arrow, cross);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), arrow);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCE(1)), nullptr);
    InitCommonControls();
    EXPECT_TRUE(CommonControlsInitialized());
}

} // namespace
