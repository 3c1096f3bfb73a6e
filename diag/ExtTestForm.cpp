#include "diag/ExtTestForm.h"

namespace tarvex {

// No caption buttons and no caption yet: the test loop writes its state there.
TExtTest::TExtTest(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("ExtTest"));
    setFixedSize(kClientWidth, kClientHeight);
}

}  // namespace tarvex
