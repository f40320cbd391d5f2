// `velquin trace FILE`: intersects rays with a compiled frame given directly and prints one JSON
// line per ray. The intersection itself is traceRays (trace_run.cpp).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "apps/velquin/commands.h"
#include "apps/velquin/trace_input.h"
#include "apps/velquin/trace_output.h"
#include "apps/velquin/trace_run.h"
#include "renderer/TextInput.h"

namespace velquin {
namespace {

// The whole input, from a file or, for "-", from standard input, under the scene files' rules:
// a regular file or a pipe, at most 256 MiB.
std::string readInput(const std::string& file, const std::string& shownName) {
    using renderer::TextInput;
    TextInput in = renderer::readTextInput(file, std::uintmax_t{256} << 20);
    switch (in.problem) {
    case TextInput::kRead:
    case TextInput::kStopped:
        break;
    case TextInput::kNotAFile:
        throw InputError(shownName + (std::filesystem::is_directory(file)
                                          ? ": cannot read: it is a folder, not a file"
                                          : ": cannot read: not a regular file"));
    case TextInput::kCannotOpen:
        throw InputError(shownName + ": cannot open: " + std::strerror(in.error));
    case TextInput::kTooBig:
        throw InputError(shownName + ": the input is larger than 256 MiB");
    case TextInput::kCannotRead:
        throw InputError(shownName + ": cannot read: " + std::strerror(in.error));
    }
    return std::move(in.text);
}

int runTrace(const std::string& file) {
    const std::string shownName = file == "-" ? "<stdin>" : file;
    const std::string text = readInput(file, shownName);
    TraceInput input;
    try {
        input = parseTraceInput(text);
    } catch (const TraceInputError& e) {
        throw InputError(shownName + ": " + e.what());
    }

    const std::vector<TraceResult> results = traceRays(input);
    if (results.size() != input.rays.size())
        throw std::logic_error("traceRays gave " + std::to_string(results.size()) +
                               " results for " + std::to_string(input.rays.size()) + " rays");

    std::string out;
    out.reserve(results.size() * 128);
    for (const TraceResult& r : results)
        appendTraceResult(out, r);
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "velquin trace: cannot write the output: %s\n", std::strerror(errno));
        return kExitInternalFailure;
    }
    return kExitSuccess;
}

} // namespace

void addTraceCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand(
        "trace", "Intersect rays with a frame of metaballs given in a JSON file; one JSON line "
                 "per ray on standard output");
    auto file = std::make_shared<std::string>();
    sub->add_option("FILE", *file, "Input JSON file, or - for standard input")->required();
    setCommandAction(sub, [file] { return runTrace(*file); });
}

} // namespace velquin
