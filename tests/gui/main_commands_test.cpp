// The main window's commands driven through its widgets against the simulated emulator.
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "WindowRig.h"

using tarvex::Lamp;
using tarvex::testing::WindowRig;

Q_DECLARE_METATYPE(Lamp)

class MainCommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void deviceCommands_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<bool>("writeFirst");
        QTest::addColumn<bool>("autoVerify");
        QTest::addColumn<QString>("command");
        QTest::addColumn<Lamp>("result");

        const QString bad = QStringLiteral("sim:0x378/bad=0x100");
        QTest::newRow("write") << "sim" << false << false << "TarvexWrite" << Lamp::Green;
        QTest::newRow("write and verify") << "sim" << false << true << "TarvexWrite" << Lamp::Green;
        QTest::newRow("verify after write")
            << "sim" << true << false << "TarvexVerify" << Lamp::Green;
        QTest::newRow("verify without write")
            << "sim" << false << false << "TarvexVerify" << Lamp::Red;
        QTest::newRow("read") << "sim" << false << false << "TarvexRead" << Lamp::Green;
        QTest::newRow("bad cell: write alone passes")
            << bad << false << false << "TarvexWrite" << Lamp::Green;
        QTest::newRow("bad cell: write and verify fails")
            << bad << false << true << "TarvexWrite" << Lamp::Red;
        QTest::newRow("bad cell: verify fails")
            << bad << true << false << "TarvexVerify" << Lamp::Red;
        QTest::newRow("flaky nibbles: verify fails")
            << "sim:0x378/flaky=5" << true << false << "TarvexVerify" << Lamp::Red;
        QTest::newRow("no emulator: read passes")
            << "sim:none" << false << false << "TarvexRead" << Lamp::Green;
        QTest::newRow("no emulator: write passes")
            << "sim:none" << false << false << "TarvexWrite" << Lamp::Green;
    }

    void deviceCommands() {
        QFETCH(QString, io);
        QFETCH(bool, writeFirst);
        QFETCH(bool, autoVerify);
        QFETCH(QString, command);
        WindowRig rig(io.toLatin1().constData());
        if (writeFirst) {
            rig.Find<QPushButton>("TarvexWrite")->click();
        }
        rig.main->Model().AutoVerify = autoVerify;
        auto* start = rig.Find<QPushButton>("ReadFile");
        start->setFocus();
        rig.Find<QPushButton>(command.toLatin1().constData())->click();
        QTEST(rig.Lamp("LastResult")->State(), "result");
        QVERIFY(rig.main->isEnabled());
        // Write moves the focus to itself; the others leave it where it was.
        QCOMPARE(rig.main->focusWidget(),
                 command == "TarvexWrite" ? rig.Find<QPushButton>("TarvexWrite") : start);
    }

    // While a command works, the window takes no input, cannot be closed and shows no old
    // result; afterwards it is open again.
    void commandFrame() {
        WindowRig rig("sim");
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.main.get()));
        rig.Find<QPushButton>("TarvexWrite")->click();
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Green);

        bool sawBusy = false;
        bool enabledMeanwhile = true;
        bool closedMeanwhile = true;
        Lamp lampMeanwhile = Lamp::Green;
        QTimer::singleShot(0, [&] {
            sawBusy = true;
            enabledMeanwhile = rig.main->isEnabled();
            closedMeanwhile = rig.main->close();
            lampMeanwhile = rig.Lamp("LastResult")->State();
        });
        rig.Find<QPushButton>("TarvexVerify")->click();
        QVERIFY(sawBusy);
        QVERIFY(!enabledMeanwhile);
        QVERIFY(!closedMeanwhile);
        QCOMPARE(lampMeanwhile, Lamp::ButtonFace);
        QVERIFY(rig.main->isVisible());
        QVERIFY(rig.main->isEnabled());
        QVERIFY(rig.main->PortAccess().Opened());
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Green);
    }

    void typedPortTextFallsBack_data() {
        QTest::addColumn<QString>("keys");
        QTest::newRow("junk") << "12G";
        QTest::newRow("an address not in the list") << "0x278";
        QTest::newRow("blank") << " ";
    }

    void typedPortTextFallsBack() {
        QFETCH(QString, keys);
        WindowRig rig("sim");
        auto* combo = rig.Find<QComboBox>("PortSelect");
        rig.Trace();
        for (const QChar key : keys) {
            QTest::keyClicks(combo->lineEdit(), QString(key));
            QCOMPARE(combo->currentText(), QStringLiteral("  0x0378"));
        }
        QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
        QCOMPARE(combo->currentText(), QStringLiteral("  0x0378"));
        // No probe: nothing was written anywhere.
        QCOMPARE(rig.Writes(), std::vector<std::string>{});
        QCOMPARE(rig.main->Link().PortAddress(), 0x378);
        QVERIFY(rig.main->Link().EmulatorPresent());
        // Leaving the box does not pick the item anew.
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        combo->clearFocus();
        QCOMPARE(rig.Writes(), std::vector<std::string>{});
    }

    void choosingAPortProbesIt() {
        WindowRig rig("sim");
        auto* combo = rig.Find<QComboBox>("PortSelect");
        rig.Trace();
        QTest::keyClick(combo, Qt::Key_Up);  // 0x0378 -> 0x0278, where nothing answers
        QCOMPARE(combo->currentText(), QStringLiteral("  0x0278"));
        QCOMPARE(rig.main->Link().PortAddress(), 0x278);
        QVERIFY(!rig.main->Link().EmulatorPresent());
        QTRY_COMPARE_WITH_TIMEOUT(rig.Lamp("ResetLED")->State(), Lamp::Yellow, 400);
        auto writes = rig.Writes();
        QVERIFY(!writes.empty());
        QCOMPARE(writes.back(), std::string("W 0278 00"));  // PortIdle ends on the data register
        // The type is not chosen again.
        QCOMPARE(rig.ComboText("EpromType"), QStringLiteral("  27010"));

        QTest::keyClick(combo, Qt::Key_Down);  // back to 0x0378
        QCOMPARE(combo->currentText(), QStringLiteral("  0x0378"));
        QVERIFY(rig.main->Link().EmulatorPresent());
        writes = rig.Writes();
        QCOMPARE(std::vector<std::string>(writes.end() - 2, writes.end()),
                 (std::vector<std::string>{"W 037A 04", "W 0378 00"}));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Lamp("ResetLED")->State(), Lamp::Red, 400);
    }

    // A port probe lets events through; a command clicked meanwhile must not run inside it.
    void commandsWaitForAPortChange() {
        WindowRig rig("sim");
        bool clicked = false;
        QTimer::singleShot(0, [&] {
            rig.Find<QPushButton>("TarvexWrite")->click();
            rig.Find<QPushButton>("ToggleReset")->click();
            clicked = true;
        });
        QTest::keyClick(rig.Find<QComboBox>("PortSelect"), Qt::Key_Up);
        QVERIFY(clicked);
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::ButtonFace);
        QCOMPARE(rig.main->Link().PortAddress(), 0x278);
        QVERIFY(rig.main->isEnabled());
    }

    void choosingATypeConfiguresIt_data() {
        QTest::addColumn<int>("presses");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("config");
        QTest::addColumn<uint>("end");
        for (int index = 0; index < int(tarvex::kEpromTypes.size()); ++index) {
            const auto& type = tarvex::kEpromTypes[std::size_t(index)];
            QTest::addRow("%d", int(type.number)) << index + 1 << int(type.number) << type.text
                                                  << int(type.configByte) << uint(type.epromEnd);
        }
    }

    void choosingATypeConfiguresIt() {
        QFETCH(int, presses);
        WindowRig rig("sim");
        auto* combo = rig.Find<QComboBox>("EpromType");
        rig.main->Model().FillValue = 0xA5;
        // The arrow keys walk the list from the first item on.
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(combo, Qt::Key_Down);
        }
        QTEST(int(rig.main->Model().CurrentEpromType), "number");
        QTEST(rig.ComboText("EpromType"), "text");
        QTEST(int(rig.bus->WithDevice(0x378, [](auto* device) { return device->ConfigLatch(); })),
              "config");
        QFETCH(uint, end);
        QCOMPARE(rig.main->Model().BufferEnd, end);
        QCOMPARE(rig.main->Model().DataBuffer[end], 0xA5);
    }

    void typedTypeTextSelectsTheTypeAgain() {
        WindowRig rig("sim");
        auto& model = rig.main->Model();
        model.DataBuffer[5] = 0x12;
        auto* combo = rig.Find<QComboBox>("EpromType");
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("x"));
        QCOMPARE(model.CurrentEpromType, 27010);
        QCOMPARE(model.DataBuffer[5], 0xFF);  // refilled with FillValue
        QCOMPARE(rig.ComboText("EpromType"), QStringLiteral("  27010"));
    }

    void typedTypeTextBeforeAnyTypeDoesNothing() {
        WindowRig rig("sim:none");
        auto* combo = rig.Find<QComboBox>("EpromType");
        rig.Trace();
        QTest::keyClick(combo->lineEdit(), Qt::Key_End);
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("x"));
        QVERIFY(rig.Writes().empty());
        QCOMPARE(rig.main->Model().CurrentEpromType, 0);
        QCOMPARE(rig.ComboText("EpromType"), QStringLiteral("  not setx"));
    }

    void resetLampFollowsTheToggle() {
        WindowRig rig("sim");
        auto* toggle = rig.Find<QPushButton>("ToggleReset");
        auto inReset = [&] {
            return rig.bus->WithDevice(0x378, [](auto* device) { return device->TargetInReset(); });
        };
        QTRY_COMPARE_WITH_TIMEOUT(rig.Lamp("ResetLED")->State(), Lamp::Red, 400);
        QVERIFY(inReset());
        toggle->click();
        QVERIFY(!inReset());
        QTRY_COMPARE_WITH_TIMEOUT(rig.Lamp("ResetLED")->State(), Lamp::ButtonFace, 400);
        toggle->click();
        QVERIFY(inReset());
        QTRY_COMPARE_WITH_TIMEOUT(rig.Lamp("ResetLED")->State(), Lamp::Red, 400);
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::ButtonFace);  // no lamp of its own
    }

    void toggleWithoutEmulatorDoesNothing() {
        WindowRig rig("sim:0x278/nodevice");
        rig.Trace();
        rig.Find<QPushButton>("ToggleReset")->click();
        QVERIFY(rig.Writes().empty());
        QTRY_COMPARE_WITH_TIMEOUT(rig.Lamp("ResetLED")->State(), Lamp::Yellow, 400);
    }

    void timerOnlyReadsStatus() {
        WindowRig rig("sim");
        rig.bus->SetTracing(true);
        rig.bus->TakeTrace();
        QTest::qWait(300);
        const auto trace = rig.bus->TakeTrace();
        QVERIFY(trace.size() >= 2);
        for (const auto& access : trace) {
            QCOMPARE(tarvex::sim::FormatAccess(access).substr(0, 6), std::string("R 0379"));
        }
    }

    void exitRequestedEndsTheProgram() {
        WindowRig rig("sim");
        QVERIFY(!rig.main->TerminationRequested());
        rig.main->ExitRequested = true;
        QTRY_VERIFY_WITH_TIMEOUT(rig.main->TerminationRequested(), 400);
    }

    void progressBarTracksTheTransfer() {
        WindowRig rig("sim");
        auto* bar = rig.main->findChild<QProgressBar*>("ProgressBar");
        int highest = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&] { highest = std::max(highest, bar->value()); });
        sampler.start(0);
        rig.Find<QPushButton>("TarvexWrite")->click();
        sampler.stop();
        QCOMPARE(bar->maximum(), 0x1FFFF >> 8);
        QVERIFY(highest > 0);
        QCOMPARE(bar->value(), 0);
    }

  private:
    QTemporaryDir runtime_;
};

QTEST_MAIN(MainCommandsTest)
#include "main_commands_test.moc"
