// The window driven from a worker thread: Host calls, and the batch run end to end.
#include <atomic>
#include <thread>

#include "WindowRig.h"
#include "batch/BatchRun.h"

using tarvex::Lamp;
using namespace tarvex::testing;

namespace {

const QStringList kSteps{"   Reading file ...", "   Writing data to emulator ...",
                         "   Verifying data ..."};
constexpr Lamp kNone = Lamp::ButtonFace;  // the lamp as it was
const QString kOk =
    "Information: " + QString::fromStdString(tarvex::DisplayText(tarvex::BatchRun::kSuccessText)) +
    " [OK]";
// The captions of a run that got through: the image's size and the RESET time.
QStringList Ran(const QString& bytes, const QString& seconds) {
    return kSteps +
           QStringList{"   " + bytes + " bytes OK ...", "   RESET time left: " + seconds + 's'};
}
struct BatchRunRow {
    const char* name;
    QString io;
    QStringList arguments;  // "@": the image file
    QStringList captions;   // the first ones
    QString box;
    Lamp lamp;
} const kBatchRun[] = {
    // The arguments' checks are the batch run's own (its unit test); here the window's part.
    // clang-format off
    {"file and type", "sim", {"@", "27010"}, Ran("131072", "1.0"), kOk, Lamp::Green},
    {"port D010, reset time 0", "sim:0xD010", {"@", "27512", "0xD010", "0"}, Ran("65536", "0.0"), kOk, Lamp::Green},
    {"missing file", "sim", {"missing.bin", "27010"}, {}, "Error: File not found   \" missing.bin \" [Cancel]", kNone},
    // clang-format on
};

}  // namespace

class ThreadsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(UseOwnDirectories() && files_.isValid());
        QByteArray bytes(0x20000, '\0');
        std::generate(bytes.begin(), bytes.end(), [i = 0]() mutable { return char(i++ * 7 + 3); });
        WriteFile(image_ = files_.filePath(QStringLiteral("image.bin")), bytes);
    }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Each call is carried out on the window's thread while the worker waits for it.
    void hostCallsFromAWorker() {
        WindowRig rig("sim");
        Modals modals({"&No"});
        tarvex::Host& host = *rig.main;  // as the core sees it
        bool enabledMeanwhile = true;
        auto answer = tarvex::MessageAnswer::Ok;
        std::atomic<bool> done{false};
        std::jthread worker([&] {
            host.SetMainWindowEnabled(false);
            enabledMeanwhile = rig.main->isEnabled();
            host.SetLastResult(Lamp::Red);
            answer = host.ShowMessage(tarvex::MessageKind::Confirm, "Go on?",
                                      tarvex::MessageButtons::YesNo);
            host.SetMainWindowEnabled(true);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QVERIFY(!enabledMeanwhile && rig.main->isEnabled());
        QCOMPARE(answer, tarvex::MessageAnswer::No);
        QCOMPARE(modals.boxes, QStringList{"Confirm: Go on? [&Yes,&No]"});
        QCOMPARE(rig.LampState("LastResult"), Lamp::Red);
    }

    void batchRun_data() { AddRows(kBatchRun); }

    // Success: a box, then the timer ends the program. Failure: one box, the window stays usable.
    void batchRun() {
        const auto& row = TheRow(kBatchRun);
        Modals modals;
        WindowRig rig(
            row.io, QStringList(row.arguments).replaceInStrings(QRegularExpression("^@$"), image_));
        QStringList captions;
        connect(rig.main.get(), &QWidget::windowTitleChanged,
                [&](const QString& title) { captions << title; });
        QTRY_VERIFY_WITH_TIMEOUT(!rig.main->BatchRequested && rig.main->isEnabled(), 20000);
        QTRY_COMPARE(modals.boxes, QStringList{row.box});
        QCOMPARE(captions.mid(0, 5), row.captions);
        QCOMPARE(rig.LampState("LastResult"), row.lamp);
        if (row.box.startsWith("Information")) {
            QTRY_VERIFY_WITH_TIMEOUT(rig.main->TerminationRequested(),
                                     3 * tarvex::TMain::kTimerInterval);
            QCOMPARE(captions.mid(captions.size() - 2),
                     (QStringList{"   RESET time left: 0.0s", tarvex::kProgramTitle}));
            QCOMPARE(rig.main->ExitStatus(), 0);
            QVERIFY(!rig.TargetInReset());  // the target runs the new image
            return;
        }
        QTest::qWait(300);  // a few timer ticks do not end it
        QVERIFY(!rig.main->TerminationRequested());
        // The window was disabled before it ever showed; the keyboard reaches it all the same.
        QCOMPARE(rig.main->focusWidget(), rig.Find("ReadFile"));
        rig.Click("TarvexRead");
        QCOMPARE(rig.LampState("LastResult"), Lamp::Green);
        QVERIFY(rig.main->close());
        QCOMPARE(rig.main->ExitStatus(), 1);
    }

  private:
    QTemporaryDir files_;
    QString image_;
};

QTEST_MAIN(ThreadsTest)
#include "threads_test.moc"
