#pragma once

#include <cstdint>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"

namespace tarvex::cli {

struct CommandLineParts;

// One command of tarvex, in a file of its own: it declares its subcommand (options, help,
// validators only it uses), checks what single options cannot, and runs. `bytes` is the
// size the result event reports, for a command that knows it only as it runs.
struct CommandSpec {
    const char* name;
    void (*declare)(CommandLineParts& parts);
    void (*check)(CommandLineParts& parts);
    int (*run)(const Invocation& invocation, TerminalHost& host, const PortFactory& makePort,
               std::uint64_t& bytes);
};

// The commands in the order of the help, as the registry lists them.
const std::vector<CommandSpec>& Registry();
const CommandSpec* FindCommand(const std::string& name);

}  // namespace tarvex::cli
