#include "view/OptionsForm.h"

#include <QGuiApplication>
#include <QScreen>

namespace tarvex {

TOptions::TOptions(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("  Tarvex II Options"));
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

}  // namespace tarvex
