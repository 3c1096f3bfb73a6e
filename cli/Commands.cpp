#include "cli/Commands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/JsonEvents.h"
#include "cli/Signals.h"
#include "cli/TerminalHost.h"
#include "cli/commands/Commands.h"
#include "host/Version.h"
#include "image/SafeOutputFile.h"
#include "link/PortBackends.h"

namespace tarvex::cli {

int Main(const std::vector<std::string>& args) {
    return Main(args, [](const char* io) { return CreatePortAccess(io); });
}

int Main(const std::vector<std::string>& args, const PortFactory& makePort) {
    const auto began = std::chrono::steady_clock::now();
    // Looked for before parsing, so that a wrong command line ends in a result event too.
    JsonEvents output;
    JsonEvents* const events =
        std::find(args.begin(), args.end(), "--json") != args.end() ? &output : nullptr;
    std::string command;
    std::uint64_t bytes = 0;
    StartRunClock();
    const auto result = [&](int status) {
        if (!events) {
            return status;
        }
        // From here on the normal path writes the result, and the exit status is the one it
        // reports: a signal now would end the process with another one.
        DisarmSignalResult();
        events->Result(
            command, status,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), bytes);
        // Events that could not be written fail a run that did not fail otherwise, as the
        // text would without --json; a reader gone early ends it as SIGPIPE would.
        if (events->Failed() && status == kExitSuccess) {
            return events->WriteErrno() == EPIPE ? kExitSignal + kBrokenPipeSignal
                                                 : static_cast<int>(kExitFileError);
        }
        return status;
    };
    Invocation invocation;
    try {
        invocation = ParseCommandLine(args);
    } catch (const UsageError& error) {
        const std::string name = error.Command().empty() ? "" : " " + error.Command();
        std::fprintf(stderr, "tarvex: %s\nTry 'tarvex%s --help' for more information.\n",
                     PrintableName(error.what()).c_str(), name.c_str());
        if (events) {
            events->Error(PrintableName(error.what()));
        }
        command = error.Command();
        return result(kExitUsage);
    }
    if (invocation.help) {
        std::fputs(invocation.help->c_str(), stdout);
        return kExitSuccess;
    }
    if (invocation.version) {
        std::printf("tarvex %s\n", TARVEX_VERSION);
        return kExitSuccess;
    }
    InstallSignalHandlers();
    command = invocation.command;
    if (command == "write" || command == "read" || command == "verify") {
        bytes = std::uint64_t{invocation.end} - invocation.start + 1;
    }
    if (events) {
        PrepareSignalResult(command, bytes);
    }
    TerminalHost host(TerminalHost::ModeFor(invocation.quiet));
    host.SetEvents(events);
    return result(FindCommand(command)->run(invocation, host, makePort, bytes));
}

}  // namespace tarvex::cli
