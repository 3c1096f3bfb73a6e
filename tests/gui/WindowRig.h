#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/IndicatorLamp.h"
#include "app/MainForm.h"
#include "link/PortBackends.h"
#include "sim/SimBackend.h"

namespace tarvex::testing {

// The main window on the port access that TARVEX_IO=`io` would give, with the simulated
// bus at hand when there is one.
struct WindowRig {
    explicit WindowRig(const char* io, std::vector<std::string> arguments = {}) {
        auto port = CreatePortAccess(io);
        if (auto* simulated = dynamic_cast<sim::SimBackend*>(port->Backend())) {
            bus = simulated->SharedBus();
        }
        main = std::make_unique<TMain>(std::move(port), std::move(arguments));
    }

    template <typename Widget>
    Widget* Find(const char* name) const {
        return main->findChild<Widget*>(QString::fromLatin1(name));
    }
    IndicatorLamp* Lamp(const char* name) const { return Find<IndicatorLamp>(name); }
    QString ComboText(const char* name) const { return Find<QComboBox>(name)->currentText(); }

    // Starts a fresh trace of the bus.
    void Trace() {
        bus->SetTracing(true);
        bus->TakeTrace();
    }
    // The writes since the last call, as trace lines ("W 037A 0C").
    std::vector<std::string> Writes() {
        std::vector<std::string> lines;
        for (const auto& access : bus->TakeTrace()) {
            if (access.write) {
                lines.push_back(sim::FormatAccess(access));
            }
        }
        return lines;
    }

    std::shared_ptr<sim::SimBus> bus;
    std::unique_ptr<TMain> main;
};

// What a message box showed.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool linesWhole = false;  // every line fits the box's width: none wrapped or cut
};

// Answers the modal message boxes that come up, in order, by clicking the button with the
// given text. Polls, because a box may come up inside any event loop.
class BoxAnswerer : public QObject {
  public:
    explicit BoxAnswerer(QStringList answers) : answers_(std::move(answers)) {
        connect(&poll_, &QTimer::timeout, this, &BoxAnswerer::Look);
        poll_.start(5);
    }

    QList<SeenBox> seen;

  private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == last_ || !box->isVisible()) {
            return;
        }
        last_ = box;
        SeenBox record{box->windowTitle(), box->text(), box->icon(), {}};
        for (QAbstractButton* button : box->buttons()) {
            record.buttons << button->text();
        }
        if (const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            const QStringList lines = box->text().split(QLatin1Char('\n'));
            // A wrapped line would make the label a line taller than the text has lines.
            record.linesWhole =
                label->height() < (lines.size() + 1) * label->fontMetrics().lineSpacing() &&
                std::all_of(lines.begin(), lines.end(), [label](const QString& line) {
                    return label->fontMetrics().horizontalAdvance(line) <= label->width();
                });
        }
        seen << record;
        const QString answer = answers_.isEmpty() ? QString() : answers_.takeFirst();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == answer || answer.isEmpty()) {
                button->click();
                return;
            }
        }
        box->reject();
    }

    QStringList answers_;
    QTimer poll_;
    QPointer<QMessageBox> last_;
};

// The text of a box as the core wrote it, with its line breaks as the box shows them.
inline QString Shown(const char* text) {
    return QString::fromLatin1(text).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

}  // namespace tarvex::testing
