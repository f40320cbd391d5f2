// The renderer's failures that come from its input (scene files, meshes, point files, plug-in
// folders, output paths): the message names the file, the place in it and what was expected.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velquin::renderer {

class BadInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Loading stopped because the user asked (Ctrl-C, SIGTERM); nothing is wrong with the input.
class Interrupted : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `text` with its control characters (and DEL) written as \n, \t or \u00XX, so that a string
// taken from a file cannot move the cursor or clear the terminal it is printed on. With
// `keepNewlines`, line ends stay: for messages that are several lines on purpose.
inline std::string printable(std::string_view text, bool keepNewlines = false) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            out += ch;
        } else if (c == '\n') {
            out += keepNewlines ? "\n" : "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", c);
            out += esc;
        }
    }
    return out;
}

} // namespace velquin::renderer
