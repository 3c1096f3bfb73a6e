// The window driven from a worker thread: Host calls, and the batch run end to end.
#include <atomic>
#include <thread>

#include "WindowRig.h"
#include "batch/BatchRun.h"

using tarvex::Lamp;
using namespace tarvex::testing;

class ThreadsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(UseOwnDirectories() && files_.isValid());
        QFile file(image_ = files_.filePath(QStringLiteral("image.bin")));
        QByteArray bytes(0x20000, '\0');
        for (int i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 7 + 3);
        }
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
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

    void batchRun_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<QStringList>("arguments");  // "@": the image file
        QTest::addColumn<QStringList>("captions");   // the first ones
        QTest::addColumn<QString>("box");
        QTest::addColumn<Lamp>("lamp");
        const QStringList steps{"   Reading file ...", "   Writing data to emulator ...",
                                "   Verifying data ..."};
        auto ran = [&](const char* size, const char* countdown) {
            return steps + QStringList{size, countdown};
        };
        const QString ok =
            "Information: " +
            QString::fromStdString(tarvex::DisplayText(tarvex::BatchRun::kSuccessText)) + " [OK]";
        const Lamp none = Lamp::ButtonFace;
        QTest::newRow("file and type")
            << "sim" << QStringList{"@", "27010"}
            << ran("   131072 bytes OK ...", "   RESET time left: 1.0s") << ok << Lamp::Green;
        QTest::newRow("with a port")
            << "sim:0x278,0x378" << QStringList{"@", "2764", "$378"}
            << ran("   8192 bytes OK ...", "   RESET time left: 1.0s") << ok << Lamp::Green;
        QTest::newRow("non-standard port, reset time 0")
            << "sim:0xD010" << QStringList{"@", "27512", "0xD010", "0"}
            << ran("   65536 bytes OK ...", "   RESET time left: 0.0s") << ok << Lamp::Green;
        QTest::newRow("type 2816") << "sim" << QStringList{"@", "2816"} << QStringList{}
                                   << "Error: Incorrect EPROM type   \" 2816 \" [Cancel]" << none;
        QTest::newRow("port 12G") << "sim" << QStringList{"@", "27010", "12G"} << QStringList{}
                                  << "Error: Incorrect Centronics port address   \" 12G \" [Cancel]"
                                  << none;
        QTest::newRow("missing file")
            << "sim" << QStringList{"missing.bin", "27010"} << QStringList{}
            << "Error: File not found   \" missing.bin \" [Cancel]" << none;
        QTest::newRow("reset 10001")
            << "sim" << QStringList{"@", "27010", "$378", "10001"} << QStringList{}
            << "Error: Reset time longer than 10s! [Cancel]" << none;
        QTest::newRow("verification error")
            << "sim:0x378/bad=0x4321" << QStringList{"@", "27010"} << steps
            << "Error: Verification error [Cancel]" << Lamp::Red;
    }

    // Success: a box, then the timer ends the program. Failure: one box, the window stays usable.
    void batchRun() {
        QFETCH(QString, box);
        Modals modals;
        WindowRig rig(
            Row<QString>("io"),
            Row<QStringList>("arguments").replaceInStrings(QRegularExpression("^@$"), image_));
        QStringList captions;
        connect(rig.main.get(), &QWidget::windowTitleChanged,
                [&](const QString& title) { captions << title; });
        QTRY_VERIFY_WITH_TIMEOUT(!rig.main->BatchRequested && rig.main->isEnabled(), 20000);
        QTRY_COMPARE(modals.boxes, QStringList{box});
        QTEST(captions.mid(0, 5), "captions");
        QTEST(rig.LampState("LastResult"), "lamp");
        if (box.startsWith("Information")) {
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
