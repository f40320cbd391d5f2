// The `velquin` program. Every subcommand registers itself from its own file (commands.h); main
// parses the command line, runs the chosen subcommand and turns failures into exit codes.
#include <cstdio>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "apps/velquin/commands.h"

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

int main(int argc, char** argv) {
    using namespace velquin;
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
