// `velquin ui`: opens the rollouts of a new VelquinMetaball object in the stand-in command panel
// and shows them as a user would see them: titles in order, rolled up or not, and every control
// with its label, kind, current value and whether it is disabled. `--image FILE` draws the panel
// from the dialog templates' rectangles and texts (SVG, or PNG with a built-in bitmap font).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/velquin/commands.h"
#include "object/Module.h"
#include "object/ModuleEntry.h"
#include "object/VelquinMetaball.h"
#include "platform/max/core.h"
#include "platform/max/parammap.h"
#ifndef VELQUIN_NO_RENDERER
#include "renderer/Image.h"
#endif
#include "ui/Resources.h"

namespace velquin {
namespace {

// ---- What the panel shows ----

struct Control {
    HWND hwnd = nullptr;
    ControlTemplate tmpl;
    std::string label;   // what names it on screen (its text, a label on its row, its group)
    std::string kind;    // "spinner", "check box", ...
    std::string value;   // as shown
    std::string binding; // the parameter's script name, when bound
    bool enabled = true;
    bool header = false; // a group box
    bool hidden = false; // a label that names another control
};

struct Rollout {
    std::string title;
    bool rolledUp = false;
    int width = 0, height = 0;
    std::vector<Control> controls;
};

std::string windowText(HWND h) {
    char buf[512] = "";
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

bool isLabel(const ControlTemplate& c) {
    return c.kind() == ControlKind::Label;
}

// The label on the control's row to its left, or the innermost group box around it.
int namingControl(const std::vector<ControlTemplate>& all, const ControlTemplate& c) {
    int best = -1;
    for (size_t i = 0; i < all.size(); ++i) {
        const ControlTemplate& l = all[i];
        if (isLabel(l) && std::abs(l.y - c.y) <= 2 && l.x + l.cx <= c.x + 2 &&
            (best < 0 || l.x > all[static_cast<size_t>(best)].x))
            best = static_cast<int>(i);
    }
    if (best >= 0)
        return best;
    for (size_t i = 0; i < all.size(); ++i) {
        const ControlTemplate& g = all[i];
        if (g.kind() == ControlKind::GroupBox && c.x >= g.x && c.y >= g.y &&
            c.x + c.cx <= g.x + g.cx + 1 && c.y <= g.y + g.cy &&
            (best < 0 ||
             g.cx * g.cy < all[static_cast<size_t>(best)].cx * all[static_cast<size_t>(best)].cy))
            best = static_cast<int>(i);
    }
    return best;
}

std::string bindingOf(IParamMap2* map, int ctrlId) {
    ParamBlockDesc2* desc = map->GetDesc();
    for (int i = 0; desc && i < desc->Count(); ++i) {
        ParamDef* d = desc->GetParamDefByIndex(i);
        if (d->ui.map != map->GetMapID())
            continue;
        for (int id : d->ui.ctrlIDs)
            if (id != 0 && id == ctrlId)
                return d->int_name;
    }
    return "";
}

std::string listItems(HWND h, UINT countMsg, UINT textMsg) {
    LRESULT n = SendMessageA(h, countMsg, 0, 0);
    if (n <= 0)
        return "(empty)";
    std::string out;
    for (LRESULT i = 0; i < n; ++i) {
        char buf[256] = "";
        SendMessageA(h, textMsg, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
        out += (i ? ", \"" : "\"") + std::string(buf) + "\"";
    }
    return out;
}

Rollout describe(IParamMap2* map) {
    Rollout r;
    r.title = map->GetTitle();
    r.rolledUp = map->IsRolledUp();
    HWND dlg = map->GetHWnd();
    RECT size = GetDialogUnitRect(dlg);
    r.width = size.right - size.left;
    r.height = size.bottom - size.top;

    DialogTemplate t;
    if (!FindDialogTemplate(moduleInstance(), GetDialogTemplateId(dlg), t))
        return r;
    std::vector<HWND> windows = GetChildWindows(dlg);
    for (size_t i = 0; i < t.controls.size(); ++i) {
        Control c;
        c.tmpl = t.controls[i];
        c.hwnd = i < windows.size() ? windows[i] : nullptr;
        c.enabled = IsWindowEnabled(c.hwnd) != 0;
        c.binding = bindingOf(map, c.tmpl.id);
        r.controls.push_back(c);
    }
    for (Control& c : r.controls) {
        const std::string cls = c.tmpl.className;
        switch (c.tmpl.kind()) {
        case ControlKind::GroupBox:
            c.header = true;
            c.label = c.tmpl.text;
            c.kind = "group";
            break;
        case ControlKind::Label:
            c.label = windowText(c.hwnd);
            c.kind = "text";
            break;
        case ControlKind::CheckBox:
            c.label = c.tmpl.text;
            c.kind = "check box";
            c.value = IsDlgButtonChecked(dlg, c.tmpl.id) == BST_CHECKED ? "on" : "off";
            break;
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
            c.label = windowText(c.hwnd);
            c.kind = "button";
            break;
        case ControlKind::ComboBox: {
            c.kind = "drop-down list";
            LRESULT sel = SendMessageA(c.hwnd, CB_GETCURSEL, 0, 0);
            char buf[256] = "";
            if (sel != CB_ERR)
                SendMessageA(c.hwnd, CB_GETLBTEXT, static_cast<WPARAM>(sel),
                             reinterpret_cast<LPARAM>(buf));
            c.value = sel == CB_ERR
                          ? "(nothing chosen)"
                          : "\"" + std::string(buf) + "\" (entry " + std::to_string(sel) + " of " +
                                std::to_string(SendMessageA(c.hwnd, CB_GETCOUNT, 0, 0)) + ")";
            break;
        }
        case ControlKind::ListBox:
            c.kind = "list";
            c.value = listItems(c.hwnd, LB_GETCOUNT, LB_GETTEXT);
            break;
        case ControlKind::Custom:
            if (cls == "CustButton") {
                const CustButtonState* s = FindCustButtonState(c.hwnd);
                std::string caption = s && !s->text.empty() ? s->text : windowText(c.hwnd);
                c.kind = s && s->type == CBT_CHECK ? "check button" : "button";
                if (c.tmpl.text.empty()) {
                    // A button without a caption of its own shows a value (the texture map).
                    c.kind = "map button";
                    c.value = "\"" + caption + "\"";
                    break;
                }
                c.label = caption;
                if (s && s->type == CBT_CHECK)
                    c.value = s->checked ? "pressed" : "released";
            } else if (cls == "SpinnerControl") {
                const SpinnerState* s = FindSpinnerState(c.hwnd);
                c.kind = s && s->isInt ? "integer spinner" : "spinner";
                if (s) {
                    char range[96];
                    std::snprintf(range, sizeof range, " [%s .. %s]",
                                  FormatSpinnerValue(s->low, s->isInt).c_str(),
                                  FormatSpinnerValue(s->high, s->isInt).c_str());
                    c.value = windowText(s->edit) + range;
                }
            } else {
                c.kind = cls;
                c.value = windowText(c.hwnd);
            }
            break;
        }
    }
    // Name the controls that carry no text of their own; an edit is shown with its spinner.
    std::vector<ControlTemplate> all;
    for (const Control& c : r.controls)
        all.push_back(c.tmpl);
    for (Control& c : r.controls) {
        if (c.tmpl.className == "CustEdit") {
            c.hidden = true;
            continue;
        }
        bool needsName = c.label.empty() && !c.header && !isLabel(c.tmpl);
        if (!needsName)
            continue;
        int n = namingControl(all, c.tmpl);
        if (n < 0)
            continue;
        Control& naming = r.controls[static_cast<size_t>(n)];
        c.label = naming.label;
        if (!naming.header)
            naming.hidden = true;
    }
    return r;
}

std::string listing(const std::vector<Rollout>& panel, bool creating) {
    std::ostringstream out;
    out << "VelquinMetaball: " << panel.size() << " rollouts in the "
        << (creating ? "create" : "modify") << " panel\n";
    for (const Rollout& r : panel) {
        out << "\n"
            << (r.rolledUp ? "[+] " : "[-] ") << r.title << (r.rolledUp ? "  (rolled up)" : "")
            << "\n";
        for (const Control& c : r.controls) {
            if (c.hidden)
                continue;
            if (c.header) {
                out << "  " << c.label << "\n";
                continue;
            }
            std::string line = "    " + c.label;
            line.resize(std::max<size_t>(line.size() + 1, 34), ' ');
            line += c.kind;
            if (!c.value.empty())
                line += ": " + c.value;
            if (!c.binding.empty())
                line += "  -> " + c.binding;
            if (!c.enabled)
                line += "  (disabled)";
            out << line << "\n";
        }
    }
    return out.str();
}

// ---- Drawing ----

constexpr int kZoom = 2;
constexpr float kPxX = 1.5f * kZoom;   // pixels per horizontal dialog unit
constexpr float kPxY = 1.625f * kZoom; // pixels per vertical dialog unit
constexpr int kTitleHeight = 13 * kZoom;
constexpr int kGap = 3 * kZoom;
constexpr int kMargin = 4 * kZoom;

struct Rgb {
    std::uint8_t r, g, b;
};
constexpr Rgb kPanel{197, 197, 197}, kFace{220, 220, 220}, kWhite{255, 255, 255}, kBlack{0, 0, 0},
    kGray{128, 128, 128}, kShadow{96, 96, 96}, kTitle{170, 170, 170}, kPressed{255, 214, 102};

struct Prim {
    enum Kind { Fill, Frame, Text } kind;
    int x, y, w, h;
    Rgb color;
    std::string text;
    int align = 0; // -1 left, 0 centre, 1 right (text within x..x+w, centred vertically)
};

class Canvas {
public:
    std::vector<Prim> prims;
    int width = 0, height = 0;
    void fill(int x, int y, int w, int h, Rgb c) {
        prims.push_back({Prim::Fill, x, y, w, h, c, {}, 0});
    }
    void frame(int x, int y, int w, int h, Rgb c) {
        prims.push_back({Prim::Frame, x, y, w, h, c, {}, 0});
    }
    void text(int x, int y, int w, int h, const std::string& s, Rgb c, int align) {
        if (!s.empty())
            prims.push_back({Prim::Text, x, y, w, h, c, s, align});
    }
};

void drawControl(Canvas& cv, const Control& c, int ox, int oy) {
    const ControlTemplate& t = c.tmpl;
    int x = ox + static_cast<int>(std::lround(t.x * kPxX));
    int y = oy + static_cast<int>(std::lround(t.y * kPxY));
    int w = static_cast<int>(std::lround(t.cx * kPxX));
    int h = static_cast<int>(std::lround(t.cy * kPxY));
    Rgb ink = c.enabled ? kBlack : kGray;
    std::string shown = windowText(c.hwnd);
    switch (t.kind()) {
    case ControlKind::GroupBox:
        cv.frame(x, y + 4 * kZoom, w, h - 4 * kZoom, kShadow);
        if (!t.text.empty()) {
            int tw = static_cast<int>(t.text.size()) * 6 * kZoom + 4 * kZoom;
            cv.fill(x + 4 * kZoom, y, tw, 8 * kZoom, kPanel);
            cv.text(x + 6 * kZoom, y, tw, 8 * kZoom, t.text, ink, -1);
        }
        break;
    case ControlKind::Label: {
        DWORD a = t.style & SS_TYPEMASK;
        cv.text(x, y, w, h, shown, ink, a == SS_RIGHT ? 1 : a == SS_CENTER ? 0 : -1);
        break;
    }
    case ControlKind::CheckBox: {
        int box = 7 * kZoom;
        int by = y + (h - box) / 2;
        cv.fill(x, by, box, box, kWhite);
        cv.frame(x, by, box, box, kShadow);
        if (IsDlgButtonChecked(GetParent(c.hwnd), t.id) == BST_CHECKED)
            cv.fill(x + 2 * kZoom, by + 2 * kZoom, box - 4 * kZoom, box - 4 * kZoom, ink);
        cv.text(x + box + 3 * kZoom, y, w - box - 3 * kZoom, h, t.text, ink, -1);
        break;
    }
    case ControlKind::ComboBox: {
        int ch = 12 * kZoom; // the closed list; the template's height is the dropped-down one
        cv.fill(x, y, w, ch, kWhite);
        cv.frame(x, y, w, ch, kShadow);
        cv.fill(x + w - ch, y, ch, ch, kFace);
        cv.frame(x + w - ch, y, ch, ch, kShadow);
        cv.text(x + w - ch, y, ch, ch, "v", ink, 0);
        cv.text(x + 3 * kZoom, y, w - ch - 3 * kZoom, ch, shown, ink, -1);
        break;
    }
    case ControlKind::ListBox: {
        cv.fill(x, y, w, h, kWhite);
        cv.frame(x, y, w, h, kShadow);
        LRESULT n = SendMessageA(c.hwnd, LB_GETCOUNT, 0, 0);
        int line = 9 * kZoom;
        for (LRESULT i = 0; i < n && (i + 1) * line < h; ++i) {
            char buf[256] = "";
            SendMessageA(c.hwnd, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
            cv.text(x + 3 * kZoom, y + 2 * kZoom + static_cast<int>(i) * line, w, line, buf, ink,
                    -1);
        }
        break;
    }
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
        cv.fill(x, y, w, h, kFace);
        cv.frame(x, y, w, h, t.kind() == ControlKind::DefPushButton ? kBlack : kShadow);
        cv.text(x, y, w, h, shown, ink, 0);
        break;
    case ControlKind::Custom:
        if (t.className == "CustEdit") {
            cv.fill(x, y, w, h, c.enabled ? kWhite : kFace);
            cv.frame(x, y, w, h, kShadow);
            cv.text(x + 2 * kZoom, y, w - 4 * kZoom, h, shown, ink, -1);
        } else if (t.className == "SpinnerControl") {
            cv.fill(x, y, w, h, kFace);
            cv.frame(x, y, w, h / 2, kShadow);
            cv.frame(x, y + h / 2, w, h - h / 2, kShadow);
        } else {
            const CustButtonState* s = FindCustButtonState(c.hwnd);
            bool pressed = s && s->type == CBT_CHECK && s->checked;
            cv.fill(x, y, w, h, pressed ? kPressed : kFace);
            cv.frame(x, y, w, h, kShadow);
            cv.text(x, y, w, h, s && !s->text.empty() ? s->text : shown, ink, 0);
        }
        break;
    }
}

Canvas draw(const std::vector<Rollout>& panel) {
    Canvas cv;
    int width = 0;
    for (const Rollout& r : panel)
        width = std::max(width, static_cast<int>(std::lround(r.width * kPxX)));
    cv.width = width + 2 * kMargin;
    int y = kMargin;
    cv.fill(0, 0, cv.width, 0, kPanel); // the background; its height is set below
    for (const Rollout& r : panel) {
        cv.fill(kMargin, y, width, kTitleHeight, kTitle);
        cv.frame(kMargin, y, width, kTitleHeight, kShadow);
        cv.text(kMargin + 3 * kZoom, y, 8 * kZoom, kTitleHeight, r.rolledUp ? "+" : "-", kBlack,
                -1);
        cv.text(kMargin, y, width, kTitleHeight, r.title, kBlack, 0);
        y += kTitleHeight;
        if (!r.rolledUp) {
            int h = static_cast<int>(std::lround(r.height * kPxY));
            for (const Control& c : r.controls)
                drawControl(cv, c, kMargin, y);
            y += h;
        }
        y += kGap;
    }
    cv.height = y + kMargin - kGap;
    cv.prims.front().h = cv.height;
    return cv;
}

std::string xmlEscape(const std::string& s) {
    std::string out;
    for (char ch : s) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += ch;
        }
    }
    return out;
}

std::string svg(const Canvas& cv) {
    std::ostringstream o;
    auto color = [](Rgb c) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
        return std::string(buf);
    };
    o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << cv.width << "\" height=\""
      << cv.height << "\" font-family=\"MS Sans Serif, Microsoft Sans Serif, sans-serif\" "
      << "font-size=\"" << 8 * kZoom + 2 << "\">\n";
    for (const Prim& p : cv.prims) {
        switch (p.kind) {
        case Prim::Fill:
            o << "<rect x=\"" << p.x << "\" y=\"" << p.y << "\" width=\"" << p.w << "\" height=\""
              << p.h << "\" fill=\"" << color(p.color) << "\"/>\n";
            break;
        case Prim::Frame:
            o << "<rect x=\"" << p.x + 0.5 << "\" y=\"" << p.y + 0.5 << "\" width=\"" << p.w - 1
              << "\" height=\"" << p.h - 1 << "\" fill=\"none\" stroke=\"" << color(p.color)
              << "\"/>\n";
            break;
        case Prim::Text: {
            int tx = p.align < 0 ? p.x : p.align > 0 ? p.x + p.w : p.x + p.w / 2;
            const char* anchor = p.align < 0 ? "start" : p.align > 0 ? "end" : "middle";
            o << "<text x=\"" << tx << "\" y=\"" << p.y + p.h / 2 << "\" text-anchor=\"" << anchor
              << "\" dominant-baseline=\"central\" fill=\"" << color(p.color) << "\">"
              << xmlEscape(p.text) << "</text>\n";
            break;
        }
        }
    }
    o << "</svg>\n";
    return o.str();
}

#ifndef VELQUIN_NO_RENDERER
// A 5 x 7 bitmap font for printable ASCII: five columns per glyph, bit 0 the top row.
constexpr std::uint8_t kFont[95][5] = {
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00}, {0x00, 0x07, 0x00, 0x07, 0x00},
    {0x14, 0x7F, 0x14, 0x7F, 0x14}, {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x55, 0x22, 0x50}, {0x00, 0x05, 0x03, 0x00, 0x00}, {0x00, 0x1C, 0x22, 0x41, 0x00},
    {0x00, 0x41, 0x22, 0x1C, 0x00}, {0x08, 0x2A, 0x1C, 0x2A, 0x08}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x50, 0x30, 0x00, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08}, {0x00, 0x60, 0x60, 0x00, 0x00},
    {0x20, 0x10, 0x08, 0x04, 0x02}, {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},
    {0x42, 0x61, 0x51, 0x49, 0x46}, {0x21, 0x41, 0x45, 0x4B, 0x31}, {0x18, 0x14, 0x12, 0x7F, 0x10},
    {0x27, 0x45, 0x45, 0x45, 0x39}, {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x06, 0x49, 0x49, 0x29, 0x1E}, {0x00, 0x36, 0x36, 0x00, 0x00},
    {0x00, 0x56, 0x36, 0x00, 0x00}, {0x00, 0x08, 0x14, 0x22, 0x41}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x41, 0x22, 0x14, 0x08, 0x00}, {0x02, 0x01, 0x51, 0x09, 0x06}, {0x32, 0x49, 0x79, 0x41, 0x3E},
    {0x7E, 0x11, 0x11, 0x11, 0x7E}, {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x22, 0x1C}, {0x7F, 0x49, 0x49, 0x49, 0x41}, {0x7F, 0x09, 0x09, 0x01, 0x01},
    {0x3E, 0x41, 0x41, 0x51, 0x32}, {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41}, {0x7F, 0x40, 0x40, 0x40, 0x40},
    {0x7F, 0x02, 0x04, 0x02, 0x7F}, {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E}, {0x7F, 0x09, 0x19, 0x29, 0x46},
    {0x46, 0x49, 0x49, 0x49, 0x31}, {0x01, 0x01, 0x7F, 0x01, 0x01}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x7F, 0x20, 0x18, 0x20, 0x7F}, {0x63, 0x14, 0x08, 0x14, 0x63},
    {0x03, 0x04, 0x78, 0x04, 0x03}, {0x61, 0x51, 0x49, 0x45, 0x43}, {0x00, 0x00, 0x7F, 0x41, 0x41},
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x41, 0x41, 0x7F, 0x00, 0x00}, {0x04, 0x02, 0x01, 0x02, 0x04},
    {0x40, 0x40, 0x40, 0x40, 0x40}, {0x00, 0x01, 0x02, 0x04, 0x00}, {0x20, 0x54, 0x54, 0x54, 0x78},
    {0x7F, 0x48, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x20}, {0x38, 0x44, 0x44, 0x48, 0x7F},
    {0x38, 0x54, 0x54, 0x54, 0x18}, {0x08, 0x7E, 0x09, 0x01, 0x02}, {0x08, 0x14, 0x54, 0x54, 0x3C},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00}, {0x20, 0x40, 0x44, 0x3D, 0x00},
    {0x00, 0x7F, 0x10, 0x28, 0x44}, {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x18, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38}, {0x7C, 0x14, 0x14, 0x14, 0x08},
    {0x08, 0x14, 0x14, 0x18, 0x7C}, {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x20},
    {0x04, 0x3F, 0x44, 0x40, 0x20}, {0x3C, 0x40, 0x40, 0x20, 0x7C}, {0x1C, 0x20, 0x40, 0x20, 0x1C},
    {0x3C, 0x40, 0x30, 0x40, 0x3C}, {0x44, 0x28, 0x10, 0x28, 0x44}, {0x0C, 0x50, 0x50, 0x50, 0x3C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00}, {0x00, 0x00, 0x7F, 0x00, 0x00},
    {0x00, 0x41, 0x36, 0x08, 0x00}, {0x08, 0x04, 0x08, 0x10, 0x08}};

float toLinear(std::uint8_t v) {
    float c = static_cast<float>(v) / 255.0f;
    return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

renderer::Image raster(const Canvas& cv) {
    renderer::Image img(cv.width, cv.height);
    auto put = [&](int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= img.width || y >= img.height)
            return;
        float* p = img.pixel(x, y);
        p[0] = toLinear(c.r), p[1] = toLinear(c.g), p[2] = toLinear(c.b), p[3] = 1.0f;
    };
    constexpr int kAdvance = 6 * kZoom;
    for (const Prim& p : cv.prims) {
        switch (p.kind) {
        case Prim::Fill:
            for (int y = p.y; y < p.y + p.h; ++y)
                for (int x = p.x; x < p.x + p.w; ++x)
                    put(x, y, p.color);
            break;
        case Prim::Frame:
            for (int x = p.x; x < p.x + p.w; ++x)
                put(x, p.y, p.color), put(x, p.y + p.h - 1, p.color);
            for (int y = p.y; y < p.y + p.h; ++y)
                put(p.x, y, p.color), put(p.x + p.w - 1, y, p.color);
            break;
        case Prim::Text: {
            int tw = static_cast<int>(p.text.size()) * kAdvance - kZoom;
            int x0 = p.align < 0 ? p.x : p.align > 0 ? p.x + p.w - tw : p.x + (p.w - tw) / 2;
            int y0 = p.y + (p.h - 7 * kZoom) / 2;
            for (size_t k = 0; k < p.text.size(); ++k) {
                unsigned char ch = static_cast<unsigned char>(p.text[k]);
                if (ch < 32 || ch > 126)
                    ch = '?';
                for (int col = 0; col < 5; ++col)
                    for (int row = 0; row < 7; ++row)
                        if (kFont[ch - 32][col] & (1 << row))
                            for (int dy = 0; dy < kZoom; ++dy)
                                for (int dx = 0; dx < kZoom; ++dx)
                                    put(x0 + static_cast<int>(k) * kAdvance + col * kZoom + dx,
                                        y0 + row * kZoom + dy, p.color);
            }
            break;
        }
        }
    }
    return img;
}
#endif // VELQUIN_NO_RENDERER

bool endsWith(const std::string& s, const char* suffix) {
    std::string e = suffix;
    if (s.size() < e.size())
        return false;
    for (size_t i = 0; i < e.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - e.size() + i])) != e[i])
            return false;
    return true;
}

// ---- The command ----

int runUi(const std::string& image, bool creating, bool unroll) {
    static char moduleTag;
    auto* instance = reinterpret_cast<HINSTANCE>(&moduleTag);
    moduleEntry(instance, 1, nullptr);
    registerUiResources(instance);

    Interface* core = GetCOREInterface();
    core->SetCommandPanelTaskMode(creating ? TASK_MODE_CREATE : TASK_MODE_MODIFY);
    auto* obj = static_cast<VelquinMetaball*>(
        static_cast<GeomObject*>(GetVelquinMetaballDesc()->Create(FALSE)));
    core->GetScene().CreateNode(obj);
    obj->BeginEditParams(GetCOREObjParam(), creating ? BEGIN_EDIT_CREATE : 0, nullptr);
    if (unroll)
        for (int i = 0; i < NumCommandPanelRollouts(); ++i)
            GetCommandPanelRollout(i)->SetRolledUp(false);

    std::vector<Rollout> panel;
    for (int i = 0; i < NumCommandPanelRollouts(); ++i)
        panel.push_back(describe(GetCommandPanelRollout(i)));
    if (panel.empty()) {
        obj->EndEditParams(GetCOREObjParam(), END_EDIT_REMOVEUI, nullptr);
        throw std::runtime_error("the object opened no rollouts");
    }

    int code = kExitSuccess;
    if (image.empty()) {
        std::fputs(listing(panel, creating).c_str(), stdout);
    } else {
        Canvas cv = draw(panel);
        if (endsWith(image, ".svg")) {
            std::ofstream f(image, std::ios::binary);
            f << svg(cv);
            f.close();
            if (!f)
                throw InputError(image + ": cannot write the file");
        } else {
#ifndef VELQUIN_NO_RENDERER
            try {
                renderer::writeImage(raster(cv), image);
            } catch (const renderer::ImageError& e) {
                throw InputError(e.what());
            }
#else
            // Images are written by the renderer's libraries, which this build leaves out.
            throw InputError(image + ": this build writes the panel as .svg only");
#endif
        }
        std::printf("%s: %d x %d, %zu rollouts\n", image.c_str(), cv.width, cv.height,
                    panel.size());
    }
    obj->EndEditParams(GetCOREObjParam(), END_EDIT_REMOVEUI, nullptr);
    return code;
}

} // namespace

void addUiCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "ui", "Show the rollouts of a new object as the command panel would (text or image)");
    auto image = std::make_shared<std::string>();
    auto creating = std::make_shared<bool>(false);
    auto unroll = std::make_shared<bool>(false);
    sub->add_option("--image", *image, "Draw the panel into this file (.svg or .png)")
        ->check([](const std::string& s) -> std::string {
            if (endsWith(s, ".svg") || endsWith(s, ".png"))
                return "";
            return "the image must be a .svg or .png file";
        });
    sub->add_flag("--create", *creating, "Show the panel as it opens while creating the object");
    sub->add_flag("--open", *unroll, "Roll every rollout down");
    setCommandAction(sub, [image, creating, unroll] { return runUi(*image, *creating, *unroll); });
}

} // namespace velquin
