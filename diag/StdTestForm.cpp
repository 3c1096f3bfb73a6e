#include "diag/StdTestForm.h"

namespace tarvex {

// No caption buttons: the test ends through its own Stop button.
TStdTest::TStdTest(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("StdTest"));
    setWindowTitle(QStringLiteral("         Tarvex memory test"));
    setFixedSize(kClientWidth, kClientHeight);
}

}  // namespace tarvex
