// Reading a text input (a scene, a trace input) whole, under a size cap: a regular file, a pipe,
// or standard input. A folder or a device (/dev/zero, a terminal) is refused before reading, a
// regular file over the cap before reading too, and a stream as soon as it passes the cap, so
// that no input can exhaust memory. Header only: the trace tool uses it without the renderer.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace velquin::renderer {

struct TextInput {
    enum Problem { kRead, kNotAFile, kCannotOpen, kTooBig, kCannotRead, kStopped };
    Problem problem = kRead;
    int error = 0;           // errno of kCannotOpen and kCannotRead
    std::uintmax_t size = 0; // of a regular file found too big
    std::string text;
};

// `path` "-" reads standard input. `stop`, when set during the read, ends it with kStopped.
inline TextInput readTextInput(const std::string& path, std::uintmax_t cap,
                               const std::atomic<bool>* stop = nullptr) {
    TextInput r;
    auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    FILE* fp = stdin;
    if (path != "-") {
        std::error_code ec;
        const auto st = std::filesystem::status(path, ec);
        if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st) &&
            !std::filesystem::is_fifo(st)) {
            r.problem = TextInput::kNotAFile;
            return r;
        }
        if (std::filesystem::is_regular_file(st)) {
            r.size = std::filesystem::file_size(path, ec);
            if (!ec && r.size > cap) {
                r.problem = TextInput::kTooBig;
                return r;
            }
        }
        // A pipe without a writer blocks the open until a signal interrupts it.
        fp = std::fopen(path.c_str(), "rb");
        if (!fp) {
            r.error = errno;
            r.problem = stopped() ? TextInput::kStopped : TextInput::kCannotOpen;
            return r;
        }
    }
    char chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, fp);
        r.text.append(chunk, n);
        if (r.text.size() > cap) {
            r.problem = TextInput::kTooBig;
            break;
        }
        if (stopped()) {
            r.problem = TextInput::kStopped;
            break;
        }
        if (n < sizeof chunk) {
            if (std::ferror(fp)) {
                r.error = errno;
                r.problem = TextInput::kCannotRead;
            }
            break;
        }
    }
    if (fp != stdin)
        std::fclose(fp);
    if (r.problem != TextInput::kRead)
        std::string().swap(r.text);
    return r;
}

} // namespace velquin::renderer
