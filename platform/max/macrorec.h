// The macro recorder of the host stand-in: records the script calls that replay a user's
// actions, one text line per call, e.g.
//     $.VelquinMetaballOps.addMetaball $'Sphere001'
// Nodes are written by name ($'name'), numbers exactly, strings quoted.
#pragma once

#include "platform/max/maxtypes.h"
#include "platform/max/ref.h"

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

// Argument kinds of MacroRecorder::FunctionCall: each argument is a kind followed by its value.
enum MRArgKind : int {
    mr_int = 1,     // int
    mr_float = 2,   // float or double
    mr_string = 3,  // const char*, written quoted
    mr_varname = 4, // const char*, written as it is (a variable or expression)
    mr_name = 5,    // const char*, written as a #name
    mr_bool = 6,    // int, written true/false
    mr_point3 = 7,  // Point3, written [x,y,z]
    mr_sel = 8,     // no value: the current selection, written $
    mr_reftarg = 9, // a node or other reference target
};

class MacroRecorder {
public:
    // One item of a FunctionCall argument list as the template below captured it.
    struct Item {
        std::variant<long long, double, std::string, ReferenceTarget*, Point3> v;
        std::string name; // the node's name when the item was a named target
        bool hasName = false;
    };

    // Records `op_name` followed by `arg_count` positional arguments (each a kind and a value)
    // and `keyarg_count` keyword arguments (each a keyword, a kind and a value). Answers FALSE
    // and records nothing while disabled or when the list does not match the counts.
    template <class... A>
    BOOL FunctionCall(const char* op_name, int arg_count, int keyarg_count, const A&... args) {
        std::vector<Item> items;
        items.reserve(sizeof...(A));
        (items.push_back(capture(args)), ...);
        return RecordCall(op_name, arg_count, keyarg_count, items);
    }
    BOOL RecordCall(const char* op_name, int arg_count, int keyarg_count,
                    const std::vector<Item>& items);
    // Records a line of script as it is.
    void ScriptString(const char* s);

    void Enable() { enabled_ = true; }
    void Disable() { enabled_ = false; }
    BOOL Enabled() const { return enabled_; }
    // Sends the lines recorded since the last emit to the sink (the listener window); answers
    // how many were sent.
    int EmitScript();
    void SetSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

    const std::vector<std::string>& Lines() const { return lines_; }
    std::string LastLine() const { return lines_.empty() ? std::string() : lines_.back(); }
    void Clear() {
        lines_.clear();
        emitted_ = 0;
    }

    // How a name is written as a node path: $'name' with ' and \ escaped.
    static std::string NodePath(const std::string& name);

private:
    template <class T> static Item capture(const T& x) {
        Item it;
        if constexpr (std::is_same_v<T, std::nullptr_t>) {
            it.v = static_cast<ReferenceTarget*>(nullptr);
        } else if constexpr (std::is_array_v<T>) {
            static_assert(std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>,
                          "unsupported macro recorder argument");
            it.v = std::string(x);
        } else if constexpr (std::is_pointer_v<T> && std::is_convertible_v<T, const char*>) {
            it.v = std::string(x ? x : "");
        } else if constexpr (std::is_pointer_v<T> &&
                             std::is_base_of_v<ReferenceTarget,
                                               std::remove_cv_t<std::remove_pointer_t<T>>>) {
            it.v = static_cast<ReferenceTarget*>(
                const_cast<std::remove_cv_t<std::remove_pointer_t<T>>*>(x));
            // Nodes know their names; capture it now so that the line names the node.
            if constexpr (requires { x->GetName(); }) {
                if (x && x->GetName()) {
                    it.name = x->GetName();
                    it.hasName = true;
                }
            }
        } else if constexpr (std::is_same_v<T, std::string>) {
            it.v = x;
        } else if constexpr (std::is_same_v<T, Point3>) {
            it.v = x;
        } else if constexpr (std::is_floating_point_v<T>) {
            it.v = static_cast<double>(x);
        } else {
            static_assert(std::is_integral_v<T> || std::is_enum_v<T>,
                          "unsupported macro recorder argument");
            it.v = static_cast<long long>(x);
        }
        return it;
    }

    bool enabled_ = true;
    std::vector<std::string> lines_;
    std::size_t emitted_ = 0;
    std::function<void(const std::string&)> sink_;
};

// The host's macro recorder.
extern MacroRecorder* macroRecorder;
