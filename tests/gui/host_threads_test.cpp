// The window as the core's host when the core runs on a worker thread, as the batch run
// does: every call is carried out on the window's thread and returns its result.
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <thread>

#include "WindowRig.h"

using tarvex::Lamp;
using tarvex::MessageAnswer;
using tarvex::MessageButtons;
using tarvex::MessageKind;
using tarvex::testing::BoxAnswerer;
using tarvex::testing::WindowRig;

namespace {

// Runs `work` on a worker thread while this thread keeps the window's events going.
template <typename Work>
bool RunOnWorker(Work work, int timeoutMs = 20000) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const bool finished = done;
    if (!finished) {
        // Let it finish before the objects it uses go away.
        while (!done) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
    worker.join();
    return finished;
}

}  // namespace

class HostThreadsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void windowChangesFromAWorker() {
        WindowRig rig("sim");
        tarvex::Host& host = *rig.main;
        bool enabledInBetween = true;
        QVERIFY(RunOnWorker([&] {
            host.SetMainWindowEnabled(false);
            enabledInBetween = rig.main->isEnabled();
            host.SetCaption("   Writing data to emulator ...");
            host.SetPortSelectText("  0x03BC");
            host.SetInFileText("image.bin");
            host.SetEpromTypeText("   2764");
            host.SetLastResult(Lamp::Red);
            host.SetProgressMaximum(511);
            host.SetProgressPosition(17);
            host.ProcessEvents();  // not the window's thread: nothing to do
            host.Repaint();
            host.SetMainWindowEnabled(true);
        }));
        QVERIFY(!enabledInBetween);
        QVERIFY(rig.main->isEnabled());
        QCOMPARE(rig.main->windowTitle(), QStringLiteral("   Writing data to emulator ..."));
        QCOMPARE(rig.ComboText("PortSelect"), QStringLiteral("  0x03BC"));
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), QStringLiteral("image.bin"));
        QCOMPARE(rig.ComboText("EpromType"), QStringLiteral("   2764"));
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Red);
        QCOMPARE(rig.Find<QProgressBar>("ProgressBar")->maximum(), 511);
        QCOMPARE(rig.Find<QProgressBar>("ProgressBar")->value(), 17);
    }

    void messageBoxFromAWorkerWaitsForTheAnswer() {
        WindowRig rig("sim");
        BoxAnswerer answerer({"&No", "Cancel"});
        MessageAnswer first = MessageAnswer::Ok;
        MessageAnswer second = MessageAnswer::Ok;
        QVERIFY(RunOnWorker([&] {
            first = rig.main->ShowMessage(MessageKind::Confirm, "Go on?", MessageButtons::YesNo);
            second = rig.main->ShowMessage(MessageKind::Error, "Verification error",
                                           MessageButtons::Cancel);
        }));
        QCOMPARE(first, MessageAnswer::No);
        QCOMPARE(second, MessageAnswer::Cancel);
        QCOMPARE(answerer.seen.size(), 2);
        QCOMPARE(answerer.seen.at(1).text, QStringLiteral("Verification error"));
    }

    // A whole transfer on a worker while the window's timer reads the status register.
    void transferOnAWorkerBesideTheTimer() {
        WindowRig rig("sim");
        auto& link = rig.main->Link();
        auto& model = rig.main->Model();
        for (std::size_t i = 0; i <= model.BufferEnd; ++i) {
            model.DataBuffer[i] = static_cast<std::uint8_t>(i ^ (i >> 9));
        }
        bool same = false;
        QVERIFY(RunOnWorker([&] {
            rig.main->SetMainWindowEnabled(false);
            link.WriteEmulator(model.BufferStart, model.BufferEnd, model.EmulatorStart);
            same = link.VerifyEmulator(model.BufferStart, model.BufferEnd, model.EmulatorStart);
            rig.main->SetMainWindowEnabled(true);
        }));
        QVERIFY(same);
        QCOMPARE(rig.Find<QProgressBar>("ProgressBar")->value(), 0);
        QVERIFY(rig.main->isEnabled());
    }

  private:
    QTemporaryDir runtime_;
};

QTEST_MAIN(HostThreadsTest)
#include "host_threads_test.moc"
