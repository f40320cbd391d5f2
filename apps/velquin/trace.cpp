// `velquin trace FILE`: intersects rays with a compiled frame given directly and prints one JSON
// line per ray. The intersection itself is traceRays (trace_run.cpp).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "apps/velquin/commands.h"
#include "apps/velquin/trace_input.h"
#include "apps/velquin/trace_output.h"
#include "apps/velquin/trace_run.h"

namespace velquin {
namespace {

// The whole input, from a file or, for "-", from standard input.
std::string readInput(const std::string& file, const std::string& shownName) {
    if (file == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        if (std::cin.bad())
            throw InputError(shownName + ": cannot read standard input");
        return std::move(text).str();
    }
    // A folder opens as a stream but fails on the first read with an exception of the stream
    // library, which would pass for an internal failure.
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        throw InputError(shownName + ": cannot read: it is a folder, not a file");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw InputError(shownName + ": cannot open: " + std::strerror(errno));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw InputError(shownName + ": cannot read: " + std::strerror(errno));
    return text;
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
