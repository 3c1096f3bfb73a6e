// The unattended run started from the command line, driven end to end in the window
// against the simulated emulator: the worker thread, its captions and its boxes.
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "WindowRig.h"
#include "app/StartupRules.h"
#include "batch/BatchRun.h"

using tarvex::Lamp;
using tarvex::testing::BoxAnswerer;
using tarvex::testing::Shown;
using tarvex::testing::WindowRig;

Q_DECLARE_METATYPE(Lamp)

class BatchWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(runtime_.isValid());
        QVERIFY(files_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        image_ = files_.filePath(QStringLiteral("image.bin"));
        QFile file(image_);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray bytes(0x20000, '\0');
        for (int i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 7 + 3);
        }
        file.write(bytes);
    }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void success_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("sizeCaption");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("firstCountdown");

        QTest::newRow("file and type")
            << "sim" << QStringList{"@", "27010"} << "   131072 bytes OK ..."
            << "  0x0378"
            << "   RESET time left: 1.0s";
        QTest::newRow("with a port")
            << "sim:0x278,0x378" << QStringList{"@", "2764", "$378"} << "   8192 bytes OK ..."
            << "  0x0378"
            << "   RESET time left: 1.0s";
        QTest::newRow("non-standard port and reset time 0")
            << "sim:0xD010" << QStringList{"@", "27512", "0xD010", "0"} << "   65536 bytes OK ..."
            << "  0xD010"
            << "   RESET time left: 0.0s";
    }

    // Runs through, shows the success box, and the timer ends the program within a tick.
    void success() {
        QFETCH(QString, io);
        QFETCH(QStringList, arguments);
        BoxAnswerer answerer({QStringLiteral("OK")});
        WindowRig rig(io.toLatin1().constData(), Arguments(arguments));
        QStringList captions;
        connect(rig.main.get(), &QWidget::windowTitleChanged,
                [&](const QString& title) { captions << title; });
        QTRY_VERIFY_WITH_TIMEOUT(rig.main->TerminationRequested(), 20000);

        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].title, QStringLiteral("Information"));
        QCOMPARE(answerer.seen[0].text, Shown(tarvex::BatchRun::kSuccessText).replace("&&", "&"));
        QCOMPARE(answerer.seen[0].buttons, QStringList{"OK"});
        QVERIFY(captions.size() >= 6);
        QCOMPARE(captions.mid(0, 3),
                 (QStringList{"   Reading file ...", "   Writing data to emulator ...",
                              "   Verifying data ..."}));
        QTEST(captions[3], "sizeCaption");
        QTEST(captions[4], "firstCountdown");
        QCOMPARE(captions[captions.size() - 2], QStringLiteral("   RESET time left: 0.0s"));
        QCOMPARE(captions.last(), QString::fromLatin1(tarvex::kProgramTitle));
        QTEST(rig.ComboText("PortSelect"), "port");
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Green);
        QCOMPARE(rig.main->ExitStatus(), 0);
        // The target runs the new image.
        const auto base = rig.main->Link().PortAddress();
        QVERIFY(rig.bus->WithDevice(base, [](tarvex::sim::SimEmulator* device) {
            return !device->TargetInReset() && device->Memory()[5] == 5 * 7 + 3;
        }));
    }

    // Start-up leaves the type to the run, and a run starts even where start-up found no
    // emulator: the run searches again and reports.
    void startUpLeavesTheTypeToTheRun() {
        BoxAnswerer answerer({QStringLiteral("Cancel")});
        WindowRig rig("sim:none", Arguments({"@", "27010"}));
        QCOMPARE(rig.main->Model().CurrentEpromType, 0);
        QCOMPARE(rig.ComboText("PortSelect"), QStringLiteral(" unknown "));
        QTRY_COMPARE_WITH_TIMEOUT(answerer.seen.size(), 1, 20000);
        QCOMPARE(answerer.seen[0].text, QStringLiteral("Emulator port not detected"));
    }

    void failure_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::addColumn<Lamp>("lamp");
        QTest::addColumn<QString>("caption");

        const QString title = QString::fromLatin1(tarvex::kProgramTitle);
        QTest::newRow("type 2816")
            << "sim" << QStringList{"@", "2816"} << "Incorrect EPROM type   \" 2816 \""
            << Lamp::ButtonFace << title;
        QTest::newRow("type abc") << "sim" << QStringList{"@", "abc"}
                                  << "Incorrect EPROM type   \" abc \"" << Lamp::ButtonFace
                                  << title;
        QTest::newRow("port 12G") << "sim" << QStringList{"@", "27010", "12G"}
                                  << "Incorrect Centronics port address   \" 12G \""
                                  << Lamp::ButtonFace << title;
        QTest::newRow("port past FFFF")
            << "sim" << QStringList{"@", "27010", "0xFFFF", "100"}
            << "Incorrect Centronics port address   \" 0xFFFF \"" << Lamp::ButtonFace << title;
        QTest::newRow("missing file")
            << "sim" << QStringList{"missing.bin", "27010"} << "File not found   \" missing.bin \""
            << Lamp::ButtonFace << title;
        QTest::newRow("reset 10001") << "sim" << QStringList{"@", "27010", "$378", "10001"}
                                     << "Reset time longer than 10s!" << Lamp::ButtonFace << title;
        QTest::newRow("no emulator anywhere")
            << "sim:none" << QStringList{"@", "27010"} << "Emulator port not detected"
            << Lamp::ButtonFace << title;
        QTest::newRow("verification error")
            << "sim:0x378/bad=0x4321" << QStringList{"@", "27010"} << "Verification error"
            << Lamp::Red << "   Verifying data ...";
    }

    // Reports once with Cancel, then leaves the window enabled for interactive use; closing
    // it ends with status 1.
    void failure() {
        QFETCH(QString, io);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        BoxAnswerer answerer({QStringLiteral("Cancel")});
        WindowRig rig(io.toLatin1().constData(), Arguments(arguments));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.main->BatchRequested && rig.main->isEnabled(), 20000);
        QTRY_COMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].title, QStringLiteral("Error"));
        QCOMPARE(answerer.seen[0].text, message);
        QCOMPARE(answerer.seen[0].buttons, QStringList{"Cancel"});
        QTEST(rig.Lamp("LastResult")->State(), "lamp");
        QTEST(rig.main->windowTitle(), "caption");
        QVERIFY(!rig.main->ExitRequested);

        // Still usable: a ticked timer does not end it, a command runs, closing ends it.
        QTest::qWait(300);
        QVERIFY(!rig.main->TerminationRequested());
        if (rig.main->Link().EmulatorPresent()) {
            rig.Find<QPushButton>("TarvexRead")->click();
            QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Green);
        }
        QVERIFY(rig.main->close());
        QCOMPARE(rig.main->ExitStatus(), 1);
    }

  private:
    std::vector<std::string> Arguments(const QStringList& arguments) const {
        std::vector<std::string> result;
        for (const QString& argument : arguments) {
            result.push_back((argument == "@" ? image_ : argument).toStdString());
        }
        return result;
    }

    QTemporaryDir runtime_;
    QTemporaryDir files_;
    QString image_;
};

QTEST_MAIN(BatchWindowTest)
#include "batch_window_test.moc"
