#include "platform/max/macrorec.h"

#include <charconv>

namespace {
MacroRecorder theRecorder;

std::string number(double d) {
    char buf[64];
    // A value that is exactly a float is written as that float's shortest form (0.1f -> 0.1).
    float f = static_cast<float>(d);
    std::to_chars_result r = static_cast<double>(f) == d ? std::to_chars(buf, buf + sizeof buf, f)
                                                         : std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Formats one argument (kind then value) starting at items[k]; advances k. False on a mismatch.
bool formatArg(const std::vector<MacroRecorder::Item>& items, std::size_t& k, std::string& out) {
    if (k >= items.size() || !std::holds_alternative<long long>(items[k].v))
        return false;
    int kind = static_cast<int>(std::get<long long>(items[k].v));
    ++k;
    if (kind == mr_sel) {
        out = "$";
        return true;
    }
    if (k >= items.size())
        return false;
    const MacroRecorder::Item& it = items[k++];
    switch (kind) {
    case mr_int:
        if (!std::holds_alternative<long long>(it.v))
            return false;
        out = std::to_string(std::get<long long>(it.v));
        return true;
    case mr_bool:
        if (!std::holds_alternative<long long>(it.v))
            return false;
        out = std::get<long long>(it.v) ? "true" : "false";
        return true;
    case mr_float:
        if (std::holds_alternative<double>(it.v))
            out = number(std::get<double>(it.v));
        else if (std::holds_alternative<long long>(it.v))
            out = number(static_cast<double>(std::get<long long>(it.v)));
        else
            return false;
        return true;
    case mr_string:
    case mr_varname:
    case mr_name:
        if (!std::holds_alternative<std::string>(it.v))
            return false;
        out = kind == mr_string ? quoted(std::get<std::string>(it.v))
                                : (kind == mr_name ? "#" : "") + std::get<std::string>(it.v);
        return true;
    case mr_point3: {
        if (!std::holds_alternative<Point3>(it.v))
            return false;
        const Point3& p = std::get<Point3>(it.v);
        out = "[" + number(p.x) + "," + number(p.y) + "," + number(p.z) + "]";
        return true;
    }
    case mr_reftarg:
        if (!std::holds_alternative<ReferenceTarget*>(it.v))
            return false;
        // A target without a name cannot be written so that a replay finds it again.
        out = it.hasName ? MacroRecorder::NodePath(it.name) : "undefined";
        return true;
    default:
        return false;
    }
}
} // namespace

MacroRecorder* macroRecorder = &theRecorder;

std::string MacroRecorder::NodePath(const std::string& name) {
    std::string out = "$'";
    for (char c : name) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "'";
}

BOOL MacroRecorder::RecordCall(const char* op_name, int arg_count, int keyarg_count,
                               const std::vector<Item>& items) {
    if (!enabled_ || !op_name || arg_count < 0 || keyarg_count < 0)
        return FALSE;
    std::string line = op_name;
    std::size_t k = 0;
    for (int a = 0; a < arg_count; ++a) {
        std::string s;
        if (!formatArg(items, k, s))
            return FALSE;
        line += ' ' + s;
    }
    for (int a = 0; a < keyarg_count; ++a) {
        if (k >= items.size() || !std::holds_alternative<std::string>(items[k].v))
            return FALSE;
        std::string key = std::get<std::string>(items[k].v);
        ++k;
        std::string s;
        if (!formatArg(items, k, s))
            return FALSE;
        line += ' ' + key + ':' + s;
    }
    if (k != items.size())
        return FALSE;
    // A call without arguments needs () to be a call in the scripting language.
    if (arg_count == 0 && keyarg_count == 0)
        line += "()";
    lines_.push_back(std::move(line));
    return TRUE;
}

void MacroRecorder::ScriptString(const char* s) {
    if (enabled_ && s)
        lines_.emplace_back(s);
}

int MacroRecorder::EmitScript() {
    int n = 0;
    for (; emitted_ < lines_.size(); ++emitted_, ++n)
        if (sink_)
            sink_(lines_[emitted_]);
    return n;
}
