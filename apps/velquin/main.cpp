// The `velquin` program. Every subcommand registers itself from its own file (commands.h); main
// parses the command line, runs the chosen subcommand and turns failures into exit codes.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "apps/velquin/commands.h"
#include "renderer/Errors.h"

namespace velquin {
namespace {

std::function<int()>& chosenAction() {
    static std::function<int()> action;
    return action;
}

} // namespace

void setCommandAction(CLI::App* sub, std::function<int()> action) {
    // CLI11 runs a subcommand's callback once the line has parsed; remember the action and run
    // it from main, outside the parser.
    sub->callback([action = std::move(action)] { chosenAction() = action; });
}

} // namespace velquin

namespace {

// Memory can run out before main, in the libraries' and this program's static set-up, where no
// handler can catch it: the program would abort. Said as any other shortage of memory.
[[noreturn]] void onTerminate() {
    if (std::exception_ptr e = std::current_exception()) {
        try {
            std::rethrow_exception(e);
        } catch (const std::bad_alloc&) {
            static const char text[] = "velquin: out of memory while starting the program\n";
            ssize_t r = ::write(2, text, sizeof text - 1);
            (void)r;
            ::_exit(velquin::kExitInternalFailure);
        } catch (...) {
        }
    }
    std::abort();
}

// Before any other static set-up of the program (101 is the first priority not reserved).
__attribute__((constructor(101))) void installTerminateHandler() {
    std::set_terminate(onTerminate);
}

// Every command's results go to standard output: a write that failed there (a full disk, a
// closed pipe) fails the command, whatever it returned.
int checkedOutput(const std::string& name, int code) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return code;
    const int err = errno;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", name.c_str(),
                 err != 0 ? std::strerror(err) : "write error");
    return code == velquin::kExitSuccess ? velquin::kExitInternalFailure : code;
}

} // namespace

int main(int argc, char** argv) {
    using namespace velquin;
    // A file-size limit (ulimit -f) would end the program at the write that passes it, leaving
    // the temporary image behind: ignored, the write fails with EFBIG and is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{"velquin: metaball surfaces, traced and rendered"};
    app.name("velquin");
    app.require_subcommand(1);
    addTraceCommand(app);
#ifndef VELQUIN_NO_RENDERER
    addRenderCommand(app);
#endif
    addInfoCommand(app);
    addParamsCommand(app);
    addUiCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e); // prints the message and a hint
        return kExitBadUsage;
    }

    // Messages start with the command, e.g. "velquin trace: in.json: rays[3].tmax: ...".
    std::string name = "velquin";
    if (!app.get_subcommands().empty())
        name += " " + app.get_subcommands().front()->get_name();
    using velquin::renderer::printable;
    int code = kExitBadUsage;
    try {
        if (chosenAction())
            code = chosenAction()();
    } catch (const InputError& e) {
        // Names and values come from the input: no control character reaches the terminal.
        std::fprintf(stderr, "%s: %s\n", name.c_str(), printable(e.what(), true).c_str());
        code = kExitBadInput;
    } catch (const std::bad_alloc&) {
        // Exit 3 like any failure that is not the input's fault; the input may well be fine
        // on a machine with more memory.
        std::fprintf(stderr, "%s: out of memory while running the command\n", name.c_str());
        code = kExitInternalFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: internal failure: %s\n", name.c_str(),
                     printable(e.what(), true).c_str());
        code = kExitInternalFailure;
    }
    return checkedOutput(name, code);
}
