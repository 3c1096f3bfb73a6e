#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "link/Host.h"

namespace tarvex::testing {

// Records what the core shows; message boxes are answered from a queue (default: the
// box's first button).
class RecordingHost : public Host {
  public:
    struct Message {
        MessageKind kind;
        std::string text;
        MessageButtons buttons;
    };

    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override {
        std::lock_guard lock(mutex);
        messages.push_back({kind, text, buttons});
        if (!answers.empty()) {
            const MessageAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes
               : buttons == MessageButtons::Ok  ? MessageAnswer::Ok
                                                : MessageAnswer::Cancel;
    }
    void ProcessEvents() override {
        std::lock_guard lock(mutex);
        ++eventPasses;
    }
    void SetProgressMaximum(int maximum) override {
        std::lock_guard lock(mutex);
        progressMaximum = maximum;
    }
    void SetProgressPosition(int position) override {
        std::lock_guard lock(mutex);
        progressPositions.push_back(position);
    }
    void SetEpromTypeText(const std::string& text) override {
        std::lock_guard lock(mutex);
        epromTypeText = text;
    }
    void SetCaption(const std::string& text) override {
        std::lock_guard lock(mutex);
        captions.push_back(text);
    }
    void SetPortSelectText(const std::string& text) override {
        std::lock_guard lock(mutex);
        portSelectText = text;
    }
    void SetInFileText(const std::string& text) override {
        std::lock_guard lock(mutex);
        inFileText = text;
    }
    void SetLastResult(Lamp lamp) override {
        std::lock_guard lock(mutex);
        lastResult = lamp;
    }
    void SetMainWindowEnabled(bool enabled) override {
        std::lock_guard lock(mutex);
        windowEnabled.push_back(enabled);
    }

    // Message texts only, in order.
    std::vector<std::string> Texts() {
        std::lock_guard lock(mutex);
        std::vector<std::string> texts;
        for (const auto& message : messages) {
            texts.push_back(message.text);
        }
        return texts;
    }

    std::mutex mutex;
    std::vector<Message> messages;
    std::deque<MessageAnswer> answers;
    int eventPasses = 0;
    int progressMaximum = -1;
    std::vector<int> progressPositions;
    std::string epromTypeText;
    std::vector<std::string> captions;
    std::string portSelectText;
    std::string inFileText;
    Lamp lastResult = Lamp::ButtonFace;
    std::vector<bool> windowEnabled;
};

}  // namespace tarvex::testing
