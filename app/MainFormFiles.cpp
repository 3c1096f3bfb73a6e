// The main window's file commands: load the buffer from a file and save it to one.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QTimer>
#include <QTreeView>
#include <array>

#include <sys/stat.h>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/IndicatorLamp.h"
#include "app/MainForm.h"
#include "image/FileLoader.h"
#include "image/FileSystem.h"
#include "image/FileWriter.h"
#include "image/TextFormat.h"

namespace tarvex {
namespace {

// The file type each filter of the open dialog gives, by the filter's position.
constexpr std::array<std::uint8_t, 5> kOpenFilterTypes{0, 0, 1, 2, 3};
// The save dialog's filters are the file types in order.
constexpr int kSaveFilters = 4;

// The open dialog's filter shown for a file type; -1 for none.
int OpenFilterIndex(std::uint8_t fileType) {
    constexpr std::array<int, 4> kFilterForType{0, 2, 3, 4};
    return fileType < kFilterForType.size() ? kFilterForType[fileType] : -1;
}

QString DefaultSuffix(std::uint8_t fileType) {
    return QString::fromLatin1(fileType == 0 ? "bin" : fileType == 3 ? "srec" : "hex");
}

// Qt reads "*.*" literally and hides every name without a dot; the filter means every file.
// Qt splits patterns at spaces only; "*.s19;*.s28" is two. Qt has just put the chosen filter's
// patterns into the dialog's model when this runs.
void MatchEveryFileForStarDotStar(QFileDialog* dialog) {
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (!model) {
        return;
    }
    if (model->nameFilters().contains(QStringLiteral("*.*"))) {
        model->setNameFilters({QStringLiteral("*")});
        return;
    }
    QStringList patterns;
    for (const QString& filter : model->nameFilters()) {
        patterns += filter.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    if (patterns != model->nameFilters()) {
        model->setNameFilters(patterns);
    }
}

// On a change of filter Qt's save dialog gives the typed name the suffix of the filter's
// text ("rom.bin" becomes "rom.HEX"); the filters' patterns are lower case.
void KeepSuffixLowerCase(QFileDialog* dialog) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    const QString filter = dialog->selectedNameFilter();
    const auto pattern = filter.lastIndexOf(QLatin1String("(*."));
    if (!edit || pattern < 0 || !filter.endsWith(QLatin1Char(')'))) {
        return;
    }
    const QString suffix = filter.mid(pattern + 3).chopped(1);
    QString name = edit->text();
    if (name.endsWith(QLatin1Char('.') + suffix, Qt::CaseSensitive) && suffix != suffix.toLower()) {
        name.replace(name.size() - suffix.size(), suffix.size(), suffix.toLower());
        edit->setText(name);
    }
}

// Qt sizes the detail view's columns for sample texts, which cut real sizes, types and dates
// in the middle and push the dates out of sight; fit them whenever the rows change.
void FitDetailColumns(QFileDialog* dialog) {
    auto* view = dialog->findChild<QTreeView*>();
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (!view || !model) {
        return;
    }
    auto* fit = view->findChild<QTimer*>(QStringLiteral("fitColumns"));
    if (!fit) {
        // The rows arrive in batches from a background thread; fit once they settle.
        fit = new QTimer(view);
        fit->setObjectName(QStringLiteral("fitColumns"));
        fit->setSingleShot(true);
        fit->setInterval(50);
        QObject::connect(fit, &QTimer::timeout, view, [view] {
            for (int column = 0; column < view->header()->count(); ++column) {
                view->resizeColumnToContents(column);
            }
        });
        const auto later = [fit] { fit->start(); };
        QObject::connect(model, &QAbstractItemModel::rowsInserted, fit, later);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, fit, later);
        QObject::connect(model, &QFileSystemModel::directoryLoaded, fit, later);
    }
    fit->start();
}

// Runs the dialog showing the filter at `filterIndex`; the chosen file, or empty when the
// user cancelled. Qt's filterSelected reports only the user's choices today; the flag keeps
// the preselection from counting as one should that ever change.
QString ChooseFile(QFileDialog* dialog, int filterIndex, bool& presetting) {
    if (filterIndex >= 0 && filterIndex < dialog->nameFilters().size()) {
        const QScopedValueRollback guard(presetting, true);
        dialog->selectNameFilter(dialog->nameFilters().at(filterIndex));
        if (dialog->acceptMode() == QFileDialog::AcceptSave) {
            KeepSuffixLowerCase(dialog);
        }
    }
    MatchEveryFileForStarDotStar(dialog);
    FitDetailColumns(dialog);
    if (dialog->exec() != QDialog::Accepted) {
        return {};
    }
    return dialog->selectedFiles().value(0);
}

std::string SystemName(const QString& file) {
    return QFile::encodeName(file).toStdString();
}

// Opening a FIFO waits for the other end, and the window would freeze until one comes.
bool IsPipe(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

constexpr const char* kPipeRefused = "The file is a pipe (FIFO): choose a regular file";

// The text format that a regular file plainly is in, by its first bytes. A descriptor
// (/dev/stdin) is not looked at: the peek would take the bytes the loader is to read.
std::optional<std::uint8_t> TextFormatOfFile(const std::string& name) {
    struct stat info {};
    if (DescriptorOf(name) || ::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    const std::unique_ptr<InputFile> file = NativeFileSystem().OpenForReading(name);
    if (!file) {
        return std::nullopt;  // the loader says why
    }
    std::array<std::uint8_t, kTextFormatProbe> head{};
    const IoResult got = file->Read(head.data(), head.size());
    file->Close();
    return got.error ? std::nullopt : TextFormatOf(head.data(), got.count);
}

std::string LoadAsTextQuestion(std::uint8_t fileType) {
    return fileType == 3 ? "The file looks like Motorola S-record text, not a binary image.\r"
                           "Yes: load its records as Motorola S-records\r"
                           "No: load its characters as a binary image\r"
                           "Cancel: load nothing"
                         : "The file looks like Intel HEX text, not a binary image.\r"
                           "Yes: load its records as Intel HEX extended\r"
                           "No: load its characters as a binary image\r"
                           "Cancel: load nothing";
}

}  // namespace

void TMain::ReadFileClick() {
    // A port or type change lets events through; a load meanwhile would mix with its fill.
    if (selectionChanging_) {
        return;
    }
    const QString chosen =
        ChooseFile(OpenDialog, OpenFilterIndex(model_.FileType), presettingFilter_);
    if (chosen.isEmpty()) {
        return;
    }
    InFile->setText(QDir::toNativeSeparators(chosen));
    OpenDialog->setDefaultSuffix(DefaultSuffix(model_.FileType));
    const std::string name = SystemName(chosen);
    if (IsPipe(name)) {
        LastResult->SetState(Lamp::Red);
        ShowMessage(MessageKind::Error, kPipeRefused, MessageButtons::Cancel);
        return;
    }
    if (!FileLoader::CanOpenInputFile(name)) {
        LastResult->SetState(Lamp::Red);
        ShowMessage(MessageKind::Error, "Input file not found!", MessageButtons::Ok);
        return;
    }
    // Text from a toolchain (sdcc's .ihx) taken as a binary image would load its characters
    // and go into the target on Write: ask first. The answer holds for this load only.
    std::uint8_t format = model_.FileType;
    if (format == 0) {
        if (const std::optional<std::uint8_t> text = TextFormatOfFile(name)) {
            switch (AskYesNoCancel(MessageKind::Confirm, LoadAsTextQuestion(*text))) {
                case MessageAnswer::Yes:
                    format = *text;
                    break;
                case MessageAnswer::No:
                    break;
                default:
                    // Nothing is stored; the file named in InFile is not what the buffer holds.
                    model_.ReadError = true;
                    LastResult->SetState(Lamp::Red);
                    return;
            }
        }
    }
    FileLoader loader(model_, *this);
    {
        const QScopedValueRollback once(model_.FileType, format);
        loader.LoadFileToBuffer(name);
    }
    LastResult->SetState(model_.ReadError ? Lamp::Red : Lamp::Green);
}

void TMain::OpenDialogTypeChange(const QString& filter) {
    MatchEveryFileForStarDotStar(OpenDialog);
    if (presettingFilter_) {
        return;
    }
    const auto index = OpenDialog->nameFilters().indexOf(filter);
    if (index >= 0 && index < static_cast<qsizetype>(kOpenFilterTypes.size())) {
        model_.FileType = kOpenFilterTypes[static_cast<std::size_t>(index)];
    }
}

void TMain::SaveFileClick() {
    if (selectionChanging_) {
        return;
    }
    // Ask before replacing a file. Qt's dialog has no read-only check box; its ReadOnly
    // option would forbid renaming and deleting files in the dialog.
    SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog->setOption(QFileDialog::ReadOnly, false);
    SaveDialog->setSizeGripEnabled(true);
    const QString chosen = ChooseFile(SaveDialog, model_.FileType, presettingFilter_);
    if (chosen.isEmpty()) {
        return;
    }
    OutFile->setText(QDir::toNativeSeparators(chosen));
    SaveDialog->setDefaultSuffix(DefaultSuffix(model_.FileType));
    const std::string name = SystemName(chosen);
    if (IsPipe(name)) {
        ShowMessage(MessageKind::Error, kPipeRefused, MessageButtons::Cancel);
        return;
    }
    FileWriter writer(model_, *this);
    writer.SaveBufferToFile(name);
}

void TMain::SaveDialogSelectionChange(const QString& filter) {
    MatchEveryFileForStarDotStar(SaveDialog);
    KeepSuffixLowerCase(SaveDialog);
    if (presettingFilter_) {
        return;
    }
    const auto index = SaveDialog->nameFilters().indexOf(filter);
    if (index >= 0 && index < kSaveFilters) {
        model_.FileType = static_cast<std::uint8_t>(index);
    }
}

}  // namespace tarvex
