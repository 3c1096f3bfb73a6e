#include "host/Host.h"

namespace tarvex {

const char* MessageCaption(MessageKind kind) {
    switch (kind) {
        case MessageKind::Error:
            return "Error";
        case MessageKind::Information:
            return "Information";
        case MessageKind::Confirm:
            return "Confirm";
        case MessageKind::Warning:
            return "Warning";
    }
    return "Error";
}

std::string DisplayText(const std::string& text, const std::string& lineBreak) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            shown += lineBreak;
        } else if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '&') {
            shown += '&';
            ++i;
        } else {
            shown += text[i];
        }
    }
    return shown;
}

}  // namespace tarvex
