#pragma once

#include <string>

#include "host/Host.h"

class QWidget;

namespace tarvex {

// A modal message box of the program's four kinds, with its caption, icon and buttons.
// `text` uses '\r' for line breaks and "&&" for '&'. Blocks until the box is closed.
MessageAnswer ShowMessageBox(QWidget* parent, MessageKind kind, const std::string& text,
                             MessageButtons buttons);
// The same box with "&Yes" (the default), "&No" and "Cancel"; closing it answers Cancel.
MessageAnswer ShowYesNoCancelBox(QWidget* parent, MessageKind kind, const std::string& text);

}  // namespace tarvex
