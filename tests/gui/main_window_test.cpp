// The main window's start-up states, its boxes, its layout and how it ends.
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "WindowRig.h"
#include "app/StartupRules.h"

using tarvex::Lamp;
using tarvex::TMain;
using tarvex::testing::BoxAnswerer;
using tarvex::testing::Shown;
using tarvex::testing::WindowRig;

namespace {

std::vector<std::string> ToArguments(const QStringList& list) {
    std::vector<std::string> arguments;
    for (const QString& item : list) {
        arguments.push_back(item.toStdString());
    }
    return arguments;
}

const QString kTitle = QString::fromLatin1(tarvex::kProgramTitle);

}  // namespace

Q_DECLARE_METATYPE(Lamp)

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        // A runtime directory of our own: the instance lock of a real Tarvex32, or of a test
        // running beside this one, must not count as another instance here.
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void startUpState_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<QString>("inFile");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<Lamp>("resetLamp");
        QTest::addColumn<bool>("terminates");
        QTest::addColumn<int>("exitStatus");

        const QString at378 = QStringLiteral("  0x0378");
        const QString type = QStringLiteral("  27010");
        const QString unknown = QStringLiteral(" unknown ");
        const QString notSet = QStringLiteral("  not set");
        // After the type selection the target is held in RESET: the lamp shows red.
        QTest::newRow("emulator at 0x378")
            << "sim" << QStringList{} << at378 << type << "" << kTitle << Lamp::Red << false << 0;
        QTest::newRow("emulator at 0x278") << "sim:0x278" << QStringList{} << "  0x0278" << type
                                           << "" << kTitle << Lamp::Red << false << 0;
        QTest::newRow("emulator at 0x3BC") << "sim:0x3BC" << QStringList{} << "  0x03BC" << type
                                           << "" << kTitle << Lamp::Red << false << 0;
        QTest::newRow("no emulator") << "sim:none" << QStringList{} << unknown << notSet << ""
                                     << kTitle << Lamp::Yellow << false << 0;
        QTest::newRow("echo without RESET feedback")
            << "sim:0x378/noreset" << QStringList{} << at378 << type << "" << kTitle
            << Lamp::ButtonFace << false << 0;
        QTest::newRow("file argument shown, not loaded")
            << "sim" << QStringList{"image.bin"} << at378 << type << "image.bin" << kTitle
            << Lamp::Red << false << 0;
        QTest::newRow("single H is a file name") << "sim" << QStringList{"H"} << at378 << type
                                                 << "H" << kTitle << Lamp::Red << false << 0;
        QTest::newRow("/hh is a file name") << "sim" << QStringList{"/hh"} << at378 << type << "/hh"
                                            << kTitle << Lamp::Red << false << 0;
    }

    void startUpState() {
        QFETCH(QString, io);
        QFETCH(QStringList, arguments);
        BoxAnswerer answerer({});
        WindowRig rig(io.toLatin1().constData(), ToArguments(arguments));
        QVERIFY2(answerer.seen.isEmpty(), qPrintable(answerer.seen.value(0).text));
        QTEST(rig.ComboText("PortSelect"), "portText");
        QTEST(rig.ComboText("EpromType"), "typeText");
        QTEST(rig.Find<QLineEdit>("InFile")->text(), "inFile");
        QTEST(rig.main->windowTitle(), "caption");
        QFETCH(Lamp, resetLamp);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Lamp("ResetLED")->State(), resetLamp, 500);
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::ButtonFace);
        QTEST(rig.main->TerminationRequested(), "terminates");
        QTEST(rig.main->ExitStatus(), "exitStatus");
    }

    void interactiveStartSelects27010() {
        WindowRig rig("sim");
        const tarvex::ImageModel& model = rig.main->Model();
        QCOMPARE(model.CurrentEpromType, 27010);
        QCOMPARE(model.BufferStart, 0u);
        QCOMPARE(model.BufferEnd, 0x1FFFFu);
        QVERIFY(std::all_of(model.DataBuffer.begin(), model.DataBuffer.end(),
                            [](std::uint8_t byte) { return byte == 0xFF; }));
        const auto config = rig.bus->WithDevice(
            0x378, [](tarvex::sim::SimEmulator* device) { return device->ConfigLatch(); });
        QCOMPARE(config, std::uint8_t{0x08});
    }

    void startUpBoxes_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("exactText");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("exitStatus");

        const QString usage = Shown(tarvex::kUsageMessage);
        const int critical = QMessageBox::Critical;
        QTest::newRow("/? asks for help") << "sim" << QStringList{"/?"} << "Error" << critical
                                          << QStringList{"OK"} << true << usage << 0;
        QTest::newRow("-? asks for help") << "sim" << QStringList{"-?"} << "Error" << critical
                                          << QStringList{"OK"} << true << usage << 0;
        QTest::newRow("x? asks for help") << "sim" << QStringList{"x?"} << "Error" << critical
                                          << QStringList{"OK"} << true << usage << 0;
        QTest::newRow("/h asks for help") << "sim" << QStringList{"/h"} << "Error" << critical
                                          << QStringList{"OK"} << true << usage << 0;
        QTest::newRow("-H asks for help") << "sim" << QStringList{"-H"} << "Error" << critical
                                          << QStringList{"OK"} << true << usage << 0;
        QTest::newRow("five arguments") << "sim" << QStringList{"a", "b", "c", "d", "e"} << "Error"
                                        << critical << QStringList{"OK"} << true << usage << 2;
        QTest::newRow("unknown port access")
            << "bogus" << QStringList{} << "Error" << critical << QStringList{"Cancel"} << false
            << "Could not initialize direct port access !\n\nTARVEX_IO=bogus" << 1;
    }

    // Every start-up box ends the program, after the rest of start-up has run.
    void startUpBoxes() {
        QFETCH(QString, io);
        QFETCH(QStringList, arguments);
        QFETCH(QString, text);
        BoxAnswerer answerer({});
        WindowRig rig(io.toLatin1().constData(), ToArguments(arguments));
        QCOMPARE(answerer.seen.size(), 1);
        const auto& box = answerer.seen.front();
        QTEST(box.title, "title");
        QTEST(int(box.icon), "icon");
        QTEST(box.buttons, "buttons");
        QVERIFY(box.linesWhole);
        QFETCH(bool, exactText);
        if (exactText) {
            QCOMPARE(box.text, text);
        } else {
            QVERIFY2(box.text.startsWith(text), qPrintable(box.text));
        }
        QVERIFY(rig.main->TerminationRequested());
        QTEST(rig.main->ExitStatus(), "exitStatus");
        QCOMPARE(rig.main->windowTitle(), kTitle);
        QVERIFY(!rig.ComboText("PortSelect").isEmpty());
    }

    void secondInstance_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("terminates");
        QTest::newRow("yes ends the program") << "&Yes" << true;
        QTest::newRow("no runs beside the first") << "&No" << false;
    }

    void secondInstance() {
        QFETCH(QString, answer);
        tarvex::InstanceLock first;
        QVERIFY(first.Acquire());
        BoxAnswerer answerer({answer});
        WindowRig rig("sim");
        QCOMPARE(answerer.seen.size(), 1);
        const auto& box = answerer.seen.front();
        QCOMPARE(box.title, QStringLiteral("Confirm"));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.buttons, (QStringList{"&Yes", "&No"}));
        QVERIFY(box.linesWhole);
        QCOMPARE(box.text, QStringLiteral("The author of Tarvex Loader appreciates\n"
                                          "the fact, that  you  want to have more\n"
                                          "then one copy running simultaneously.\n"
                                          "\n"
                                          "But don't you think one  _is_  enough?"));
        QTEST(rig.main->TerminationRequested(), "terminates");
        // Start-up goes on either way.
        QCOMPARE(rig.ComboText("PortSelect"), QStringLiteral("  0x0378"));
        QCOMPARE(rig.main->ExitStatus(), 0);
    }

    void firstInstanceHoldsTheLock() {
        WindowRig rig("sim");
        tarvex::InstanceLock second;
        QVERIFY(!second.Acquire());
        rig.main.reset();
        QVERIFY(second.Acquire());
    }

    void messageBoxes_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("answer");
        using tarvex::MessageAnswer;
        using tarvex::MessageButtons;
        using tarvex::MessageKind;
        QTest::newRow("error with Cancel")
            << int(MessageKind::Error) << int(MessageButtons::Cancel) << "Cancel"
            << "Error" << int(QMessageBox::Critical) << int(MessageAnswer::Cancel);
        QTest::newRow("information with OK")
            << int(MessageKind::Information) << int(MessageButtons::Ok) << "OK"
            << "Information" << int(QMessageBox::Information) << int(MessageAnswer::Ok);
        QTest::newRow("warning with OK")
            << int(MessageKind::Warning) << int(MessageButtons::Ok) << "OK"
            << "Warning" << int(QMessageBox::Warning) << int(MessageAnswer::Ok);
        QTest::newRow("confirm answered yes")
            << int(MessageKind::Confirm) << int(MessageButtons::YesNo) << "&Yes"
            << "Confirm" << int(QMessageBox::Question) << int(MessageAnswer::Yes);
        QTest::newRow("confirm answered no")
            << int(MessageKind::Confirm) << int(MessageButtons::YesNo) << "&No"
            << "Confirm" << int(QMessageBox::Question) << int(MessageAnswer::No);
    }

    void messageBoxes() {
        QFETCH(int, kind);
        QFETCH(int, buttons);
        QFETCH(QString, click);
        WindowRig rig("sim");
        BoxAnswerer answerer({click});
        const auto answer = rig.main->ShowMessage(
            static_cast<tarvex::MessageKind>(kind),
            "               Tarvex write && verify operations OK!\r\r*** && ***",
            static_cast<tarvex::MessageButtons>(buttons));
        QCOMPARE(answerer.seen.size(), 1);
        QTEST(answerer.seen.front().title, "title");
        QTEST(int(answerer.seen.front().icon), "icon");
        QCOMPARE(
            answerer.seen.front().text,
            QStringLiteral("               Tarvex write & verify operations OK!\n\n*** & ***"));
        QTEST(int(answer), "answer");
    }

    void closingTheQuestionAnswersNo() {
        WindowRig rig("sim");
        QTimer::singleShot(50, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        QCOMPARE(
            rig.main->ShowMessage(tarvex::MessageKind::Confirm, "?", tarvex::MessageButtons::YesNo),
            tarvex::MessageAnswer::No);
    }

    void geometry_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hint");
        auto row = [](const char* name, const char* parent, QRect place, const char* text,
                      const char* hint) {
            QTest::newRow(name) << name << parent << place << text << hint;
        };
        row("GroupBox1", "Main", {8, 11, 337, 90}, " Files ", "");
        row("InFile", "GroupBox1", {9, 18, 225, 21}, "", "");
        row("OutFile", "GroupBox1", {9, 54, 225, 21}, "", "");
        row("ReadFile", "GroupBox1", {245, 16, 81, 25}, "&Load From",
            " Read data from file to buffer ");
        row("SaveFile", "GroupBox1", {245, 52, 81, 25}, "&Save To", " Write buffer data to file ");
        row("GroupBox2", "Main", {357, 11, 117, 173}, " Actions ", "");
        row("TarvexWrite", "GroupBox2", {10, 16, 97, 25}, "&Write",
            " Copy buffer to Tarvex memory ");
        row("TarvexRead", "GroupBox2", {10, 47, 97, 25}, "&Read", " Read Tarvex memory to buffer ");
        row("TarvexVerify", "GroupBox2", {10, 78, 97, 25}, "&Verify",
            " Compare Tarvex memory with buffer ");
        row("TarvexTest", "GroupBox2", {10, 109, 97, 25}, "&Test", " Test Tarvex operation ");
        row("ToggleReset", "GroupBox2", {10, 140, 97, 25}, "&Manual Reset",
            " Toggle RESET line state ");
        row("GroupBox3", "Main", {8, 112, 337, 72}, " Configuration ", "");
        row("SetOptions", "GroupBox3", {245, 18, 81, 25}, "&Options",
            " Show current buffer state ");
        row("ResetLED", "GroupBox3", {248, 52, 22, 9}, "", " Reset state ");
        row("LastResult", "GroupBox3", {302, 52, 22, 9}, "",
            " Last operation result: pass or fail ");
        row("PortSelect", "Main", {19, 135, 71, 21}, "", " Hexadecimal Centronics port address ");
        row("EpromType", "Main", {136, 135, 71, 21}, "", " Emulated EPROM type ");
        row("ProgressBar", "Main", {8, 196, 466, 16}, "", "");
    }

    void geometry() {
        QFETCH(QString, name);
        WindowRig rig("sim");
        QCOMPARE(rig.main->size(), QSize(481, 223));
        QCOMPARE(rig.main->minimumSize(), rig.main->maximumSize());
        auto* widget = rig.main->findChild<QWidget*>(name);
        QVERIFY(widget);
        QTEST(widget->parentWidget()->objectName(), "parent");
        QTEST(widget->geometry(), "place");
        QString text;
        if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            text = group->title();
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
            QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        }
        QTEST(text, "text");
        QTEST(widget->toolTip(), "hint");
        if (!widget->toolTip().isEmpty()) {
            QCOMPARE(widget->toolTipDuration(), 10000);
        }
    }

    void labelsAndLists() {
        WindowRig rig("sim");
        auto* label1 = rig.Find<QLabel>("Label1");
        auto* label2 = rig.Find<QLabel>("Label2");
        QCOMPARE(label1->pos(), QPoint(12, 46));
        QCOMPARE(label2->pos(), QPoint(130, 46));
        QCOMPARE(label1->text(), QStringLiteral("&Port  Address"));
        QCOMPARE(label2->text(), QStringLiteral("&EPROM type"));
        QCOMPARE(label1->buddy(), rig.Find<QComboBox>("PortSelect"));
        QCOMPARE(label2->buddy(), rig.Find<QComboBox>("EpromType"));
        QVERIFY(label1->geometry().right() < label2->x());
        auto items = [](QComboBox* combo) {
            QStringList list;
            for (int i = 0; i < combo->count(); ++i) {
                list << combo->itemText(i);
            }
            return list;
        };
        QCOMPARE(items(rig.Find<QComboBox>("PortSelect")),
                 (QStringList{"  0x0278", "  0x0378", "  0x03BC"}));
        QCOMPARE(items(rig.Find<QComboBox>("EpromType")),
                 (QStringList{"     2764 ", "   27128 ", "   27256 ", "   27512 ", "   27010 "}));
    }

    // The pixel layout was made for a smaller font: every text must still fit its control.
    void textsFit_data() {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<QString>("text");
        for (const char* text : {"  0x0278", "  0x0378", "  0x03BC", " unknown "}) {
            QTest::addRow("PortSelect '%s'", text) << "PortSelect" << text;
        }
        for (const auto& type : tarvex::kEpromTypes) {
            QTest::addRow("EpromType '%s'", type.text) << "EpromType" << type.text;
        }
        QTest::newRow("EpromType '  not set'") << "EpromType"
                                               << "  not set";
    }

    void textsFit() {
        QFETCH(QString, combo);
        QFETCH(QString, text);
        WindowRig rig("sim");
        QLineEdit* field = rig.Find<QComboBox>(combo.toLatin1().constData())->lineEdit();
        // QLineEdit keeps two pixels clear on either side of its text.
        const int room = field->contentsRect().width() - 4;
        const QString visible = text.mid(0, text.size() - (text.endsWith(' ') ? 1 : 0));
        QVERIFY2(field->fontMetrics().horizontalAdvance(visible) <= room,
                 qPrintable(QString("%1 px in %2 px")
                                .arg(field->fontMetrics().horizontalAdvance(visible))
                                .arg(room)));
    }

    void buttonTextsFit() {
        WindowRig rig("sim");
        for (QPushButton* button : rig.main->findChildren<QPushButton*>()) {
            const QString text = QString(button->text()).remove('&');
            QVERIFY2(button->fontMetrics().horizontalAdvance(text) + 8 <= button->width(),
                     qPrintable(button->objectName()));
        }
        for (QGroupBox* group : rig.main->findChildren<QGroupBox*>()) {
            QVERIFY(group->fontMetrics().horizontalAdvance(group->title()) < group->width());
        }
    }

    void tabOrder() {
        WindowRig rig("sim");
        rig.main->show();
        QApplication::setActiveWindow(rig.main.get());
        QVERIFY(QTest::qWaitForWindowActive(rig.main.get()));
        rig.Find<QPushButton>("ReadFile")->setFocus();
        QStringList order;
        for (int step = 0; step < 11; ++step) {
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus);
            // An editable combo box keeps the focus in its line edit.
            if (qobject_cast<QComboBox*>(focus->parentWidget())) {
                focus = focus->parentWidget();
            }
            order << focus->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"ReadFile", "SaveFile", "TarvexWrite", "TarvexRead",
                                     "TarvexVerify", "TarvexTest", "ToggleReset", "SetOptions",
                                     "EpromType", "PortSelect", "ReadFile"}));
    }

    void testMenuOpensUnderTheButton() {
        WindowRig rig("sim");
        rig.main->move(100, 80);
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.main.get()));
        QTest::mouseClick(rig.Find<QPushButton>("TarvexTest"), Qt::LeftButton);
        auto* menu = rig.Find<QMenu>("TestMenu");
        QTRY_VERIFY(menu->isVisible());
        // GroupBox2 at (357, 11), TarvexTest at (10, 109) in it; +4 across, +23 down.
        QCOMPARE(menu->pos(),
                 rig.main->frameGeometry().topLeft() + QPoint(357 + 10 + 4, 11 + 109 + 23));
        QStringList items;
        for (QAction* action : menu->actions()) {
            items << action->objectName() + '=' + action->text();
        }
        QCOMPARE(items, (QStringList{"ContinuousTest=Emulator &memory",
                                     "SingleLines=&Interface signals"}));
        menu->close();
    }

    void fileDialogsFilters() {
        WindowRig rig("sim");
        auto* open = rig.main->findChild<QFileDialog*>("OpenDialog");
        auto* save = rig.main->findChild<QFileDialog*>("SaveDialog");
        QCOMPARE(open->nameFilters(),
                 (QStringList{"All binary image files (*.*)", "Binary image files (*.BIN)",
                              "Intel Hex files (*.HEX)", "Intel Hex Extended files (*.HEX)"}));
        QCOMPARE(save->nameFilters(),
                 (QStringList{"Binary image file (*.BIN)", "Intel Hex file (*.HEX)",
                              "Intel Hex Extended file (*.HEX)"}));
    }

    // Termination requested during start-up: the loop ends at once, FormClose never runs,
    // and FormDestroy releases the emulator and closes the port.
    void terminationEndsWithoutFormClose() {
        BoxAnswerer answerer({});
        WindowRig rig("sim", {"/?"});
        QVERIFY(rig.main->TerminationRequested());
        rig.Trace();
        rig.main->show();
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(5000);
        QCOMPARE(rig.main->RunMessageLoop(), 0);
        QVERIFY(guard.isActive());
        QVERIFY(rig.main->PortAccess().Opened());
        QVERIFY(rig.Writes().empty());
        auto bus = rig.bus;
        rig.main.reset();
        QCOMPARE(rig.Writes(), (std::vector<std::string>{"W 0378 00", "W 037A 03", "W 037A 0B"}));
        // Released: the target runs.
        QVERIFY(!bus->WithDevice(0x378, [](auto* device) { return device->TargetInReset(); }));
    }

    void closingReleasesOnce() {
        WindowRig rig("sim");
        rig.main->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.main.get()));
        rig.Trace();
        QVERIFY(rig.main->close());
        QCOMPARE(rig.Writes(), (std::vector<std::string>{"W 0378 00", "W 037A 03", "W 037A 0B"}));
        QVERIFY(!rig.main->PortAccess().Opened());
        rig.main.reset();
        QVERIFY(rig.Writes().empty());
    }

    void portFailureClosesNothing() {
        BoxAnswerer answerer({});
        WindowRig rig("bogus");
        QVERIFY(!rig.main->PortAccess().Opened());
        rig.main.reset();  // must not touch the unopened port or hang
    }

  private:
    QTemporaryDir runtime_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
