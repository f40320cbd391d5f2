// The `velquin` program. Every subcommand registers itself from its own file (commands.h); main
// parses the command line, runs the chosen subcommand and turns failures into exit codes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "apps/velquin/commands.h"

#if defined(__linux__) && defined(__GLIBC__)
#include <unistd.h>
#endif

namespace velquin {
namespace {

std::function<int()>& chosenAction() {
    static std::function<int()> action;
    return action;
}

// Point arrays, metaball arrays and hierarchies are large, built once and then read at random:
// on 4 KiB pages a million metaballs spent about 40% of their set-up in page faults and TLB
// misses. glibc backs its large blocks with transparent huge pages only when a tunable says so,
// and reads tunables once, at start, so the program sets it and starts itself again. A tunable
// the user gave (glibc.malloc.hugetlb=0 turns this off) is left as it is; a failed restart
// carries on as before.
void restartWithHugePages(char** argv) {
#if defined(__linux__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) &&                  \
    !defined(__SANITIZE_THREAD__)
    const char* kName = "GLIBC_TUNABLES";
    const char* kTunable = "glibc.malloc.hugetlb";
    const char* old = std::getenv(kName);
    if (old != nullptr && std::strstr(old, kTunable) != nullptr)
        return;
    std::string saved = old != nullptr ? old : "";
    std::string value =
        saved.empty() ? std::string(kTunable) + "=1" : saved + ":" + kTunable + "=1";
    if (::setenv(kName, value.c_str(), 1) != 0)
        return;
    ::execv("/proc/self/exe", argv);
    if (old != nullptr)
        ::setenv(kName, saved.c_str(), 1);
    else
        ::unsetenv(kName);
#else
    (void)argv;
#endif
}

} // namespace

void setCommandAction(CLI::App* sub, std::function<int()> action) {
    // CLI11 runs a subcommand's callback once the line has parsed; remember the action and run
    // it from main, outside the parser.
    sub->callback([action = std::move(action)] { chosenAction() = action; });
}

} // namespace velquin

int main(int argc, char** argv) {
    using namespace velquin;
    restartWithHugePages(argv);
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
    try {
        if (!chosenAction())
            return kExitBadUsage;
        return chosenAction()();
    } catch (const InputError& e) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
        return kExitBadInput;
    } catch (const std::bad_alloc&) {
        // Exit 3 like any failure that is not the input's fault; the input may well be fine
        // on a machine with more memory.
        std::fprintf(stderr, "%s: out of memory\n", name.c_str());
        return kExitInternalFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: internal failure: %s\n", name.c_str(), e.what());
        return kExitInternalFailure;
    }
}
