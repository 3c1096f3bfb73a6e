#include "link/Host.h"

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

}  // namespace tarvex
