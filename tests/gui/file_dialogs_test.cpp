// Loading and saving from the main window, through the real file dialogs.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "WindowRig.h"

using tarvex::Lamp;
using tarvex::testing::BoxAnswerer;
using tarvex::testing::SeenBox;
using tarvex::testing::WindowRig;

Q_DECLARE_METATYPE(Lamp)

namespace {

const QString kAllFiles = QStringLiteral("All binary image files (*.*)");
const QString kBinFiles = QStringLiteral("Binary image files (*.BIN)");
const QString kHexFiles = QStringLiteral("Intel Hex files (*.HEX)");
const QString kExtFiles = QStringLiteral("Intel Hex Extended files (*.HEX)");
const QString kBinFile = QStringLiteral("Binary image file (*.BIN)");
const QString kHexFile = QStringLiteral("Intel Hex file (*.HEX)");
const QString kExtFile = QStringLiteral("Intel Hex Extended file (*.HEX)");

// One Intel HEX line with its checksum, ended by CR LF.
QByteArray Record(int address, int type, const QByteArray& data) {
    QByteArray bytes;
    bytes.append(char(data.size())).append(char(address >> 8)).append(char(address));
    bytes.append(char(type)).append(data);
    int sum = 0;
    for (const char byte : bytes) {
        sum += static_cast<unsigned char>(byte);
    }
    bytes.append(char(-sum));
    return ':' + bytes.toHex().toUpper() + "\r\n";
}

const QByteArray kEof = ":00000001FF\r\n";
// Data at 00000 and, behind an extended segment record, at 1FFFF.
const QByteArray kExtendedHex = Record(0x0000, 0, "\x12") +
                                Record(0, 2, QByteArray::fromHex("1000")) +
                                Record(0xFFFF, 0, "\xAB") + kEof;

QtMessageHandler passOn = nullptr;

// The offscreen platform tells of every window feature it lacks; the dialogs use several.
void WithoutPlatformNotes(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    if (!message.startsWith(QLatin1String("This plugin does not support"))) {
        passOn(type, context, message);
    }
}

QString Describe(const SeenBox& box) {
    return box.title + ": " + box.text + " [" + box.buttons.join(',') + ']';
}

QStringList Described(const QList<SeenBox>& boxes) {
    QStringList lines;
    for (const SeenBox& box : boxes) {
        lines << Describe(box);
    }
    return lines;
}

void WriteFile(const QString& name, const QByteArray& contents) {
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

QByteArray ReadFile(const QString& name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QByteArray BufferBytes(const tarvex::ImageModel& model, int at, qsizetype size) {
    return QByteArray(reinterpret_cast<const char*>(model.DataBuffer.data()) + at, size);
}

// What the user does in a file dialog.
using DialogAction = std::function<void(QFileDialog&)>;

// Picks a filter from the dialog's file type box with the keyboard, as a user would.
void ChooseFilter(QFileDialog& dialog, const QString& filter) {
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    const int target = combo->findText(filter);
    QVERIFY2(target >= 0, qPrintable(filter));
    while (combo->currentIndex() != target) {
        QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    }
}

void TypeName(QFileDialog& dialog, const QString& name) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QApplication::setActiveWindow(&dialog);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, name);
}

void ClickAccept(QFileDialog& dialog) {
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    buttons
        ->button(dialog.acceptMode() == QFileDialog::AcceptOpen ? QDialogButtonBox::Open
                                                                : QDialogButtonBox::Save)
        ->click();
}

// Chooses `filter` (none when empty), types `name` and accepts.
DialogAction Pick(const QString& filter, const QString& name) {
    return [filter, name](QFileDialog& dialog) {
        if (!filter.isEmpty()) {
            ChooseFilter(dialog, filter);
        }
        TypeName(dialog, name);
        ClickAccept(dialog);
    };
}

DialogAction CancelAfter(const QString& filter) {
    return [filter](QFileDialog& dialog) {
        if (!filter.isEmpty()) {
            ChooseFilter(dialog, filter);
        }
        dialog.reject();
    };
}

// Acts in the file dialogs that come up, in order; a dialog beyond the list is cancelled.
class DialogDriver : public QObject {
  public:
    explicit DialogDriver(QList<DialogAction> actions) : actions_(std::move(actions)) {
        connect(&poll_, &QTimer::timeout, this, &DialogDriver::Look);
        poll_.start(5);
    }

    // "OpenDialog: <filter shown when it came up>" for each dialog.
    QStringList shown;

  private:
    void Look() {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == current_ || !dialog->isVisible()) {
            return;
        }
        current_ = dialog;
        connect(
            dialog, &QDialog::finished, this, [this] { current_ = nullptr; },
            Qt::SingleShotConnection);
        shown << dialog->objectName() + ": " + dialog->selectedNameFilter();
        if (actions_.isEmpty()) {
            dialog->reject();
            return;
        }
        actions_.takeFirst()(*dialog);
    }

    QList<DialogAction> actions_;
    QTimer poll_;
    QPointer<QFileDialog> current_;
};

}  // namespace

class FileDialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        passOn = qInstallMessageHandler(WithoutPlatformNotes);
    }

    void cleanupTestCase() { qInstallMessageHandler(passOn); }

    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }

    void cleanup() {
        dir_.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void load_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<Lamp>("lamp");
        QTest::addColumn<int>("fileType");
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("loaded");  // DataBuffer from `at` on
        QTest::addColumn<QString>("suffix");

        const QString readError = "Error: File read error [Cancel]";
        QTest::newRow("extended records under Intel Hex Extended")
            << kExtFiles << kExtendedHex
            << QStringList{"Information: Load range : 00000...1FFFF [OK]"} << Lamp::Green << 2
            << 0x1FFFF << QByteArray("\xAB") << "hex";
        QTest::newRow("extended records refused under plain Intel Hex")
            << kHexFiles << kExtendedHex
            << QStringList{"Error: Invalid record type , line #2 [Cancel]", readError} << Lamp::Red
            << 1 << 0 << QByteArray("\x12") << "hex";
        QTest::newRow("plain Intel Hex")
            << kHexFiles
            << Record(0x100, 0, QByteArray(16, '\x11')) + Record(0x1FF, 0, "\x22") + kEof
            << QStringList{"Information: Load range : 00100...001FF [OK]"} << Lamp::Green << 1
            << 0x1FF << QByteArray("\x22") << "hex";
        QTest::newRow("broken checksum")
            << kExtFiles << QByteArray(":0100000012EE\r\n") + kEof
            << QStringList{"Error: Invalid file structure , line #1 [Cancel]", readError}
            << Lamp::Red << 2 << 0 << QByteArray("\x12") << "hex";
        QTest::newRow("Intel Hex text under All binary image files is binary")
            << kAllFiles << kExtendedHex << QStringList{} << Lamp::Green << 0 << 0 << kExtendedHex
            << "bin";
        QTest::newRow("Intel Hex text under Binary image files is binary")
            << kBinFiles << kExtendedHex << QStringList{} << Lamp::Green << 0 << 0 << kExtendedHex
            << "bin";
    }

    void load() {
        QFETCH(QString, filter);
        QFETCH(QByteArray, contents);
        const QString name = dir_->filePath("image.hex");
        WriteFile(name, contents);
        WindowRig rig("sim");
        BoxAnswerer answerer({});
        DialogDriver driver({Pick(filter, name)});
        rig.Find<QPushButton>("ReadFile")->click();

        QCOMPARE(driver.shown.size(), 1);
        QTEST(Described(answerer.seen), "boxes");
        QTEST(rig.Lamp("LastResult")->State(), "lamp");
        QTEST(int(rig.main->Model().FileType), "fileType");
        QFETCH(int, at);
        QFETCH(QByteArray, loaded);
        QCOMPARE(BufferBytes(rig.main->Model(), at, loaded.size()), loaded);
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), name);
        QTEST(rig.Find<QFileDialog>("OpenDialog")->defaultSuffix(), "suffix");
    }

    void inputFileNotFound_data() {
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("removed after it was chosen") << false;
        QTest::newRow("without read permission") << true;
    }

    void inputFileNotFound() {
        QFETCH(bool, unreadable);
        const QString name = dir_->filePath("gone.bin");
        WriteFile(name, "\x55");
        if (unreadable) {
            QVERIFY(QFile::setPermissions(name, QFileDevice::WriteOwner));
            if (QFile file(name); file.open(QIODevice::ReadOnly)) {
                QSKIP("this user reads every file");
            }
        }
        WindowRig rig("sim");
        rig.main->SetLastResult(Lamp::Green);
        BoxAnswerer answerer({});
        DialogDriver driver({[&](QFileDialog& dialog) {
            Pick(kBinFiles, name)(dialog);
            if (!unreadable) {
                QFile::remove(name);
            }
        }});
        rig.Find<QPushButton>("ReadFile")->click();

        QCOMPARE(Described(answerer.seen), QStringList{"Error: Input file not found! [OK]"});
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Red);
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), name);
        QVERIFY(!rig.main->Model().ReadError);
        QCOMPARE(rig.main->Model().DataBuffer[0], 0xFF);
    }

    void save_data() {
        QTest::addColumn<QString>("filter");  // empty: leave what the dialog shows
        QTest::addColumn<int>("fileType");    // before the dialog opens
        QTest::addColumn<uint>("start");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("suffix");

        const QByteArray across = "\xAA\xBB";  // FFFFh and 10000h
        QTest::newRow("binary image") << kBinFile << 2 << 0x10u << QByteArray("\xDE\xAD\xBE\xEF")
                                      << QByteArray("\xDE\xAD\xBE\xEF") << QStringList{} << "bin";
        QTest::newRow("Intel Hex")
            << kHexFile << 0 << 0x10u << QByteArray("\x01\x02\x03")
            << QByteArray(":03001000010203E7\r\n") + kEof << QStringList{} << "hex";
        QTest::newRow("Intel Hex as preselected")
            << QString() << 1 << 0x10u << QByteArray("\x01\x02\x03")
            << QByteArray(":03001000010203E7\r\n") + kEof << QStringList{} << "hex";
        QTest::newRow("Intel Hex Extended across 64 KiB")
            << kExtFile << 0 << 0xFFFFu << across
            << QByteArray(":01FFFF00AA57\r\n:020000021000EC\r\n:01000000BB44\r\n") + kEof
            << QStringList{} << "hex";
        // An end-of-file record alone never takes the place of a file.
        QTest::newRow("plain Intel Hex above FFFFh writes nothing")
            << kHexFile << 0 << 0xFFFFu << across << QByteArray("(missing)")
            << QStringList{"Error: Target address above FFFFh [Cancel]"} << "hex";
    }

    void save() {
        QFETCH(int, fileType);
        QFETCH(uint, start);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, filter);
        WindowRig rig("sim");
        auto& model = rig.main->Model();
        model.FileType = std::uint8_t(fileType);
        model.BufferStart = start;
        model.BufferEnd = start + uint(bytes.size()) - 1;
        std::copy(bytes.begin(), bytes.end(), model.DataBuffer.begin() + start);
        rig.main->SetLastResult(Lamp::Red);
        const QString name = dir_->filePath("out.img");
        BoxAnswerer answerer({});
        DialogDriver driver({Pick(filter, name)});
        rig.Find<QPushButton>("SaveFile")->click();

        QTEST(ReadFile(name), "file");
        QTEST(Described(answerer.seen), "boxes");
        QCOMPARE(rig.Find<QLineEdit>("OutFile")->text(), name);
        QTEST(rig.Find<QFileDialog>("SaveDialog")->defaultSuffix(), "suffix");
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Red);  // a save shows no result
    }

    // The type chosen in the open dialog is the one the save dialog shows and saves with.
    void fileTypeIsShared() {
        const QString in = dir_->filePath("in.hex");
        const QString out = dir_->filePath("out.hex");
        const QByteArray hex = Record(0x100, 0, "\x01\x02\x03") + kEof;
        WriteFile(in, hex);
        WindowRig rig("sim");
        BoxAnswerer answerer({});
        DialogDriver driver({Pick(kHexFiles, in), Pick(QString(), out)});
        rig.Find<QPushButton>("ReadFile")->click();
        rig.main->Model().BufferStart = 0x100;
        rig.main->Model().BufferEnd = 0x102;
        rig.Find<QPushButton>("SaveFile")->click();

        QCOMPARE(driver.shown,
                 (QStringList{"OpenDialog: " + kAllFiles, "SaveDialog: " + kHexFile}));
        QCOMPARE(Described(answerer.seen),
                 QStringList{"Information: Load range : 00100...00102 [OK]"});
        QCOMPARE(ReadFile(out), hex);
    }

    void dialogsOpenOnTheCurrentType_data() {
        QTest::addColumn<int>("fileType");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("binary") << 0
                                << QStringList{"OpenDialog: " + kAllFiles,
                                               "SaveDialog: " + kBinFile};
        QTest::newRow("Intel Hex")
            << 1 << QStringList{"OpenDialog: " + kHexFiles, "SaveDialog: " + kHexFile};
        QTest::newRow("Intel Hex Extended")
            << 2 << QStringList{"OpenDialog: " + kExtFiles, "SaveDialog: " + kExtFile};
    }

    void dialogsOpenOnTheCurrentType() {
        QFETCH(int, fileType);
        WindowRig rig("sim");
        // The dialogs last showed some other filter.
        rig.Find<QFileDialog>("OpenDialog")->selectNameFilter(kBinFiles);
        rig.Find<QFileDialog>("SaveDialog")->selectNameFilter(fileType == 2 ? kBinFile : kExtFile);
        rig.main->Model().FileType = std::uint8_t(fileType);
        DialogDriver driver({CancelAfter({}), CancelAfter({})});
        rig.Find<QPushButton>("ReadFile")->click();
        rig.Find<QPushButton>("SaveFile")->click();
        QTEST(driver.shown, "shown");
        QCOMPARE(int(rig.main->Model().FileType), fileType);  // showing it chose nothing
    }

    // A cancelled dialog loads and saves nothing; only a filter the user chose stays chosen.
    void cancelChangesNothingElse_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("fileType");
        QTest::newRow("open") << "ReadFile" << QString() << 1;
        QTest::newRow("open, after choosing a filter") << "ReadFile" << kExtFiles << 2;
        QTest::newRow("save") << "SaveFile" << QString() << 1;
        QTest::newRow("save, after choosing a filter") << "SaveFile" << kBinFile << 0;
    }

    void cancelChangesNothingElse() {
        QFETCH(QString, button);
        QFETCH(QString, filter);
        WriteFile(dir_->filePath("image.bin"), "\x01");
        WindowRig rig("sim");
        rig.main->Model().FileType = 1;
        rig.main->SetInFileText("before.hex");
        rig.main->SetLastResult(Lamp::Green);
        BoxAnswerer answerer({});
        DialogDriver driver({[&](QFileDialog& dialog) {
            TypeName(dialog, dir_->filePath("image.bin"));
            CancelAfter(filter)(dialog);
        }});
        rig.Find<QPushButton>(button.toLatin1().constData())->click();

        QCOMPARE(driver.shown.size(), 1);
        QVERIFY(answerer.seen.isEmpty());
        QTEST(int(rig.main->Model().FileType), "fileType");
        QCOMPARE(rig.Find<QLineEdit>("InFile")->text(), QStringLiteral("before.hex"));
        QCOMPARE(rig.Find<QLineEdit>("OutFile")->text(), QString());
        QCOMPARE(rig.Lamp("LastResult")->State(), Lamp::Green);
        QCOMPARE(rig.main->Model().DataBuffer[0], 0xFF);
        QCOMPARE(ReadFile(dir_->filePath("image.bin")), QByteArray("\x01"));
        QCOMPARE(rig.Find<QFileDialog>("OpenDialog")->defaultSuffix(), QString());
        QCOMPARE(rig.Find<QFileDialog>("SaveDialog")->defaultSuffix(), QString());
    }

    // A name typed without a suffix gets the one of the type used last time.
    void typedNameGetsTheDefaultSuffix_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("open, Intel Hex") << "ReadFile" << kHexFiles << "hex";
        QTest::newRow("open, binary") << "ReadFile" << kBinFiles << "bin";
        QTest::newRow("save, Intel Hex Extended") << "SaveFile" << kExtFile << "hex";
        QTest::newRow("save, binary") << "SaveFile" << kBinFile << "bin";
    }

    void typedNameGetsTheDefaultSuffix() {
        QFETCH(QString, button);
        QFETCH(QString, filter);
        QFETCH(QString, suffix);
        const QString first = dir_->filePath("first.dat");
        const QString image = dir_->filePath("image");
        const bool opening = button == "ReadFile";
        if (opening) {
            const QByteArray hex = Record(0, 0, "\x01") + kEof;
            WriteFile(first, hex);
            WriteFile(image + ".hex", hex);
            WriteFile(image + ".bin", hex);
        }
        WindowRig rig("sim");
        BoxAnswerer answerer({});
        DialogDriver driver({Pick(filter, first), Pick({}, image)});
        auto* command = rig.Find<QPushButton>(button.toLatin1().constData());
        command->click();
        command->click();

        QCOMPARE(driver.shown.size(), 2);
        QCOMPARE(rig.Find<QLineEdit>(opening ? "InFile" : "OutFile")->text(), image + '.' + suffix);
        if (!opening) {
            QVERIFY(QFile::exists(image + '.' + suffix));
            QVERIFY(!QFile::exists(image));
        }
    }

    // Saving over a file asks first; "No" keeps the dialog open and the file as it was.
    void saveAsksBeforeReplacing_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("replace") << "&Yes" << QByteArray("\x5A");
        QTest::newRow("keep") << "&No" << QByteArray("old");
    }

    void saveAsksBeforeReplacing() {
        QFETCH(QString, answer);
        const QString name = dir_->filePath("out.bin");
        WriteFile(name, "old");
        WindowRig rig("sim");
        rig.main->Model().BufferEnd = 0;
        rig.main->Model().DataBuffer[0] = 0x5A;
        BoxAnswerer answerer({answer});
        bool stayedOpen = false;
        bool resizable = false;
        DialogDriver driver({[&](QFileDialog& dialog) {
            resizable = dialog.isSizeGripEnabled() && dialog.minimumSize() != dialog.maximumSize();
            Pick(kBinFile, name)(dialog);
            stayedOpen = dialog.isVisible();
            if (stayedOpen) {
                dialog.reject();
            }
        }});
        rig.Find<QPushButton>("SaveFile")->click();

        QVERIFY(resizable);
        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY2(answerer.seen.front().text.contains("already exists"),
                 qPrintable(answerer.seen.front().text));
        QCOMPARE(stayedOpen, answer == "&No");
        QTEST(ReadFile(name), "file");
    }

    // Changing the filter changes the typed suffix, and keeps it lower case.
    void saveFilterChangesTheTypedSuffix_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("saved");
        QTest::newRow("bin to Intel Hex Extended") << "rom.bin" << kExtFile << "rom.hex";
        QTest::newRow("hex to binary") << "rom.hex" << kBinFile << "rom.bin";
        QTest::newRow("upper case name") << "ROM.BIN" << kExtFile << "ROM.hex";
        QTest::newRow("no suffix stays without") << "rom" << kBinFile << "rom";
    }

    void saveFilterChangesTheTypedSuffix() {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        WindowRig rig("sim");
        rig.main->Model().FileType = 1;  // opens on Intel Hex
        rig.main->Model().BufferEnd = 0;
        DialogDriver driver({[&](QFileDialog& dialog) {
            dialog.setDirectory(dir_->path());
            TypeName(dialog, typed);
            ChooseFilter(dialog, filter);
            ClickAccept(dialog);
        }});
        rig.Find<QPushButton>("SaveFile")->click();
        QFETCH(QString, saved);
        QCOMPARE(rig.Find<QLineEdit>("OutFile")->text(), dir_->filePath(saved));
        QVERIFY(QFile::exists(dir_->filePath(saved)));
    }

    // Names without a dot show under "*.*", and the suffixes match in either case.
    void filtersShowTheFilesTheyName_data() {
        QTest::addColumn<QStringList>("filters");
        QTest::addColumn<QStringList>("names");
        const QStringList all{"B.BIN", "D.HEX", "a.bin", "c.hex", "noext"};
        QTest::newRow("as it opens") << QStringList{} << all;
        QTest::newRow("All binary image files, chosen again")
            << QStringList{kBinFiles, kAllFiles} << all;
        QTest::newRow("Binary image files")
            << QStringList{kBinFiles} << QStringList{"B.BIN", "a.bin"};
        QTest::newRow("Intel Hex Extended files")
            << QStringList{kExtFiles} << QStringList{"D.HEX", "c.hex"};
    }

    void filtersShowTheFilesTheyName() {
        QFETCH(QStringList, filters);
        QFETCH(QStringList, names);
        for (const char* name : {"a.bin", "B.BIN", "c.hex", "D.HEX", "noext"}) {
            WriteFile(dir_->filePath(name), "x");
        }
        WindowRig rig("sim");
        rig.Find<QFileDialog>("OpenDialog")->setDirectory(dir_->path());
        QStringList shown;
        DialogDriver driver({[&](QFileDialog& dialog) {
            for (const QString& filter : filters) {
                ChooseFilter(dialog, filter);
            }
            auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
            auto visible = [&] {
                shown.clear();
                const QModelIndex root = list->rootIndex();
                for (int row = 0; row < list->model()->rowCount(root); ++row) {
                    shown << list->model()->index(row, 0, root).data().toString();
                }
                shown.sort();
                return shown == names;
            };
            // The folder is read in the background; the comparison below tells what showed.
            [[maybe_unused]] const bool settled = QTest::qWaitFor(visible, 3000);
            dialog.reject();
        }});
        rig.Find<QPushButton>("ReadFile")->click();
        QCOMPARE(shown, names);
    }

    // A port change lets events through; no dialog may open in the middle of it.
    void fileCommandsWaitForAPortChange() {
        WindowRig rig("sim");
        DialogDriver driver({});
        bool clicked = false;
        QTimer::singleShot(0, [&] {
            rig.Find<QPushButton>("ReadFile")->click();
            rig.Find<QPushButton>("SaveFile")->click();
            clicked = true;
        });
        QTest::keyClick(rig.Find<QComboBox>("PortSelect"), Qt::Key_Up);
        QVERIFY(clicked);
        QCOMPARE(driver.shown, QStringList{});
    }

  private:
    QTemporaryDir runtime_;
    std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(FileDialogsTest)
#include "file_dialogs_test.moc"
