#pragma once

#include <sys/stat.h>

#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <functional>
#include <iterator>

#include "app/IndicatorLamp.h"
#include "app/MainForm.h"
#include "diag/ExtTestForm.h"
#include "diag/StdTestForm.h"
#include "link/PortBackends.h"
#include "port/SimBackend.h"
#include "view/OptionsForm.h"

Q_DECLARE_METATYPE(tarvex::Lamp)

namespace tarvex::testing {

// Directories of our own: the instance lock of another Tarvex32, and the file dialog history
// that every Qt program shares (and locks), must not reach in here.
inline bool UseOwnDirectories() {
    static QTemporaryDir directory;
    qputenv("XDG_RUNTIME_DIR", directory.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", directory.path().toLocal8Bit());
    return directory.isValid();
}

// The main window on the port access TARVEX_IO=`io` gives, with the simulated bus at hand.
struct WindowRig {
    explicit WindowRig(const QString& io, const QStringList& arguments = {}) {
        auto port = CreatePortAccess(io.toLatin1().constData());
        if (auto* simulated = dynamic_cast<sim::SimBackend*>(port->Backend())) {
            bus = simulated->SharedBus();
        }
        std::vector<std::string> list(arguments.size());
        std::ranges::transform(arguments, list.begin(), &QString::toStdString);
        main = std::make_unique<TMain>(std::move(port), std::move(list));
        options = std::make_unique<TOptions>(main->Model());
        main->AttachOptions(options.get());
    }

    template <typename Widget = QWidget>
    Widget* Find(const QString& name) const {
        return main->findChild<Widget*>(name);
    }
    void Click(const QString& name) const { Find<QAbstractButton>(name)->click(); }
    Lamp LampState(const QString& name) const { return Find<IndicatorLamp>(name)->State(); }
    QString ComboText(const QString& name) const { return Find<QComboBox>(name)->currentText(); }
    bool TargetInReset() const {
        return bus->WithDevice(main->Link().PortAddress(),
                               [](auto* device) { return device->TargetInReset(); });
    }

    // Starts a fresh trace of the bus.
    void Trace() {
        bus->SetTracing(true);
        bus->TakeTrace();
    }
    // The writes since the last call, as trace lines ("W 037A 0C").
    QStringList Writes() {
        QStringList lines;
        for (const auto& access : bus->TakeTrace()) {
            if (access.write) {
                lines << QString::fromStdString(sim::FormatAccess(access));
            }
        }
        return lines;
    }

    std::shared_ptr<sim::SimBus> bus;
    std::unique_ptr<TMain> main;
    std::unique_ptr<TOptions> options;  // made after the main window, gone before it
};

inline void ClickIn(QWidget* window, const char* name) {
    window->findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
}

// Makes the file `name` anew: a FIFO for "(pipe)", else a file of `contents`.
inline void WriteFile(const QString& name, const QByteArray& contents) {
    QFile::remove(name);
    if (contents == "(pipe)") {
        QVERIFY(::mkfifo(QFile::encodeName(name).constData(), 0600) == 0);
        return;
    }
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

using DialogAction = std::function<void(QFileDialog&)>;

// Records the modal boxes ("Title: text [Buttons]") and file dialogs ("<name>: <filter>") that
// come up inside any event loop. A box gets the next answer (else its first button; "(closed)"
// closes it as its title bar would), a dialog the next action (else it is cancelled).
class Modals : public QObject {
  public:
    explicit Modals(QStringList answers = {}, QList<DialogAction> actions = {})
        : answers_(std::move(answers)), actions_(std::move(actions)) {
        Poll();
    }

    QStringList boxes;
    QStringList dialogs;

  private:
    void Poll() {
        QTimer::singleShot(5, this, [this] {
            Poll();  // first, to see what comes up inside an action too
            auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!modal || modal == current_ || !modal->isVisible()) {
                return;
            }
            current_ = modal;
            connect(
                modal, &QDialog::finished, this, [this] { current_ = nullptr; },
                Qt::SingleShotConnection);
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                dialogs << dialog->objectName() + ": " + dialog->selectedNameFilter();
                actions_.isEmpty() ? dialog->reject() : actions_.takeFirst()(*dialog);
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                QStringList texts;
                std::ranges::transform(box->buttons(), std::back_inserter(texts),
                                       &QAbstractButton::text);
                boxes << box->windowTitle() + ": " + box->text() + " [" + texts.join(',') + ']';
                const QString answer = answers_.isEmpty() ? texts[0] : answers_.takeFirst();
                answer == QLatin1String("(closed)")
                    ? void(box->close())
                    : box->buttons().value(std::max(0, int(texts.indexOf(answer))))->click();
            }
        });
    }

    QStringList answers_;
    QList<DialogAction> actions_;
    QPointer<QDialog> current_;
};

template <typename T>
T Row(const char* column) {
    return *static_cast<T*>(QTest::qData(column, qMetaTypeId<T>()));
}

// A table of structs, each with a `name`, as a test function's data: one named row a struct.
template <typename Table>
void AddRows(const Table& table) {
    QTest::addColumn<int>("row");
    int index = 0;
    for (const auto& row : table) {
        QTest::newRow(row.name) << index++;
    }
}
template <typename Table>
const auto& TheRow(const Table& table) {
    return *(std::begin(table) + Row<int>("row"));
}

}  // namespace tarvex::testing
