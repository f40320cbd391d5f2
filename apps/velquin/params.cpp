// `velquin params`: prints the object's parameter block as tables (parameters, rollouts, list
// entries), read from the block descriptor itself, so that a user can see every script name,
// default and range without reading code.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/velquin/commands.h"
#include "object/Module.h"
#include "object/ParamBlock.h"
#include "ui/Strings.h"

namespace velquin {
namespace {

std::string text(int id) {
    if (id == 0) {
        return "-";
    }
    const auto& table = moduleStrings();
    auto it = table.find(static_cast<UINT>(id));
    return it != table.end() ? it->second : "#" + std::to_string(id);
}

// The shortest decimal that reads back as the same float: "0.0001", not "9.99999975e-05".
std::string number(float v) {
    char buf[64];
    for (int precision = 1; precision <= 9; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, static_cast<double>(v));
        if (std::strtof(buf, nullptr) == v) {
            break;
        }
    }
    std::string s = buf;
    // Plain decimals read better than exponents (1000000 and 0.00001, not 1e+06 and 1e-05).
    if (s.find('e') != std::string::npos) {
        for (int decimals = 0; decimals <= 12; ++decimals) {
            std::snprintf(buf, sizeof buf, "%.*f", decimals, static_cast<double>(v));
            if (std::strtof(buf, nullptr) == v) {
                s = buf;
                break;
            }
        }
    }
    return s;
}

std::string typeName(ParamType2 type) {
    switch (type) {
    case TYPE_FLOAT:
        return "float";
    case TYPE_INT:
        return "integer";
    case TYPE_BOOL:
        return "boolean";
    case TYPE_TEXMAP:
        return "texture map";
    case TYPE_INODE_TAB:
        return "node table";
    case TYPE_POINT3_TAB:
        return "point3 table";
    case TYPE_FLOAT_TAB:
        return "float table";
    default:
        return "type " + std::to_string(type);
    }
}

std::string defaultText(const ParamDef& p) {
    if (is_tab(p.type)) {
        return "empty";
    }
    switch (p.type) {
    case TYPE_FLOAT:
        return number(p.defFloat);
    case TYPE_BOOL:
        return p.defInt != 0 ? "true" : "false";
    case TYPE_INT: {
        std::string s = std::to_string(p.defInt);
        auto entries = listEntries(p.ID);
        if (p.defInt >= 0 && static_cast<std::size_t>(p.defInt) < entries.size()) {
            s += " (" + text(entries[static_cast<std::size_t>(p.defInt)]) + ")";
        }
        return s;
    }
    case TYPE_TEXMAP:
        return "none";
    default:
        return "-";
    }
}

std::string rangeText(const ParamDef& p) {
    if (p.hasRange) {
        if (p.type == TYPE_FLOAT) {
            return number(p.rangeLowF) + " .. " + number(p.rangeHighF);
        }
        return std::to_string(p.rangeLowI) + " .. " + std::to_string(p.rangeHighI);
    }
    auto entries = listEntries(p.ID);
    if (!entries.empty()) {
        return "list 0 .. " + std::to_string(entries.size() - 1);
    }
    return "-";
}

std::string rolloutText(const ParamDef& p) {
    const char* name = p.ui.Bound() ? rolloutName(p.ui.map) : nullptr;
    return name != nullptr ? name : "(scripts only)";
}

void printRow(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
    std::string line;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        std::string cell = cells[c];
        if (c + 1 < cells.size()) {
            cell.resize(widths[c] + 2, ' ');
        }
        line += cell;
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    std::printf("%s\n", line.c_str());
}

void printTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        printRow(rows[r], widths);
        if (r == 0) {
            std::vector<std::string> rule;
            for (std::size_t w : widths) {
                rule.push_back(std::string(w, '-'));
            }
            printRow(rule, widths);
        }
    }
}

int printParams() {
    ParamBlockDesc2* d = GetVelquinMetaballParamDesc();
    std::printf("Parameter block \"%s\" of VelquinMetaball: block ID %d, flags 0x%x, "
                "reference %d, %d parameters\n\n",
                d->int_name.c_str(), static_cast<int>(d->ID), static_cast<unsigned>(d->flags),
                d->ref_no, d->Count());

    std::vector<std::vector<std::string>> rows = {
        {"ID", "Script name", "Type", "Default", "Range", "Rollout", "Display name"}};
    for (int i = 0; i < d->Count(); ++i) {
        const ParamDef& p = *d->GetParamDefByIndex(i);
        std::string type = typeName(p.type);
        if (p.flags & P_ANIMATABLE) {
            type += ", animatable";
        }
        rows.push_back({std::to_string(p.ID), p.int_name, type, defaultText(p), rangeText(p),
                        rolloutText(p), text(p.local_name)});
    }
    printTable(rows);

    std::printf("\nRollouts, in order:\n\n");
    std::vector<std::vector<std::string>> maps = {{"Map", "Name", "Dialog", "Title", "Initially"}};
    for (int i = 0; i < d->NumRollouts(); ++i) {
        const ParamMapInfo& m = *d->GetMapByIndex(i);
        const char* name = rolloutName(m.id);
        maps.push_back({std::to_string(m.id), name != nullptr ? name : "-",
                        std::to_string(m.dlgTemplate), text(m.title),
                        (m.rollupFlags & APPENDROLL_CLOSED) ? "closed" : "open"});
    }
    printTable(maps);

    std::printf("\nList entries (the stored value is the index):\n");
    for (ParamID id : {pb_fieldFunction, pb_color, pb_textureType}) {
        const ParamDef* p = d->FindParamDef(id);
        std::printf("\n  %s:\n", p != nullptr ? p->int_name.c_str() : "?");
        auto entries = listEntries(id);
        for (std::size_t k = 0; k < entries.size(); ++k) {
            std::printf("    %zu  %s\n", k, text(entries[k]).c_str());
        }
    }
    return kExitSuccess;
}

} // namespace

void addParamsCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "params", "List the parameters of the VelquinMetaball object: ID, script name, type, "
                  "default, range and rollout");
    setCommandAction(sub, [] { return printParams(); });
}

} // namespace velquin
