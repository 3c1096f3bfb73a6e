#include "view/MessageBox.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace tarvex {
namespace {

QMessageBox::Icon IconFor(MessageKind kind) {
    switch (kind) {
        case MessageKind::Error:
            return QMessageBox::Critical;
        case MessageKind::Information:
            return QMessageBox::Information;
        case MessageKind::Confirm:
            return QMessageBox::Question;
        case MessageKind::Warning:
            return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

void SetText(QMessageBox& box, const std::string& text) {
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(DisplayText(text)));
    // The texts are laid out line by line, with blanks that line up. The box would wrap
    // lines beyond half the screen's width; a label as wide as the widest line keeps
    // each line whole.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        const bool wraps = label->wordWrap();
        label->setWordWrap(false);
        label->setMinimumWidth(label->sizeHint().width());
        label->setWordWrap(wraps);
    }
}

}  // namespace

MessageAnswer ShowMessageBox(QWidget* parent, MessageKind kind, const std::string& text,
                             MessageButtons buttons) {
    QMessageBox box(IconFor(kind), QString::fromLatin1(MessageCaption(kind)), QString(),
                    QMessageBox::NoButton, parent);
    SetText(box, text);
    QAbstractButton* yes = nullptr;
    switch (buttons) {
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MessageButtons::Cancel:
            box.setStandardButtons(QMessageBox::Cancel);
            break;
        case MessageButtons::YesNo: {
            yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
            QAbstractButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
            box.setDefaultButton(static_cast<QPushButton*>(yes));
            box.setEscapeButton(no);  // closing the box answers "No"
            break;
        }
    }
    box.exec();
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::Cancel:
            return MessageAnswer::Cancel;
        case MessageButtons::YesNo:
            break;
    }
    return box.clickedButton() == yes ? MessageAnswer::Yes : MessageAnswer::No;
}

MessageAnswer ShowYesNoCancelBox(QWidget* parent, MessageKind kind, const std::string& text) {
    QMessageBox box(IconFor(kind), QString::fromLatin1(MessageCaption(kind)), QString(),
                    QMessageBox::NoButton, parent);
    SetText(box, text);
    QAbstractButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QAbstractButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    QAbstractButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(static_cast<QPushButton*>(yes));
    box.setEscapeButton(cancel);  // closing the box answers Cancel
    box.exec();
    const QAbstractButton* clicked = box.clickedButton();
    return clicked == yes  ? MessageAnswer::Yes
           : clicked == no ? MessageAnswer::No
                           : MessageAnswer::Cancel;
}

}  // namespace tarvex
