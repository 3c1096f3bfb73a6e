// The main window on the simulated emulator, its boxes and its real file dialogs.
#include <unistd.h>

#include "WindowRig.h"
#include "tests/support/FakeParport.h"

using tarvex::Lamp;
using namespace tarvex::testing;

const QString kAllFiles = "All binary image files (*.*)", kBinFiles = "Binary image files (*.BIN)";
const QString kHexFiles = "Intel Hex files (*.HEX)", kExtFiles = "Intel Hex Extended files (*.HEX)";
const QString kBinFile = "Binary image file (*.BIN)", kHexFile = "Intel Hex file (*.HEX)";
const QString kExtFile = "Intel Hex Extended file (*.HEX)";
const QString kSRecords = "Motorola S-record files (*.s19;*.s28;*.s37;*.srec;*.mot)";
const QByteArray kEof = ":00000001FF\r\n";
// Data at 00000 and, behind an extended segment address record, at 1FFFF.
const QByteArray kExtendedHex = ":0100000012ED\r\n:020000021000EC\r\n:01FFFF00AB56\r\n" + kEof;

static QByteArray ReadFile(const QString& name) {
    QFile file(name);
    if (!QFileInfo(name).isFile()) {
        return QFileInfo::exists(name) ? "(pipe)" : "(missing)";
    }
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
        // Qt splits a filter's patterns at spaces only: each suffix must still be listed,
        // preselected or picked, in either dialog.
        if (dialog.selectedNameFilter() == kSRecords) {
            QCOMPARE(dialog.findChild<QFileSystemModel*>()->nameFilters().join(' '),
                     "*.s19 *.s28 *.s37 *.srec *.mot");
        }
    };
}

const QString kUnknown = " unknown ";
const QString kQuestion =
    "Confirm: The author of Tarvex Loader appreciates\n"
    "the fact, that  you  want to have more\n"
    "then one copy running simultaneously.\n\n"
    "But don't you think one  _is_  enough? [&Yes,&No]";
const QString kUsage =
    "Error: " + QString::fromStdString(tarvex::DisplayText(tarvex::kUsageMessage)) + " [OK]";
const QString kNoAccess = "Error: Could not initialize direct port access !\n\nTARVEX_IO=bogus";
struct StartUpRow {
    const char* name;
    QString io;
    QStringList arguments;
    QString answer, port, box;  // answer: to the question of another copy; box: its start
    int exitStatus;
    QString runtime;  // XDG_RUNTIME_DIR, if not empty ("runtime-file" is a file)
} const kStartUp[] = {
    {"emulator at 0x378", "sim", {}, "", "  0x0378", "", 0, ""},
    {"no emulator", "sim:none", {}, "", kUnknown, "", 0, ""},
    {"/? asks for help", "sim", {"/?"}, "", "  0x0378", kUsage, 0, ""},
    {"unknown port access", "bogus", {}, "", kUnknown, kNoAccess, 1, ""},
    {"another copy runs, yes", "sim", {}, "&Yes", kUnknown, kQuestion, 0, ""},
    {"another copy runs, no", "sim", {}, "&No", "  0x0378", kQuestion, 0, ""},
    // Only a lock another copy holds raises the question; one that cannot be made falls back
    // to /tmp/runtime-UID (the other folder cases are the start-up rules' unit rows).
    {"runtime folder not a folder", "sim", {}, "", "  0x0378", "", 0, "runtime-file"},
};

struct BoxInputRow {
    const char* name;
    QString box;
    int chosen, key;  // item chosen first (-1: as start-up left it); key (0: a wheel's notch)
    bool focused;
    QString shown;
    bool refilled;
} const kBoxInput[] = {
    {"wheel: type box without the focus", "EpromType", -1, 0, false, "  27010", false},
    {"wheel: port box without the focus", "PortSelect", -1, 0, false, "  0x0378", false},
    {"wheel: type box with the focus", "EpromType", -1, 0, true, "  27512", true},
    {"Up on 27010", "EpromType", -1, Qt::Key_Up, true, "  27512", true},
    {"Up on 0x0278, the first port", "PortSelect", 0, Qt::Key_Up, true, "  0x0278", false},
};

const QString kBad = "sim:0x378/bad=0x100";
// Nothing answers after the transfer: no emulator at all, or the cable pulled during it.
const QString kPulled = "sim:0x378/pull=20000";
struct DeviceCommandRow {
    const char* name;
    QString io, before;  // before: a command clicked first
    bool autoVerify;
    QString command;
    Lamp result;
} const kDeviceCommands[] = {
    {"write and verify", "sim", "", true, "Write", Lamp::Green},
    {"verify after write", "sim", "Write", false, "Verify", Lamp::Green},
    {"verify without write", "sim", "", false, "Verify", Lamp::Red},
    {"read", "sim", "", false, "Read", Lamp::Green},
    {"bad cell: write and verify", kBad, "", true, "Write", Lamp::Red},
    {"cable pulled: read", kPulled, "", false, "Read", Lamp::Red},
    {"cable pulled: verify after write", kPulled, "Write", false, "Verify", Lamp::Red},
    {"cable pulled: write and verify of an erased image", kPulled, "", true, "Write", Lamp::Red},
};

const QString kReadError = "Error: File read error [Cancel]";
const QString kBadType = "Error: Invalid record type , line #2 [Cancel]";
const QString kNotFound = "Error: Input file not found! [OK]";
// A FIFO would freeze the window in open() until a writer or reader comes: refused.
const QString kPipe = "Error: The file is a pipe (FIFO): choose a regular file [Cancel]";
const QString kRange00000 = "Information: Load range : 00000...1FFFF [OK]";
const QString kRange1FFFE = "Information: Load range : 1FFFE...1FFFF [OK]";
const QString kAsk =
    "Confirm: The file looks like %1 text, not a binary image.\n"
    "Yes: load its records as %2\n"
    "No: load its characters as a binary image\n"
    "Cancel: load nothing [Cancel,&Yes,&No]";
const QString kAskHex = kAsk.arg("Intel HEX", "Intel HEX extended");
const QString kAskSrec = kAsk.arg("Motorola S-record", "Motorola S-records");
const QByteArray kSRecordText("S0030000FC\nS20601FFFE12AB3E\nS5030001FB\n");
const QByteArray kColon(":0100000012EDbinary\x00\xFF\r\n", 23);
const QByteArray kUntouched(16, '\xFF');
constexpr Lamp kGreen = Lamp::Green, kRed = Lamp::Red;
struct LoadRow {
    const char* name;
    QString filter;
    QByteArray contents;  // null: removed once chosen
    QString answer;       // to a question, if one comes
    QStringList boxes;
    Lamp lamp;
    int at;
    QByteArray loaded;  // the buffer from `at` on
} const kLoad[] = {
    // clang-format off
    {"extended records under Intel Hex Extended", kExtFiles, kExtendedHex, "", {kRange00000}, kGreen, 0x1FFFF, "\xAB"},
    {"extended records refused under plain Intel Hex", kHexFiles, kExtendedHex, "", {kBadType, kReadError}, kRed,
     0x1FFFF, "\xFF"},
    {"S-records without a termination record", kSRecords, kSRecordText, "", {kRange1FFFE}, kGreen, 0x1FFFE, "\x12\xAB"},
    {"file gone between the choice and the reading", kBinFiles, QByteArray(), "", {kNotFound}, kRed, 0, "\xFF"},
    {"Intel Hex as binary, Yes: its records", kAllFiles, kExtendedHex, "&Yes", {kAskHex, kRange00000}, kGreen,
     0x1FFFF, "\xAB"},
    {"Intel Hex as binary, No: its characters", kAllFiles, kExtendedHex, "&No", {kAskHex}, kGreen, 0, kExtendedHex},
    {"Intel Hex as binary, Cancel: nothing", kAllFiles, kExtendedHex, "Cancel", {kAskHex}, kRed, 0, kUntouched},
    {"Intel Hex as binary, box closed: nothing", kBinFiles, kExtendedHex, "(closed)", {kAskHex}, kRed, 0, kUntouched},
    {"S-records as binary, Yes: their records", kBinFiles, kSRecordText, "&Yes", {kAskSrec, kRange1FFFE}, kGreen,
     0x1FFFE, "\x12\xAB"},
    {"binary starting with a colon", kAllFiles, kColon, "", {}, kGreen, 0, kColon},
    {"a pipe", kBinFiles, "(pipe)", "", {kPipe}, kRed, 0, "\xFF"},
    // clang-format on
};

const QByteArray kHexSaved = ":03001000010203E7\r\n" + kEof;
struct SaveRow {
    const char* name;
    QString filter;
    int fileType;  // before the dialog opens
    uint start;
    QByteArray bytes, file;
    QStringList boxes;
} const kSave[] = {
    // clang-format off
    {"binary image", kBinFile, 2, 0x10, "\xDE\xAD\xBE\xEF", "\xDE\xAD\xBE\xEF", {}},
    {"Intel Hex", kHexFile, 0, 0x10, "\x01\x02\x03", kHexSaved, {}},
    {"Intel Hex Extended across 64 KiB", kExtFile, 0, 0xFFFF, "\xAA\xBB",
     ":01FFFF00AA57\r\n:020000021000EC\r\n:01000000BB44\r\n" + kEof, {}},
    {"Motorola S-records", kSRecords, 0, 0xFFFF, "\xAA\xBB",
     "S0030000FC\r\nS20600FFFFAABB96\r\nS5030001FB\r\nS804000000FB\r\n", {}},
    {"plain Intel Hex above FFFFh writes nothing", kHexFile, 0, 0xFFFF, "\xAA\xBB", "(missing)",
     {"Error: Target address above FFFFh [Cancel]"}},
    {"a pipe", kBinFile, 0, 0x10, "\x01", "(pipe)", {kPipe}},
    // clang-format on
};

struct DialogsRow {
    const char* name;
    int fileType;
    QString picked;  // in the open dialog
    QString open, save;
} const kDialogs[] = {
    {"binary", 0, "", kAllFiles, kBinFile},
    {"Intel Hex Extended", 2, "", kExtFiles, kExtFile},
    {"S-records", 3, "", kSRecords, kSRecords},
    {"S-records picked", 1, kSRecords, kHexFiles, kSRecords},
};

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(UseOwnDirectories() && dir_.isValid()); }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // A box ends the program after start-up, unless told to go on. A found emulator gets 27010.
    void startUp_data() { AddRows(kStartUp); }

    void startUp() {
        const auto& row = TheRow(kStartUp);
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", saved); });
        if (!row.runtime.isEmpty()) {
            WriteFile(dir_.filePath("runtime-file"), "not a folder");
            qputenv("XDG_RUNTIME_DIR", dir_.filePath(row.runtime).toLocal8Bit());
            const auto fallback = tarvex::InstanceLockDirectories(nullptr, ::getuid()).back();
            if (tarvex::InstanceLock().Acquire(fallback, true) ==
                tarvex::LockOutcome::HeldElsewhere) {
                QSKIP("a Tarvex32 of this user runs and holds the fallback lock");
            }
        }
        tarvex::InstanceLock other;
        QVERIFY(row.answer.isEmpty() || (other.Acquire() && other.Held()));
        Modals modals({row.answer});
        WindowRig rig(row.io, row.arguments);
        QCOMPARE(modals.boxes.size(), row.box.isEmpty() ? 0 : 1);
        QCOMPARE(modals.boxes.value(0).left(row.box.size()), row.box);
        const bool found = row.port != kUnknown;
        QCOMPARE(rig.ComboText("PortSelect"), row.port);
        QCOMPARE(rig.ComboText("EpromType"), found ? "  27010" : "  not set");
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), row.arguments.value(0));
        QTRY_COMPARE_WITH_TIMEOUT(rig.LampState("ResetLED"), found ? Lamp::Red : Lamp::Yellow, 500);
        QCOMPARE(rig.main->TerminationRequested(), !row.box.isEmpty() && row.answer != "&No");
        QCOMPARE(rig.main->ExitStatus(), row.exitStatus);
        QVERIFY(!tarvex::InstanceLock().Acquire());  // held by this window or the other
        // A copy told to end leaves the other copy's port alone, on the way out as well.
        const bool toldToEnd = row.answer == "&Yes";
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

    void boxInput_data() { AddRows(kBoxInput); }

    // A wheel turned over a box changes it only while the box has the keyboard focus; the
    // arrow keys move from the entry shown, never from another one the list still points at.
    // A type change refills the image.
    void boxInput() {
        const auto& row = TheRow(kBoxInput);
        WindowRig rig("sim");
        auto* combo = rig.Find<QComboBox>(row.box);
        if (row.chosen >= 0) {
            row.box == "EpromType" ? rig.main->EpromTypeChange(row.chosen)
                                   : rig.main->PortSelectChange(row.chosen);
        }
        rig.main->Model().DataBuffer[0x100] = 0x12;  // a loaded byte
        if (row.key == 0) {
            rig.main->show();
            QVERIFY(QTest::qWaitForWindowActive(rig.main.get()));
            (row.focused ? combo : rig.Find("ReadFile"))->setFocus();
            const QPoint middle = combo->rect().center();
            QWheelEvent notch(middle, combo->mapToGlobal(middle), {}, {0, 120}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(combo, &notch);  // where it arrives from the box's line edit
        } else {
            QCOMPARE(combo->itemText(combo->currentIndex()).trimmed(),
                     rig.ComboText(row.box).trimmed());
            QTest::keyClick(combo, Qt::Key(row.key));
        }
        QCOMPARE(rig.ComboText(row.box), row.shown);
        QCOMPARE(rig.main->Model().DataBuffer[0x100] == 0xFF, row.refilled);
    }

    void deviceCommands_data() { AddRows(kDeviceCommands); }

    // While a command runs, the window takes no input, stays open and shows no old result.
    void deviceCommands() {
        const auto& row = TheRow(kDeviceCommands);
        const QString command = "Tarvex" + row.command;
        WindowRig rig(row.io);
        rig.main->show();
        if (!row.before.isEmpty()) {
            rig.Click("Tarvex" + row.before);
        }
        rig.main->Model().AutoVerify = row.autoVerify;
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
        QCOMPARE(rig.LampState("LastResult"), row.result);
        QVERIFY(rig.main->isEnabled() && rig.main->isVisible());
        // Write takes the focus; the others leave it where it was.
        QCOMPARE(rig.main->focusWidget()->objectName(),
                 command == "TarvexWrite" ? command : QStringLiteral("ReadFile"));
    }

    // Typed text falls back to the port in use without a probe. Choosing a port probes it and
    // lets events through meanwhile: no command, dialog or test may start inside the probe.
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
        bool clicked = false, testOpened = false;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(100, [&] {  // ends a test that started after all
                testOpened =
                    rig.main->StdTestWindow().isVisible() || rig.main->ExtTestWindow().isVisible();
                ClickIn(&rig.main->StdTestWindow(), "StopTest");
                ClickIn(&rig.main->ExtTestWindow(), "Exit");
            });
            for (const char* name : {"TarvexWrite", "ToggleReset", "ReadFile", "SaveFile"}) {
                rig.Click(name);
            }
            rig.main->SingleLinesClick();
            rig.main->ContinuousTestClick();
            clicked = true;
        });
        QTest::keyClick(combo, Qt::Key_Up);  // to 0x0278, where nothing answers
        QTest::qWait(150);
        QVERIFY(clicked && !testOpened);
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

    void load_data() { AddRows(kLoad); }

    // Text chosen as a binary image (an sdcc .ihx under "All binary image files") is asked
    // about before anything is stored: Yes loads its records once in its own format, No its
    // characters, Cancel nothing, and the lamp does not turn green. FileType stays as the
    // dialog set it. A binary file, even one that starts with ':', is loaded without a word.
    void load() {
        const auto& row = TheRow(kLoad);
        const QString name = dir_.filePath("image.hex");
        WriteFile(name, row.contents);
        WindowRig rig("sim");
        auto& model = rig.main->Model();
        // The lamp starts at the other colour, so that one left over does not pass.
        rig.main->SetLastResult(row.lamp == Lamp::Green ? Lamp::Red : Lamp::Green);
        Modals modals({row.answer}, {[&](QFileDialog& dialog) {
                          Pick(row.filter, name)(dialog);
                          if (row.contents.isNull()) {
                              QFile::remove(name);
                          }
                      }});
        rig.Click("ReadFile");
        QCOMPARE(modals.boxes, row.boxes);
        QCOMPARE(rig.LampState("LastResult"), row.lamp);
        // A missing file or a pipe is refused before any reading: no read error.
        if (!row.contents.isNull() && row.boxes != QStringList{kPipe}) {
            QCOMPARE(model.ReadError, row.lamp == Lamp::Red);
        }
        QCOMPARE(model.FileType == 0, row.filter == kAllFiles || row.filter == kBinFiles);
        const auto* buffer = reinterpret_cast<const char*>(model.DataBuffer.data());
        QCOMPARE(QByteArray(buffer + row.at, row.loaded.size()), row.loaded);
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), name);
    }

    void save_data() { AddRows(kSave); }

    void save() {
        const auto& row = TheRow(kSave);
        WindowRig rig("sim");
        auto& model = rig.main->Model();
        model.FileType = std::uint8_t(row.fileType);
        model.BufferStart = row.start;
        model.BufferEnd = row.start + uint(row.bytes.size()) - 1;
        std::copy(row.bytes.begin(), row.bytes.end(), model.DataBuffer.begin() + row.start);
        const QString name = dir_.filePath("out.img");
        row.file == "(pipe)" ? WriteFile(name, row.file) : void(QFile::remove(name));
        Modals modals({}, {Pick(row.filter, name)});
        rig.Click("SaveFile");
        QCOMPARE(ReadFile(name), row.file);
        QCOMPARE(modals.boxes.mid(row.file == "(pipe)"), row.boxes);  // after Qt's "replace?"
        QCOMPARE(rig.Find<QLineEdit>("OutFile")->text(), name);
    }

    // Both dialogs come up on the current FileType, which a filter picked in either sets (even
    // when then cancelled). Cancelling loads and saves nothing.
    void dialogsShareTheFileType_data() { AddRows(kDialogs); }

    void dialogsShareTheFileType() {
        const QString name = dir_.filePath("image.bin");
        WriteFile(name, "\x01");
        WindowRig rig("sim");
        rig.Find<QFileDialog>("OpenDialog")->selectNameFilter(kBinFiles);
        rig.Find<QFileDialog>("SaveDialog")->selectNameFilter(kExtFile);
        const auto& row = TheRow(kDialogs);
        rig.main->Model().FileType = std::uint8_t(row.fileType);
        Modals modals({}, {Pick(row.picked, name, false), Pick({}, name, false)});
        rig.Click("ReadFile");
        rig.Click("SaveFile");
        QCOMPARE(modals.dialogs,
                 (QStringList{"OpenDialog: " + row.open, "SaveDialog: " + row.save}));
        QCOMPARE(modals.boxes, QStringList{});
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text() + rig.Find<QLineEdit>("OutFile")->text(),
                 QString());
        QCOMPARE(rig.LampState("LastResult"), Lamp::ButtonFace);
        QCOMPARE(rig.main->Model().DataBuffer[0], 0xFF);
        QCOMPARE(ReadFile(name), QByteArray("\x01"));
    }

  private:
    QTemporaryDir dir_;
};
QTEST_MAIN(WindowTest)
#include "window_test.moc"
