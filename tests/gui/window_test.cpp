// The main window on the simulated emulator, its boxes and its real file dialogs.
#include <sys/stat.h>
#include <unistd.h>

#include "WindowRig.h"
#include "diag/ExtTestForm.h"
#include "diag/StdTestForm.h"
#include "tests/support/FakeParport.h"

using tarvex::Lamp;
using namespace tarvex::testing;

const QString kAllFiles = QStringLiteral("All binary image files (*.*)");
const QString kBinFiles = QStringLiteral("Binary image files (*.BIN)");
const QString kHexFiles = QStringLiteral("Intel Hex files (*.HEX)");
const QString kExtFiles = QStringLiteral("Intel Hex Extended files (*.HEX)");
const QString kBinFile = QStringLiteral("Binary image file (*.BIN)");
const QString kHexFile = QStringLiteral("Intel Hex file (*.HEX)");
const QString kExtFile = QStringLiteral("Intel Hex Extended file (*.HEX)");
const QString kSRecords =
    QStringLiteral("Motorola S-record files (*.s19;*.s28;*.s37;*.srec;*.mot)");
// The open dialog's filters and the FileType each sets.
const QStringList kOpenFilters{kAllFiles, kBinFiles, kHexFiles, kExtFiles, kSRecords};
const QList<int> kOpenFilterTypes{0, 0, 1, 2, 3};
const QByteArray kEof = ":00000001FF\r\n";
// Data at 00000 and, behind an extended segment address record, at 1FFFF.
const QByteArray kExtendedHex = ":0100000012ED\r\n:020000021000EC\r\n:01FFFF00AB56\r\n" + kEof;

static void WriteFile(const QString& name, const QByteArray& contents) {
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

static void ClickIn(QWidget* window, const char* name) {
    window->findChild<QAbstractButton*>(QString::fromLatin1(name))->click();
}

static QByteArray ReadFile(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Chooses `filter` with the keyboard (none when empty), enters `name`, then accepts or cancels.
static DialogAction Pick(const QString& filter, const QString& name, bool accept = true) {
    return [=](QFileDialog& dialog) {
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        const int target = filter.isEmpty() ? combo->currentIndex() : combo->findText(filter);
        QVERIFY2(target >= 0, qPrintable(filter));
        for (int step = 0; step < 8 && combo->currentIndex() != target; ++step) {
            QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
        }
        // Set at once: typed key by key, the completer may take a partial path as a folder.
        dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        accept ? static_cast<QDialog&>(dialog).accept() : dialog.reject();
    };
}

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(UseOwnDirectories() && dir_.isValid()); }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // A box ends the program after start-up, unless told to go on. A found emulator gets 27010.
    void startUp_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("answer");  // when another copy runs: to the question
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("box");  // what it shows begins with this
        QTest::addColumn<int>("exitStatus");
        const QString usage =
            "Error: " + QString::fromStdString(tarvex::DisplayText(tarvex::kUsageMessage)) +
            " [OK]";
        const QString question =
            "Confirm: The author of Tarvex Loader appreciates\n"
            "the fact, that  you  want to have more\n"
            "then one copy running simultaneously.\n\n"
            "But don't you think one  _is_  enough? [&Yes,&No]";
        const QString at378 = "  0x0378", at278 = "  0x0278", unknown = " unknown ";
        const QStringList none;
        QTest::newRow("emulator at 0x378") << "sim" << none << "" << at378 << "" << 0;
        QTest::newRow("emulator at 0x278") << "sim:0x278" << none << "" << at278 << "" << 0;
        QTest::newRow("no emulator") << "sim:none" << none << "" << unknown << "" << 0;
        QTest::newRow("single H is a file name")
            << "sim" << QStringList{"H"} << "" << at378 << "" << 0;
        QTest::newRow("/? asks for help")
            << "sim" << QStringList{"/?"} << "" << at378 << usage << 0;
        QTest::newRow("-H asks for help")
            << "sim" << QStringList{"-H"} << "" << at378 << usage << 0;
        QTest::newRow("five arguments")
            << "sim" << QStringList{"a", "b", "c", "d", "e"} << "" << at378 << usage << 2;
        QTest::newRow("unknown port access")
            << "bogus" << none << "" << unknown
            << "Error: Could not initialize direct port access !\n\nTARVEX_IO=bogus" << 1;
        QTest::newRow("another copy runs, yes")
            << "sim" << none << "&Yes" << unknown << question << 0;
        QTest::newRow("another copy runs, no") << "sim" << none << "&No" << at378 << question << 0;
    }

    void startUp() {
        QFETCH(QString, answer);
        QFETCH(QString, box);
        QFETCH(QString, port);
        tarvex::InstanceLock other;
        QVERIFY(answer.isEmpty() || (other.Acquire() && other.Held()));
        Modals modals({answer});
        WindowRig rig(Row<QString>("io"), Row<QStringList>("arguments"));
        QCOMPARE(modals.boxes.size(), box.isEmpty() ? 0 : 1);
        QCOMPARE(modals.boxes.value(0).left(box.size()), box);
        const bool found = port != " unknown ";
        QCOMPARE(rig.ComboText("PortSelect"), port);
        QCOMPARE(rig.ComboText("EpromType"), found ? "  27010" : "  not set");
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), Row<QStringList>("arguments").value(0));
        QTRY_COMPARE_WITH_TIMEOUT(rig.LampState("ResetLED"), found ? Lamp::Red : Lamp::Yellow, 500);
        QCOMPARE(rig.main->TerminationRequested(), !box.isEmpty() && answer != "&No");
        QTEST(rig.main->ExitStatus(), "exitStatus");
        QVERIFY(!tarvex::InstanceLock().Acquire());  // held by this window or the other
        // A copy told to end leaves the other copy's port alone, on the way out as well.
        const bool toldToEnd = answer == "&Yes";
        QCOMPARE(rig.main->PortAccess().Opened(), !toldToEnd && rig.bus);
        rig.main.reset();
        QCOMPARE(rig.bus && rig.bus->ReadCount() + rig.bus->WriteCount() == 0, toldToEnd);
    }

    void sizeAndTabOrder() {
        WindowRig rig("sim");
        QCOMPARE(rig.main->size(), QSize(481, 223));
        QCOMPARE(rig.main->minimumSize(), rig.main->maximumSize());
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.main.get()));
        rig.Find("ReadFile")->setFocus();
        QStringList order;
        for (int step = 0; step < 11; ++step) {
            QWidget* focus = QApplication::focusWidget();
            // An editable combo box keeps the focus in its line edit.
            auto* combo = qobject_cast<QComboBox*>(focus->parentWidget());
            order << (combo ? combo->objectName() : focus->objectName());
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"ReadFile", "SaveFile", "TarvexWrite", "TarvexRead",
                                     "TarvexVerify", "TarvexTest", "ToggleReset", "SetOptions",
                                     "EpromType", "PortSelect", "ReadFile"}));
    }

    void wheel_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("focused");
        QTest::addColumn<QString>("shown");  // after one notch of the wheel
        QTest::addColumn<bool>("refilled");
        QTest::newRow("type box without the focus") << "EpromType" << false << "  27010" << false;
        QTest::newRow("port box without the focus") << "PortSelect" << false << "  0x0378" << false;
        QTest::newRow("type box with the focus") << "EpromType" << true << "  27512" << true;
    }

    // A wheel turned over a box changes it only while the box has the keyboard focus: a type
    // change refills the image.
    void wheel() {
        QFETCH(QString, box);
        WindowRig rig("sim");
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.main.get()));
        rig.main->Model().DataBuffer[0x100] = 0x12;  // a loaded byte
        auto* combo = rig.Find<QComboBox>(box);
        (Row<bool>("focused") ? combo : rig.Find("ReadFile"))->setFocus();
        const QPoint middle = combo->rect().center();
        QWheelEvent notch(middle, combo->mapToGlobal(middle), {}, {0, 120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &notch);  // where it arrives from the box's line edit
        QTEST(rig.ComboText(box), "shown");
        QCOMPARE(rig.main->Model().DataBuffer[0x100] == 0xFF, Row<bool>("refilled"));
    }

    void arrowKeysInTheBoxes_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("chosen");  // item chosen first; -1: as start-up left it
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("refilled");
        const int down = Qt::Key_Down, up = Qt::Key_Up;
        QTest::newRow("Down on 27010, the last type")
            << "EpromType" << -1 << down << "  27010" << false;
        QTest::newRow("Up on 27010") << "EpromType" << -1 << up << "  27512" << true;
        QTest::newRow("Down on a chosen 2764") << "EpromType" << 0 << down << "  27128" << true;
        QTest::newRow("Up on 0x0278, the first port")
            << "PortSelect" << 0 << up << "  0x0278" << false;
    }

    // Up and Down move from the entry shown, never from another one the list still points at.
    void arrowKeysInTheBoxes() {
        QFETCH(QString, box);
        WindowRig rig("sim");
        auto* combo = rig.Find<QComboBox>(box);
        if (const int chosen = Row<int>("chosen"); chosen >= 0) {
            box == "EpromType" ? rig.main->EpromTypeChange(chosen)
                               : rig.main->PortSelectChange(chosen);
        }
        rig.main->Model().DataBuffer[0x100] = 0x12;
        QCOMPARE(combo->itemText(combo->currentIndex()).trimmed(), rig.ComboText(box).trimmed());
        QTest::keyClick(combo, Qt::Key(Row<int>("key")));
        QTEST(rig.ComboText(box), "shown");
        QCOMPARE(rig.main->Model().DataBuffer[0x100] == 0xFF, Row<bool>("refilled"));
    }

    void unusableRuntimeFolder_data() {
        QTest::addColumn<QString>("runtime");  // XDG_RUNTIME_DIR; "@file": a plain file
        QTest::newRow("not a folder") << "@file";
        QTest::newRow("missing") << "/nonexistent/runtime";
        QTest::newRow("unset") << "";
    }

    // Only a lock another copy holds raises the question; one that cannot be made falls back
    // to /tmp/runtime-UID, or lets the program run unchecked.
    void unusableRuntimeFolder() {
        QString runtime = Row<QString>("runtime");
        if (runtime == "@file") {
            runtime = dir_.filePath("runtime-file");
            WriteFile(runtime, "not a folder");
        }
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", saved); });
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        const std::string fallback = tarvex::InstanceLockDirectories(nullptr, ::getuid()).back();
        if (tarvex::InstanceLock().Acquire(fallback, true) == tarvex::LockOutcome::HeldElsewhere) {
            QSKIP("a Tarvex32 of this user runs and holds the fallback lock");
        }
        Modals modals;
        WindowRig rig("sim");
        QCOMPARE(modals.boxes, QStringList{});
        QVERIFY(!rig.main->TerminationRequested());
    }

    void deviceCommands_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<QString>("before");  // a command clicked first
        QTest::addColumn<bool>("autoVerify");
        QTest::addColumn<QString>("command");
        QTest::addColumn<Lamp>("result");
        const QString sim = "sim", bad = "sim:0x378/bad=0x100";
        QTest::newRow("write") << sim << "" << false << "Write" << Lamp::Green;
        QTest::newRow("write and verify") << sim << "" << true << "Write" << Lamp::Green;
        QTest::newRow("verify after write") << sim << "Write" << false << "Verify" << Lamp::Green;
        QTest::newRow("verify without write") << sim << "" << false << "Verify" << Lamp::Red;
        QTest::newRow("read") << sim << "" << false << "Read" << Lamp::Green;
        QTest::newRow("bad cell: write and verify") << bad << "" << true << "Write" << Lamp::Red;
        QTest::newRow("bad cell: verify") << bad << "Write" << false << "Verify" << Lamp::Red;
        // Nothing answers after the transfer: no emulator at all, or the cable pulled during it.
        const QString none = "sim:none", pulled = "sim:0x378/pull=20000";
        QTest::newRow("no emulator: write") << none << "" << false << "Write" << Lamp::Red;
        QTest::newRow("no emulator: read") << none << "" << false << "Read" << Lamp::Red;
        QTest::newRow("cable pulled: read") << pulled << "" << false << "Read" << Lamp::Red;
        QTest::newRow("cable pulled: write and verify of an erased image")
            << pulled << "" << true << "Write" << Lamp::Red;
    }

    // While a command runs, the window takes no input, stays open and shows no old result.
    void deviceCommands() {
        const QString command = "Tarvex" + Row<QString>("command");
        WindowRig rig(Row<QString>("io"));
        rig.main->show();
        if (const QString before = Row<QString>("before"); !before.isEmpty()) {
            rig.Click("Tarvex" + before);
        }
        rig.main->Model().AutoVerify = Row<bool>("autoVerify");
        rig.Find("ReadFile")->setFocus();
        bool enabled = true, closed = true;
        Lamp lamp = Lamp::Green;
        QTimer::singleShot(0, [&] {
            enabled = rig.main->isEnabled();
            closed = rig.main->close();
            lamp = rig.LampState("LastResult");
        });
        rig.Click(command);
        QVERIFY(!enabled && !closed && lamp == Lamp::ButtonFace);
        QTEST(rig.LampState("LastResult"), "result");
        QVERIFY(rig.main->isEnabled() && rig.main->isVisible());
        // Write takes the focus; the others leave it where it was.
        QCOMPARE(rig.main->focusWidget()->objectName(),
                 command == "TarvexWrite" ? command : QStringLiteral("ReadFile"));
    }

    void aClickOnTheWaitingWindow_data() {
        QTest::addColumn<QString>("open");
        QTest::newRow("options") << "Options";
        QTest::newRow("memory test") << "StdTest";
        QTest::newRow("signals test") << "ExtTest";
    }

    // The main window, disabled while a window of its own is open, gives the activation it gets
    // (a click on it) back to that window.
    void aClickOnTheWaitingWindow() {
        QFETCH(QString, open);
        WindowRig rig("sim");
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.main.get()));
        QWidget* window = open == "Options"   ? static_cast<QWidget*>(rig.options.get())
                          : open == "StdTest" ? static_cast<QWidget*>(&rig.main->StdTestWindow())
                                              : &rig.main->ExtTestWindow();
        QList<QWindow*> activated;
        connect(qApp, &QGuiApplication::focusWindowChanged, this,
                [&](QWindow* focus) { activated << focus; });
        bool mainActivated = false, backThere = false, disabled = false;
        auto clickOnTheMainWindow = [&] {
            activated.clear();
            rig.main->activateWindow();
            QDeadlineTimer deadline(5000);
            while (!(backThere = activated.contains(rig.main->windowHandle()) &&
                                 QApplication::activeWindow() == window) &&
                   !deadline.hasExpired()) {
                QTest::qWait(5);
            }
            mainActivated = activated.contains(rig.main->windowHandle());
            disabled = !rig.main->isEnabled();
        };
        if (open == "Options") {
            rig.Click("SetOptions");
            QVERIFY(QTest::qWaitForWindowActive(window));
            clickOnTheMainWindow();
            window->close();
        } else {
            QTimer::singleShot(0, [&] {
                clickOnTheMainWindow();
                ClickIn(window, open == "StdTest" ? "StopTest" : "Exit");
            });
            rig.Find<QMenu>("TestMenu")
                ->findChild<QAction*>(open == "StdTest" ? "ContinuousTest" : "SingleLines")
                ->trigger();
        }
        disconnect(qApp, &QGuiApplication::focusWindowChanged, this, nullptr);
        QVERIFY(mainActivated);
        QVERIFY(backThere);
        QVERIFY(disabled);
        QVERIFY(!window->isVisible() && rig.main->isEnabled());
    }

    // Typed text falls back to the port in use without a probe. Choosing a port probes it and
    // lets events through meanwhile: no command or dialog may start inside the probe.
    void choosingAPort() {
        WindowRig rig("sim");
        Modals modals;
        auto* combo = rig.Find<QComboBox>("PortSelect");
        rig.Trace();
        for (const QString typed : {"12G", "0x278"}) {  // junk, and an address not in the list
            for (const QChar key : typed) {
                QTest::keyClicks(combo->lineEdit(), key);
                QCOMPARE(combo->currentText(), QStringLiteral("  0x0378"));
            }
            QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
            QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        }
        QCOMPARE(combo->currentText(), QStringLiteral("  0x0378"));
        QCOMPARE(rig.Writes(), QStringList{});
        QVERIFY(rig.main->Link().PortAddress() == 0x378 && rig.main->Link().EmulatorPresent());
        bool clicked = false;
        QTimer::singleShot(0, [&] {
            for (const char* name : {"TarvexWrite", "ToggleReset", "ReadFile", "SaveFile"}) {
                rig.Click(name);
            }
            clicked = true;
        });
        QTest::keyClick(combo, Qt::Key_Up);  // to 0x0278, where nothing answers
        QVERIFY(clicked);
        QCOMPARE(modals.dialogs, QStringList{});
        QCOMPARE(rig.LampState("LastResult"), Lamp::ButtonFace);
        QCOMPARE(rig.ComboText("PortSelect"), QStringLiteral("  0x0278"));
        QVERIFY(!rig.main->Link().EmulatorPresent());
        QTRY_COMPARE_WITH_TIMEOUT(rig.LampState("ResetLED"), Lamp::Yellow,
                                  3 * tarvex::TMain::kTimerInterval);
    }

    // Over ppdev: a port another program holds is passed over at start-up and named when the
    // user picks it; afterwards it is free again for that program.
    void choosingAHeldPort() {
        auto kernel = std::make_shared<tarvex::testing::FakeParport>();
        kernel->AttachEmulator(0x378);
        kernel->At(0x278).heldElsewhere = true;
        Modals modals;
        tarvex::TMain main(tarvex::testing::FakePpdevPort(kernel), {});
        QCOMPARE(modals.boxes, QStringList{});
        QVERIFY(main.Link().EmulatorPresent() && main.Link().PortAddress() == 0x378);
        QTest::keyClick(main.findChild<QComboBox*>("PortSelect"), Qt::Key_Up);
        QCOMPARE(modals.boxes,
                 QStringList{"Error: No emulator at 0x0278:\n/dev/parport1 is in use by another "
                             "program (another Tarvex32 or tarvex, or a printer job) [Cancel]"});
        QCOMPARE(kernel->busyClaims, 2);   // once at start-up, once for the pick
        QCOMPARE(kernel->OpenFiles(), 1);  // 0x378's: the window keeps the emulator's port
    }

    // The lamp follows RESET. ExitRequested makes the timer end the loop; FormDestroy releases.
    void resetLampAndExit() {
        WindowRig rig("sim");
        rig.main->show();
        for (const bool held : {true, false, true}) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.LampState("ResetLED"),
                                      held ? Lamp::Red : Lamp::ButtonFace, 400);
            QCOMPARE(rig.TargetInReset(), held);
            rig.Click("ToggleReset");
        }
        QTimer guard;
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(5000);
        rig.main->ExitRequested = true;
        rig.Trace();
        QCOMPARE(rig.main->RunMessageLoop(), 0);
        QVERIFY(guard.isActive() && rig.main->TerminationRequested());
        QCOMPARE(rig.Writes(), QStringList{});
        rig.main.reset();
        QCOMPARE(rig.Writes(), (QStringList{"W 0378 00", "W 037A 03", "W 037A 0B"}));  // released
    }

    void load_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArray>("contents");  // null: removed once chosen
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<Lamp>("lamp");
        QTest::addColumn<int>("fileType");
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("loaded");  // the buffer from `at` on
        const QString readError = "Error: File read error [Cancel]";
        QTest::newRow("extended records under Intel Hex Extended")
            << kExtFiles << kExtendedHex
            << QStringList{"Information: Load range : 00000...1FFFF [OK]"} << Lamp::Green << 2
            << 0x1FFFF << QByteArray("\xAB");
        QTest::newRow("extended records refused under plain Intel Hex")
            << kHexFiles << kExtendedHex
            << QStringList{"Error: Invalid record type , line #2 [Cancel]", readError} << Lamp::Red
            << 1 << 0x1FFFF << QByteArray("\xFF");
        QTest::newRow("broken checksum")
            << kExtFiles << ":0100000012EE\r\n" + kEof
            << QStringList{"Error: Invalid file structure , line #1 [Cancel]", readError}
            << Lamp::Red << 2 << 0 << QByteArray("\x12");
        QTest::newRow("S-records without a termination record")
            << kSRecords << QByteArray("S0030000FC\nS20601FFFE12AB3E\nS5030001FB\n")
            << QStringList{"Information: Load range : 1FFFE...1FFFF [OK]"} << Lamp::Green << 3
            << 0x1FFFE << QByteArray("\x12\xAB");
        QTest::newRow("S-record with a wrong count")
            << kSRecords << QByteArray("S1040000 12E9\nS5030002FA\n").replace(" ", "")
            << QStringList{"Error: Invalid file structure , line #2 [Cancel]", readError}
            << Lamp::Red << 3 << 0 << QByteArray("\x12");
        QTest::newRow("file gone between the choice and the reading")
            << kBinFiles << QByteArray() << QStringList{"Error: Input file not found! [OK]"}
            << Lamp::Red << 0 << 0 << QByteArray("\xFF");
    }

    void load() {
        QFETCH(QByteArray, contents);
        const QString name = dir_.filePath("image.hex");
        WriteFile(name, contents);
        WindowRig rig("sim");
        Modals modals({}, {[&](QFileDialog& dialog) {
                          Pick(Row<QString>("filter"), name)(dialog);
                          if (contents.isNull()) {
                              QFile::remove(name);
                          }
                      }});
        rig.Click("ReadFile");
        QTEST(modals.boxes, "boxes");
        QTEST(rig.LampState("LastResult"), "lamp");
        QTEST(int(rig.main->Model().FileType), "fileType");
        QFETCH(QByteArray, loaded);
        const auto* buffer = reinterpret_cast<const char*>(rig.main->Model().DataBuffer.data());
        QCOMPARE(QByteArray(buffer + Row<int>("at"), loaded.size()), loaded);
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), name);
    }

    // Text chosen as a binary image (an sdcc .ihx under "All binary image files") is asked
    // about before anything is stored: Yes loads its records once in its own format, No its
    // characters, Cancel nothing, and the lamp does not turn green. FileType stays as the
    // dialog set it. A binary file, even one that starts with ':', is loaded without a word.
    void binaryLoadOfText_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<Lamp>("lamp");
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("loaded");  // the buffer from `at` on
        const QString buttons = " [Cancel,&Yes,&No]";
        const QString hex =
            "Confirm: The file looks like Intel HEX text, not a binary image.\n"
            "Yes: load its records as Intel HEX extended\n"
            "No: load its characters as a binary image\n"
            "Cancel: load nothing" +
            buttons;
        const QString srec =
            "Confirm: The file looks like Motorola S-record text, not a binary image.\n"
            "Yes: load its records as Motorola S-records\n"
            "No: load its characters as a binary image\n"
            "Cancel: load nothing" +
            buttons;
        const QByteArray sRecords("S0030000FC\nS20601FFFE12AB3E\nS5030001FB\n");
        const QByteArray untouched(16, '\xFF');
        QTest::newRow("Intel Hex, Yes: its records")
            << kAllFiles << kExtendedHex << "&Yes"
            << QStringList{hex, "Information: Load range : 00000...1FFFF [OK]"} << Lamp::Green
            << 0x1FFFF << QByteArray("\xAB");
        QTest::newRow("Intel Hex, No: its characters")
            << kAllFiles << kExtendedHex << "&No" << QStringList{hex} << Lamp::Green << 0
            << kExtendedHex;
        QTest::newRow("Intel Hex, Cancel: nothing")
            << kAllFiles << kExtendedHex << "Cancel" << QStringList{hex} << Lamp::Red << 0
            << untouched;
        QTest::newRow("Intel Hex, box closed: nothing")
            << kBinFiles << kExtendedHex << "(closed)" << QStringList{hex} << Lamp::Red << 0
            << untouched;
        QTest::newRow("S-records, Yes: their records")
            << kBinFiles << sRecords << "&Yes"
            << QStringList{srec, "Information: Load range : 1FFFE...1FFFF [OK]"} << Lamp::Green
            << 0x1FFFE << QByteArray("\x12\xAB");
        QTest::newRow("S-records, No: their characters")
            << kAllFiles << sRecords << "&No" << QStringList{srec} << Lamp::Green << 0 << sRecords;
        const QByteArray colon(":0100000012EDbinary\x00\xFF\r\n", 23);
        QTest::newRow("binary starting with a colon")
            << kAllFiles << colon << "" << QStringList{} << Lamp::Green << 0 << colon;
        const QByteArray plain("\x02\x10\x00\x75\x81\x07", 6);
        QTest::newRow("plain binary")
            << kBinFiles << plain << "" << QStringList{} << Lamp::Green << 0 << plain;
        QTest::newRow("Intel Hex under Intel Hex Extended")
            << kExtFiles << kExtendedHex << ""
            << QStringList{"Information: Load range : 00000...1FFFF [OK]"} << Lamp::Green << 0x1FFFF
            << QByteArray("\xAB");
        QTest::newRow("S-records under S-records")
            << kSRecords << sRecords << ""
            << QStringList{"Information: Load range : 1FFFE...1FFFF [OK]"} << Lamp::Green << 0x1FFFE
            << QByteArray("\x12\xAB");
    }

    void binaryLoadOfText() {
        QFETCH(QString, filter);
        QFETCH(QByteArray, loaded);
        QFETCH(Lamp, lamp);
        const QString name = dir_.filePath("main.ihx");
        WriteFile(name, Row<QByteArray>("contents"));
        WindowRig rig("sim");
        auto& model = rig.main->Model();
        const auto before = model.DataBuffer;
        // The lamp starts at the other colour, so that one left over does not pass.
        rig.main->SetLastResult(lamp == Lamp::Green ? Lamp::Red : Lamp::Green);
        Modals modals({Row<QString>("answer")}, {Pick(filter, name)});
        rig.Click("ReadFile");
        QTEST(modals.boxes, "boxes");
        QCOMPARE(rig.LampState("LastResult"), lamp);
        QCOMPARE(model.ReadError, lamp == Lamp::Red);
        const int fileType = int(kOpenFilterTypes.at(kOpenFilters.indexOf(filter)));
        QCOMPARE(int(model.FileType), fileType);
        const auto* buffer = reinterpret_cast<const char*>(model.DataBuffer.data());
        QCOMPARE(QByteArray(buffer + Row<int>("at"), loaded.size()), loaded);
        if (lamp == Lamp::Red) {
            QVERIFY(model.DataBuffer == before);
        }
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), name);
    }

    void save_data() {
        QTest::addColumn<QString>("filter");  // empty: the one the dialog comes up with
        QTest::addColumn<int>("fileType");    // before the dialog opens
        QTest::addColumn<uint>("start");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("boxes");
        const QByteArray hex = ":03001000010203E7\r\n" + kEof;
        QTest::newRow("binary image") << kBinFile << 2 << 0x10u << QByteArray("\xDE\xAD\xBE\xEF")
                                      << QByteArray("\xDE\xAD\xBE\xEF") << QStringList{};
        QTest::newRow("Intel Hex")
            << kHexFile << 0 << 0x10u << QByteArray("\x01\x02\x03") << hex << QStringList{};
        QTest::newRow("Intel Hex as preselected")
            << QString() << 1 << 0x10u << QByteArray("\x01\x02\x03") << hex << QStringList{};
        QTest::newRow("Intel Hex Extended across 64 KiB")
            << kExtFile << 0 << 0xFFFFu << QByteArray("\xAA\xBB")
            << ":01FFFF00AA57\r\n:020000021000EC\r\n:01000000BB44\r\n" + kEof << QStringList{};
        QTest::newRow("Motorola S-records")
            << kSRecords << 0 << 0xFFFFu << QByteArray("\xAA\xBB")
            << QByteArray("S0030000FC\r\nS20600FFFFAABB96\r\nS5030001FB\r\nS804000000FB\r\n")
            << QStringList{};
        QTest::newRow("plain Intel Hex above FFFFh writes nothing")
            << kHexFile << 0 << 0xFFFFu << QByteArray("\xAA\xBB") << QByteArray("(missing)")
            << QStringList{"Error: Target address above FFFFh [Cancel]"};
    }

    void save() {
        QFETCH(uint, start);
        QFETCH(QByteArray, bytes);
        WindowRig rig("sim");
        auto& model = rig.main->Model();
        model.FileType = std::uint8_t(Row<int>("fileType"));
        model.BufferStart = start;
        model.BufferEnd = start + uint(bytes.size()) - 1;
        std::copy(bytes.begin(), bytes.end(), model.DataBuffer.begin() + start);
        const QString name = dir_.filePath("out.img");
        QFile::remove(name);
        Modals modals({}, {Pick(Row<QString>("filter"), name)});
        rig.Click("SaveFile");
        QTEST(ReadFile(name), "file");
        QTEST(modals.boxes, "boxes");
        QCOMPARE(rig.Find<QLineEdit>("OutFile")->text(), name);
    }

    // A FIFO would freeze the window in open() until a writer or reader comes: refused.
    void pipesAreRefused() {
        const QString name = dir_.filePath("fifo");
        QFile::remove(name);
        QVERIFY(::mkfifo(QFile::encodeName(name).constData(), 0600) == 0);
        WindowRig rig("sim");
        const QString refused = "Error: The file is a pipe (FIFO): choose a regular file [Cancel]";
        {
            Modals modals({}, {Pick(kBinFiles, name)});
            rig.Click("ReadFile");
            QCOMPARE(modals.boxes, QStringList{refused});
            QCOMPARE(rig.LampState("LastResult"), Lamp::Red);
        }
        {
            Modals modals({"&Yes"}, {Pick(kBinFile, name)});
            rig.Click("SaveFile");
            QCOMPARE(modals.boxes.last(), refused);
        }
        QFile::remove(name);
    }

    // Both dialogs come up on the current FileType, which a filter picked in either sets (even
    // when then cancelled). Cancelling loads and saves nothing.
    void dialogsShareTheFileType_data() {
        QTest::addColumn<int>("fileType");
        QTest::addColumn<QString>("picked");  // in the open dialog
        QTest::addColumn<QStringList>("shown");
        auto shown = [](const QString& open, const QString& save) {
            return QStringList{"OpenDialog: " + open, "SaveDialog: " + save};
        };
        QTest::newRow("binary") << 0 << "" << shown(kAllFiles, kBinFile);
        QTest::newRow("Intel Hex") << 1 << "" << shown(kHexFiles, kHexFile);
        QTest::newRow("Intel Hex Extended") << 2 << "" << shown(kExtFiles, kExtFile);
        QTest::newRow("picked in the open dialog") << 0 << kHexFiles << shown(kAllFiles, kHexFile);
        QTest::newRow("S-records") << 3 << "" << shown(kSRecords, kSRecords);
        QTest::newRow("S-records picked") << 1 << kSRecords << shown(kHexFiles, kSRecords);
    }

    void dialogsShareTheFileType() {
        const QString name = dir_.filePath("image.bin");
        WriteFile(name, "\x01");
        WindowRig rig("sim");
        rig.Find<QFileDialog>("OpenDialog")->selectNameFilter(kBinFiles);
        rig.Find<QFileDialog>("SaveDialog")->selectNameFilter(kExtFile);
        rig.main->Model().FileType = std::uint8_t(Row<int>("fileType"));
        Modals modals({}, {Pick(Row<QString>("picked"), name, false), Pick({}, name, false)});
        rig.Click("ReadFile");
        rig.Click("SaveFile");
        QTEST(modals.dialogs, "shown");
        QCOMPARE(modals.boxes, QStringList{});
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text() + rig.Find<QLineEdit>("OutFile")->text(),
                 QString());
        QCOMPARE(rig.LampState("LastResult"), Lamp::ButtonFace);
        QCOMPARE(rig.main->Model().DataBuffer[0], 0xFF);
        QCOMPARE(ReadFile(name), QByteArray("\x01"));
    }

    // Qt splits a filter's patterns at spaces only: the S-record filter must still list each
    // suffix, preselected (open, save) or picked from another (open).
    void sRecordFilterMatchesEachSuffix() {
        WindowRig rig("sim");
        rig.main->Model().FileType = 3;
        QStringList seen;
        const auto look = [&](QFileDialog& dialog) {
            auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            while (combo->currentText() != kSRecords && combo->currentIndex() > 0) {
                QTest::keyClick(combo, Qt::Key_Up);  // leave it, to come back by the keyboard
            }
            while (combo->currentText() != kSRecords &&
                   combo->currentIndex() < combo->count() - 1) {
                QTest::keyClick(combo, Qt::Key_Down);
            }
            seen << dialog.findChild<QFileSystemModel*>()->nameFilters().join(' ');
            dialog.reject();
        };
        Modals modals({}, {look, look, look});
        rig.Click("ReadFile");
        rig.Click("SaveFile");
        rig.main->Model().FileType = 0;
        rig.Click("ReadFile");
        const QString each = "*.s19 *.s28 *.s37 *.srec *.mot";
        QCOMPARE(seen, (QStringList{each, each, each}));
        QCOMPARE(int(rig.main->Model().FileType), 3);
    }

  private:
    QTemporaryDir dir_;
};
QTEST_MAIN(WindowTest)
#include "window_test.moc"
