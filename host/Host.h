#pragma once

#include <string>

namespace tarvex {

enum class MessageKind { Error, Information, Confirm, Warning };
enum class MessageButtons { Ok, Cancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };
enum class Lamp { ButtonFace, Red, Green, Yellow };

// Caption of a message box of the given kind: "Error", "Information", "Confirm", "Warning".
const char* MessageCaption(MessageKind kind);

// A message text as it shows: each '\r' becomes `lineBreak` and "&&" a single '&'.
std::string DisplayText(const std::string& text, const std::string& lineBreak = "\n");

// The only way the core reaches the user interface. Texts use '\r' as the line break
// and "&&" for a shown '&'; front ends translate both. Every call may come from the
// batch worker thread; the window front end carries it over to its own thread.
class Host {
  public:
    virtual ~Host() = default;

    // Let pending window messages through (called once per 256 bytes in transfers and
    // while Delay waits).
    virtual void ProcessEvents() {}

    // The progress bar of long transfers.
    virtual void SetProgressMaximum(int /*maximum*/) {}
    virtual void SetProgressPosition(int /*position*/) {}

    // The EpromType combo box text set by a type selection.
    virtual void SetEpromTypeText(const std::string& /*text*/) {}

    // A modal message box; returns the button that closed it.
    virtual MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                                      MessageButtons buttons) = 0;
    // A modal message box with "&Yes", "&No" and "Cancel", for a question with two ways
    // forward. A host that cannot ask answers Cancel, so nothing is done on its behalf.
    virtual MessageAnswer AskYesNoCancel(MessageKind /*kind*/, const std::string& /*text*/) {
        return MessageAnswer::Cancel;
    }

    // What the batch run changes in the main window.
    virtual void SetCaption(const std::string& /*caption*/) {}
    virtual void SetPortSelectText(const std::string& /*text*/) {}
    virtual void SetInFileText(const std::string& /*text*/) {}
    virtual void SetLastResult(Lamp /*lamp*/) {}
    virtual void SetMainWindowEnabled(bool /*enabled*/) {}
    virtual void Repaint() {}
};

// A host that shows nothing: for benchmarks and for code paths that must stay silent.
class SilentHost : public Host {
  public:
    MessageAnswer ShowMessage(MessageKind, const std::string&, MessageButtons buttons) override {
        return buttons == MessageButtons::YesNo ? MessageAnswer::No
               : buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                : MessageAnswer::Cancel;
    }
};

}  // namespace tarvex
