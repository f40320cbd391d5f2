// The `velquin` program's subcommands. Each lives in its own file and registers itself on the
// top-level CLI11 application through an add...Command function called from main.
#pragma once

#include <functional>
#include <stdexcept>

#include <CLI/CLI.hpp>

namespace velquin {

// Exit codes of every command.
enum ExitCode : int {
    kExitSuccess = 0,
    kExitBadInput = 1,
    kExitBadUsage = 2,
    kExitInternalFailure = 3,
};

// Thrown by a command when its input (a file, a value in it) is unusable. what() is the whole
// message after the program name: it names the file, the JSON path or line, and what was expected.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Makes `action` the work of subcommand `sub`. Actions run after the whole command line has been
// parsed, so a usage error anywhere on the line stops the program before any work starts. An
// action returns an ExitCode; it may throw InputError (exit 1) or anything else (exit 3).
void setCommandAction(CLI::App* sub, std::function<int()> action);

void addTraceCommand(CLI::App& app);
void addRenderCommand(CLI::App& app);
void addInfoCommand(CLI::App& app);
void addParamsCommand(CLI::App& app);
void addUiCommand(CLI::App& app);

} // namespace velquin
