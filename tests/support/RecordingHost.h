#pragma once

#include <string>
#include <vector>

#include "host/Host.h"

namespace tarvex::testing {

// Records what the core shows; a message box is answered with its first button.
class RecordingHost : public Host {
  public:
    struct Message {
        MessageKind kind;
        std::string text;
        MessageButtons buttons;
    };

    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override {
        messages.push_back({kind, text, buttons});
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes
               : buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                : MessageAnswer::Cancel;
    }
    void SetProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void SetProgressPosition(int position) override { progressPositions.push_back(position); }
    void SetEpromTypeText(const std::string& text) override { epromTypeText = text; }
    void SetCaption(const std::string& text) override { captions.push_back(text); }
    void SetLastResult(Lamp lamp) override { lastResult = lamp; }
    void SetMainWindowEnabled(bool enabled) override { windowEnabled.push_back(enabled); }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& message : messages) {
            texts.push_back(message.text);
        }
        return texts;
    }

    std::vector<Message> messages;
    std::vector<std::string> captions;
    std::vector<int> progressPositions;
    int progressMaximum = -1;
    std::string epromTypeText;
    Lamp lastResult = Lamp::ButtonFace;
    std::vector<bool> windowEnabled;
};

}  // namespace tarvex::testing
