#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Signals.h"
#include "cli/TerminalHost.h"
#include "host/Host.h"
#include "image/HexText.h"
#include "image/ImageModel.h"
#include "image/SafeOutputFile.h"
#include "link/Emulator.h"
#include "link/IoPort.h"

namespace tarvex::cli {

inline std::string Count(std::uint64_t count, const char* thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

inline constexpr std::size_t kListedDifferences = 16;

inline std::string PortText(std::uint16_t base) {
    return "0x" + HexWord(base);
}

// The lines of a message text ('\r' between them), without empty ones.
std::vector<std::string> SplitLines(const std::string& text);

// The loader's and the writer's messages do not name the file; on a command line they must.
class AboutFile final : public Host {
  public:
    AboutFile(Host& host, const std::string& file) : host_(host), prefix_(file + ": ") {}

    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override {
        return host_.ShowMessage(kind, prefix_ + text, buttons);
    }

  private:
    Host& host_;
    std::string prefix_;
};

// The transfers, as Toolkit::Transfer runs them.
bool RunWrite(EmulatorLink& link, std::uint32_t first, std::uint32_t last);
bool RunRead(EmulatorLink& link, std::uint32_t first, std::uint32_t last);
bool RunVerify(EmulatorLink& link, std::uint32_t first, std::uint32_t last);

// What every command that touches the port does, and knows no command: opening the port and
// finding the emulator, loading and saving an image, transfers with the dead-link check, RESET
// and the summary line, failures with their exit-status class and events. A command derives
// from it, runs its steps in Work() and keeps what only it needs.
class Toolkit {
  public:
    Toolkit(const Invocation& invocation, TerminalHost& host, const PortFactory& makePort)
        : invocation_(invocation),
          host_(host),
          makePort_(makePort),
          began_(std::chrono::steady_clock::now()) {}
    virtual ~Toolkit() = default;
    Toolkit(const Toolkit&) = delete;
    Toolkit& operator=(const Toolkit&) = delete;

    // The exit status; the port is closed (and its problems said) whatever happened.
    int Run() { return Finish(Work()); }

  protected:
    virtual int Work() = 0;

    // Runs the steps in order up to the first that fails, or up to a stop signal.
    template <typename Command>
    int Steps(std::initializer_list<int (Command::*)()> steps) {
        for (const auto step : steps) {
            const int status = (static_cast<Command*>(this)->*step)();
            if (Stopped()) {
                return Interrupt(port_ && port_->Opened() ? "the target is held in RESET"
                                                          : "nothing was changed");
            }
            if (status != kExitSuccess) {
                return status;
            }
        }
        return kExitSuccess;
    }

    int CheckTrace();
    int PrepareOutput();
    int OpenPort();
    int FindEmulator();
    std::string Diagnose(std::uint16_t base);
    int LoadImage();
    // `option` names the option that sets this file's format, for messages.
    int LoadFile(const std::string& file, std::uint8_t fileType, FormatFrom formatFrom,
                 const char* option, std::unique_ptr<ImageModel>& into);
    bool WriterAccepts() const;
    int SaveImage();
    void SelectType();
    bool Transfer(const char* label, bool (*run)(EmulatorLink&, std::uint32_t, std::uint32_t));
    int StillAnswers(const char* during);
    int ReportMismatch();
    void HoldReset();
    bool WaitUnlessStopped(std::uint32_t ms);
    bool ResetFeedbackIs(bool held);
    bool WasRunningBefore() const;
    bool LeaveRunning() const;
    void LeaveReset();
    std::string LeftState() const;
    int Finish(int status);

    int Fail(int status, const std::string& message);
    int Interrupt(const std::string& state);
    void Say(const std::string& text);
    std::string Elapsed() const;
    std::uint32_t Size() const { return invocation_.end - invocation_.start + 1; }
    std::string TypeName() const { return std::to_string(invocation_.type); }
    std::string Where() const { return PortText(link_->PortAddress()); }
    std::string File() const { return PrintableName(invocation_.file); }

    const Invocation& invocation_;
    TerminalHost& host_;
    const PortFactory& makePort_;
    std::chrono::steady_clock::time_point began_;
    std::unique_ptr<ImageModel> model_ = std::make_unique<ImageModel>();
    std::unique_ptr<ImageModel> image_;  // the file, kept to compare with what was read back
    std::unique_ptr<TIoPort> port_;
    std::unique_ptr<EmulatorLink> link_;
    SafeOutputFile output_;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> controlBefore_;
    std::set<std::string> said_;  // files whose first line has been said what it made of them
};

// A command's run, for its CommandSpec: its Toolkit over the invocation.
template <typename Command>
int RunCommand(const Invocation& invocation, TerminalHost& host, const PortFactory& makePort,
               std::uint64_t& /*bytes*/) {
    return Command(invocation, host, makePort).Run();
}

}  // namespace tarvex::cli
