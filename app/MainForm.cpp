#include "app/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <type_traits>
#include <utility>

#include "app/IndicatorLamp.h"
#include "batch/BatchRun.h"
#include "diag/ExtTestForm.h"
#include "diag/StdTestForm.h"
#include "image/HexText.h"
#include "view/MessageBox.h"
#include "view/OptionsForm.h"

namespace tarvex {
namespace {

// The one filter both file dialogs add after their own; FileType 3.
const char* const kSRecordFilter = "Motorola S-record files (*.s19;*.s28;*.s37;*.srec;*.mot)";

// The layout's pixel sizes were made for a small 8-point dialog font; the desktop font at
// this size keeps every text inside its control.
constexpr int kFontPixels = 10;

// The 71-pixel selectors need the narrow drop-down button of the classic look to show
// their texts whole.
class CompactComboStyle : public QProxyStyle {
  public:
    static constexpr int kArrowWidth = 16;
    static constexpr int kFrame = 2;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField)) {
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
        const QRect frame = option->rect;
        const int arrowLeft = frame.right() - kArrowWidth + 1;
        const QRect place =
            part == SC_ComboBoxArrow
                ? QRect(arrowLeft, frame.top(), kArrowWidth, frame.height())
                : QRect(frame.left() + kFrame, frame.top() + kFrame,
                        arrowLeft - frame.left() - kFrame, frame.height() - 2 * kFrame);
        return visualRect(option->direction, frame, place);
    }
};

constexpr const char* kUnknownPort = " unknown ";

void SetHint(QWidget* widget, const char* hint) {
    widget->setToolTip(QString::fromLatin1(hint));
    widget->setToolTipDuration(TMain::kHintTime);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const char* hint,
                        const QRect& place) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoDefault(false);
    SetHint(button, hint);
    return button;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* title, const QRect& place,
                     QStyle* style) {
    auto* group = new QGroupBox(QString::fromLatin1(title), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(place);
    group->setStyle(style);
    return group;
}

QLineEdit* MakeFileField(QWidget* parent, const char* name, const QRect& place) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setGeometry(place);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::ClickFocus);  // no tab stop
    return field;
}

// A drop-down list that also takes typed text. Typed text never becomes an item.
QComboBox* MakeSelector(QWidget* parent, const char* name, const char* hint, const QRect& place,
                        const QStringList& items, QStyle* style) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setStyle(style);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setGeometry(place);
    SetHint(combo, hint);
    return combo;
}

QFileDialog* MakeFileDialog(QWidget* parent, const char* name, QFileDialog::AcceptMode mode,
                            const QStringList& filters) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QString::fromLatin1(name));
    // Qt's own dialog reports filter changes the same way on every platform.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                        : QFileDialog::AnyFile);
    dialog->setNameFilters(filters);
    return dialog;
}

}  // namespace

TMain::TMain(std::unique_ptr<TIoPort> portAccess, std::vector<std::string> arguments,
             QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      portAccess_(std::move(portAccess)),
      link_(std::make_unique<EmulatorLink>(*portAccess_, model_, *this)),
      arguments_(std::move(arguments)) {
    setObjectName(QStringLiteral("Main"));
    QFont font = QApplication::font();
    font.setPixelSize(kFontPixels);
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);
    CreateControls();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    Timer->start();
    FormCreate();
    StdTest = std::make_unique<TStdTest>();
    ExtTest = std::make_unique<TExtTest>();
}

TMain::~TMain() {
    FormDestroy();
}

void TMain::CreateControls() {
    // The layout puts the first row of controls close under the group's top edge: the
    // classic frame runs through the middle of the title, where the layout expects it.
    QStyle* classicFrames = QStyleFactory::create(QStringLiteral("Windows"));
    classicFrames->setParent(this);
    auto* compactCombo = new CompactComboStyle;
    compactCombo->setParent(this);

    GroupBox1 = MakeGroup(this, "GroupBox1", " Files ", {8, 11, 337, 90}, classicFrames);
    InFile = MakeFileField(GroupBox1, "InFile", {9, 18, 225, 21});
    OutFile = MakeFileField(GroupBox1, "OutFile", {9, 54, 225, 21});
    ReadFile = MakeButton(GroupBox1, "ReadFile", "&Load From", " Read data from file to buffer ",
                          {245, 16, 81, 25});
    SaveFile = MakeButton(GroupBox1, "SaveFile", "&Save To", " Write buffer data to file ",
                          {245, 52, 81, 25});

    GroupBox2 = MakeGroup(this, "GroupBox2", " Actions ", {357, 11, 117, 173}, classicFrames);
    TarvexWrite = MakeButton(GroupBox2, "TarvexWrite", "&Write", " Copy buffer to Tarvex memory ",
                             {10, 16, 97, 25});
    TarvexRead = MakeButton(GroupBox2, "TarvexRead", "&Read", " Read Tarvex memory to buffer ",
                            {10, 47, 97, 25});
    TarvexVerify = MakeButton(GroupBox2, "TarvexVerify", "&Verify",
                              " Compare Tarvex memory with buffer ", {10, 78, 97, 25});
    TarvexTest =
        MakeButton(GroupBox2, "TarvexTest", "&Test", " Test Tarvex operation ", {10, 109, 97, 25});
    ToggleReset = MakeButton(GroupBox2, "ToggleReset", "&Manual Reset", " Toggle RESET line state ",
                             {10, 140, 97, 25});

    GroupBox3 = MakeGroup(this, "GroupBox3", " Configuration ", {8, 112, 337, 72}, classicFrames);
    SetOptions = MakeButton(GroupBox3, "SetOptions", "&Options", " Show current buffer state ",
                            {245, 18, 81, 25});
    Label1 = new QLabel(QStringLiteral("&Port  Address"), GroupBox3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(12, 46);
    Label2 = new QLabel(QStringLiteral("&EPROM type"), GroupBox3);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(130, 46);
    ResetLED = new IndicatorLamp(GroupBox3);
    ResetLED->setObjectName(QStringLiteral("ResetLED"));
    ResetLED->setGeometry(248, 52, 22, 9);
    SetHint(ResetLED, " Reset state ");
    LastResult = new IndicatorLamp(GroupBox3);
    LastResult->setObjectName(QStringLiteral("LastResult"));
    LastResult->setGeometry(302, 52, 22, 9);
    SetHint(LastResult, " Last operation result: pass or fail ");

    // The two selectors lie over the Configuration group, so they are made after it.
    PortSelect =
        MakeSelector(this, "PortSelect", " Hexadecimal Centronics port address ", {19, 135, 71, 21},
                     {"  0x0278", "  0x0378", "  0x03BC"}, compactCombo);
    EpromType = MakeSelector(this, "EpromType", " Emulated EPROM type ", {136, 135, 71, 21},
                             {"     2764 ", "   27128 ", "   27256 ", "   27512 ", "   27010 "},
                             compactCombo);
    // A wheel turned over a box it was not meant for must not change the port or the type
    // (a type change refills the image).
    PortSelect->installEventFilter(this);
    EpromType->installEventFilter(this);
    Label1->setBuddy(PortSelect);
    Label2->setBuddy(EpromType);
    Label1->adjustSize();
    Label2->adjustSize();

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(8, 196, 466, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    setTabOrder(ReadFile, SaveFile);
    setTabOrder(SaveFile, TarvexWrite);
    setTabOrder(TarvexWrite, TarvexRead);
    setTabOrder(TarvexRead, TarvexVerify);
    setTabOrder(TarvexVerify, TarvexTest);
    setTabOrder(TarvexTest, ToggleReset);
    setTabOrder(ToggleReset, SetOptions);
    setTabOrder(SetOptions, EpromType);
    setTabOrder(EpromType, PortSelect);

    OpenDialog = MakeFileDialog(
        this, "OpenDialog", QFileDialog::AcceptOpen,
        {"All binary image files (*.*)", "Binary image files (*.BIN)", "Intel Hex files (*.HEX)",
         "Intel Hex Extended files (*.HEX)", kSRecordFilter});
    SaveDialog = MakeFileDialog(this, "SaveDialog", QFileDialog::AcceptSave,
                                {"Binary image file (*.BIN)", "Intel Hex file (*.HEX)",
                                 "Intel Hex Extended file (*.HEX)", kSRecordFilter});

    TestMenu = new QMenu(this);
    TestMenu->setObjectName(QStringLiteral("TestMenu"));
    QAction* continuousTest = TestMenu->addAction(QStringLiteral("Emulator &memory"));
    continuousTest->setObjectName(QStringLiteral("ContinuousTest"));
    QAction* singleLines = TestMenu->addAction(QStringLiteral("&Interface signals"));
    singleLines->setObjectName(QStringLiteral("SingleLines"));

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kTimerInterval);

    connect(TarvexWrite, &QPushButton::clicked, this, &TMain::TarvexWriteClick);
    connect(TarvexRead, &QPushButton::clicked, this, &TMain::TarvexReadClick);
    connect(TarvexVerify, &QPushButton::clicked, this, &TMain::TarvexVerifyClick);
    connect(ToggleReset, &QPushButton::clicked, this, &TMain::ToggleResetClick);
    connect(TarvexTest, &QPushButton::clicked, this, &TMain::TarvexTestClick);
    connect(continuousTest, &QAction::triggered, this, &TMain::ContinuousTestClick);
    connect(singleLines, &QAction::triggered, this, &TMain::SingleLinesClick);
    connect(ReadFile, &QPushButton::clicked, this, &TMain::ReadFileClick);
    connect(SaveFile, &QPushButton::clicked, this, &TMain::SaveFileClick);
    connect(SetOptions, &QPushButton::clicked, this, &TMain::SetOptionsClick);
    // filterSelected reports only the user's choice of a filter.
    connect(OpenDialog, &QFileDialog::filterSelected, this, &TMain::OpenDialogTypeChange);
    connect(SaveDialog, &QFileDialog::filterSelected, this, &TMain::SaveDialogSelectionChange);
    // Only what the user does counts as a change: a chosen item or typed text, never
    // a text the program puts in.
    connect(PortSelect, &QComboBox::activated, this, &TMain::PortSelectChange);
    connect(PortSelect->lineEdit(), &QLineEdit::textEdited, this, [this] { PortSelectChange(-1); });
    connect(EpromType, &QComboBox::activated, this, &TMain::EpromTypeChange);
    connect(EpromType->lineEdit(), &QLineEdit::textEdited, this, [this] { EpromTypeChange(-1); });
    connect(Timer, &QTimer::timeout, this, &TMain::TimerTimer);
}

// --- start-up and shutdown --------------------------------------------------------------

void TMain::FormCreate() {
    const bool toldToEnd =
        !CheckSingleInstance() && ShowMessage(MessageKind::Confirm, kSecondInstanceQuestion,
                                              MessageButtons::YesNo) == MessageAnswer::Yes;
    if (toldToEnd) {
        RequestTermination();
    }
    repaint();
    setWindowTitle(QString::fromLatin1(kProgramTitle));
    commandLine_ = CheckCommandLine(arguments_);
    BatchRequested = commandLine_.BatchRequested();
    if (commandLine_.mode == StartMode::Usage) {
        ShowMessage(MessageKind::Error, kUsageMessage, MessageButtons::Ok);
        RequestTermination();
    }
    model_.FillValue = 0xFF;
    model_.FileType = 0;
    link_->StopRequest = 0;
    if (toldToEnd) {
        // The port belongs to the copy that runs: even opening it (the ppdev claim) would
        // pulse its target's RESET, and the release on the way out would free it.
        SetEpromTypeText(kTypeNotSet);
        SetPortSelectText(kUnknownPort);
        return;
    }
    InitPortAccess();
    link_->DetectEmulator();
    if (link_->EmulatorPresent()) {
        SetPortSelectText("  0x" + HexWord(link_->PortAddress()));
        if (!BatchRequested) {
            SelectStartType();
        }
    } else {
        SetEpromTypeText(kTypeNotSet);
        SetPortSelectText(kUnknownPort);
    }
    // The run itself probes the port it is given (which need not be a standard one) or
    // searches again, so it starts whether or not the search above found anything. A
    // program that is already ending starts nothing it could only cut short.
    if (BatchRequested && !terminationRequested_) {
        StartBatchRun();
    }
}

bool TMain::CheckSingleInstance() {
    try {
        return instanceLock_.Acquire();
    } catch (...) {
        return false;
    }
}

void TMain::InitPortAccess() {
    if (!portAccess_->Opened()) {
        portAccess_->SetOpened(true);
    }
    if (!portAccess_->Opened()) {
        portAccessFailed_ = true;
        ShowMessage(MessageKind::Error, portAccess_->FailureMessage(), MessageButtons::Cancel);
        RequestTermination();
    }
}

void TMain::SelectStartType() {
    model_.CurrentEpromType = 27010;
    link_->SetEpromType(27010);
    SetInFileText(arguments_.empty() ? std::string() : arguments_.front());
}

// The unattended run of the command line, on a worker thread of its own.
void TMain::StartBatchRun() {
    batchLoader_ = std::make_unique<FileLoader>(model_, *this);
    // Disabled at once, not when the worker's first request gets through once the event
    // loop runs: no click may slip in before it.
    SetWindowEnabled(false);
    batchRunning_ = true;
    batchThread_ = std::thread([this] {
        BatchRun run(*link_, *batchLoader_, arguments_, {BatchRequested, ExitRequested},
                     kProgramTitle);
        run.Run();
        batchRunning_ = false;
    });
}

void TMain::FinishBatchRun() {
    if (!batchThread_.joinable()) {
        return;
    }
    // The worker may be waiting for this thread to carry out its last window change.
    while (batchRunning_) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    batchThread_.join();
}

void TMain::RequestTermination() {
    terminationRequested_ = true;
    if (messageLoopRunning_) {
        // Queued, so the running handler finishes first. exit(), not quit(): quit() closes
        // the windows first, and a close is the user's way to end, not this one.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
}

int TMain::RunMessageLoop() {
    messageLoopRunning_ = true;
    if (terminationRequested_) {
        RequestTermination();
    }
    QApplication::exec();
    messageLoopRunning_ = false;
    return ExitStatus();
}

int TMain::ExitStatus() const {
    return ExitStatusFor({commandLine_, portAccessFailed_, ExitRequested.load()});
}

void TMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A click on this window while it waits for an open window of its own must not leave
    // that window behind it: the keyboard goes back there, and the window comes to the front.
    // Later, not inside the activation itself.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !isEnabled() &&
        OpenOwnedWindow()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                QWidget* owned = OpenOwnedWindow();
                if (owned && !isEnabled() && !QApplication::activeModalWidget()) {
                    owned->raise();
                    owned->activateWindow();
                }
            },
            Qt::QueuedConnection);
    }
}

void TMain::closeEvent(QCloseEvent* event) {
    // A disabled window is busy with a command or a batch run and cannot be closed.
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && (watched == PortSelect || watched == EpromType)) {
        auto* combo = static_cast<QComboBox*>(watched);
        const QWidget* focus = QApplication::focusWidget();
        if (focus != combo && !combo->isAncestorOf(focus)) {
            event->ignore();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMain::FormClose() {
    ReleaseAndClosePort();
}

void TMain::FormDestroy() {
    FinishBatchRun();
    Timer->stop();
    destroying_ = true;
    ReleaseAndClosePort();
}

void TMain::ReleaseAndClosePort() {
    // Once closed, the port drops every write: a second pass has nothing to do.
    if (!portAccess_->Opened()) {
        return;
    }
    link_->ReleaseEmulator();
    portAccess_->SetOpened(false);
}

// --- commands ---------------------------------------------------------------------------

bool TMain::BeginDeviceCommand() {
    // A port or type change lets events through while it talks to the emulator; a command
    // started meanwhile would mix its register sequence into that one.
    if (selectionChanging_) {
        return false;
    }
    // No old result may show while the command runs.
    LastResult->SetState(Lamp::ButtonFace);
    repaint();
    SetWindowEnabled(false);
    return true;
}

void TMain::SetWindowEnabled(bool enabled) {
    if (!enabled) {
        if (isEnabled()) {
            savedFocus_ = focusWidget();
        }
        setEnabled(false);
        return;
    }
    setEnabled(true);
    if (savedFocus_) {
        savedFocus_->setFocus();
    }
    savedFocus_.clear();
    // A window disabled before it was first shown (a batch run) has no focus yet; the
    // keyboard must reach it all the same.
    if (!focusWidget()) {
        ReadFile->setFocus();
    }
}

void TMain::TarvexWriteClick() {
    if (!BeginDeviceCommand()) {
        return;
    }
    link_->WriteEmulator(model_.BufferStart, model_.BufferEnd, model_.EmulatorStart);
    bool passed = true;
    if (model_.AutoVerify) {
        SetWindowEnabled(true);
        TarvexVerify->setFocus();
        SetWindowEnabled(false);
        passed = link_->VerifyEmulator(model_.BufferStart, model_.BufferEnd, model_.EmulatorStart);
    }
    passed = StillAnswers() && passed;
    LastResult->SetState(passed ? Lamp::Green : Lamp::Red);
    SetWindowEnabled(true);
    TarvexWrite->setFocus();
}

void TMain::TarvexReadClick() {
    if (!BeginDeviceCommand()) {
        return;
    }
    link_->ReadEmulator(model_.BufferStart, model_.BufferEnd, model_.EmulatorStart);
    const bool passed = StillAnswers();
    SetWindowEnabled(true);
    LastResult->SetState(passed ? Lamp::Green : Lamp::Red);
}

void TMain::TarvexVerifyClick() {
    if (!BeginDeviceCommand()) {
        return;
    }
    const bool same =
        link_->VerifyEmulator(model_.BufferStart, model_.BufferEnd, model_.EmulatorStart);
    LastResult->SetState(StillAnswers() && same ? Lamp::Green : Lamp::Red);
    SetWindowEnabled(true);
}

// A pulled cable, or no emulator at the port at all, reads like memory full of FF: a read
// or a verify of an erased image would pass. The detection's echo after the transfer tells.
bool TMain::StillAnswers() {
    return link_->AnswersAt(link_->PortAddress());
}

void TMain::ToggleResetClick() {
    if (!link_->EmulatorPresent() || selectionChanging_) {
        return;
    }
    // Control bit 0 clear holds the target in RESET; set releases it.
    const std::uint16_t control = link_->ControlAddress();
    portAccess_->WritePort(control,
                           static_cast<std::uint8_t>(portAccess_->ReadPort(control) ^ 0x01));
}

void TMain::TarvexTestClick() {
    const QPoint outer = frameGeometry().topLeft();
    TestMenu->popup({outer.x() + GroupBox2->x() + TarvexTest->x() + 4,
                     outer.y() + GroupBox2->y() + TarvexTest->y() + 23});
}

// Qt's own way, a widget parent, would disable the window along with this one.
void TMain::Own(QWidget* window) {
    window->winId();  // both need their native windows
    winId();
    window->windowHandle()->setTransientParent(windowHandle());
}

QWidget* TMain::OpenOwnedWindow() const {
    for (QWidget* window :
         {static_cast<QWidget*>(Options.data()), static_cast<QWidget*>(StdTest.get()),
          static_cast<QWidget*>(ExtTest.get())}) {
        if (window && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

void TMain::AttachOptions(TOptions* options) {
    Options = options;
    connect(options, &TOptions::FormClose, this, [this] {
        SetWindowEnabled(true);
        activateWindow();
    });
}

void TMain::SetOptionsClick() {
    // Without a type there is no image to show. Typed text before any type was chosen
    // is not a type either.
    if (!Options || EpromType->currentText() == QLatin1String(kTypeNotSet) ||
        link_->InvalidEpromType()) {
        return;
    }
    Own(Options);
    Options->Open();
    SetWindowEnabled(false);
}

void TMain::ContinuousTestClick() {
    // A port or type change still talking to the emulator must finish first.
    if (!link_->EmulatorPresent() || selectionChanging_) {
        return;
    }
    Own(StdTest.get());
    ShowCentredOn(StdTest.get(), this);
    SetWindowEnabled(false);
    StdTest->RunMemoryTest(*link_, testRandom_);
    SetWindowEnabled(true);
    TarvexTest->setFocus();
    StdTest->Finish(*link_);
}

// Also without an emulator: the test is there to find a dead cable or port.
void TMain::SingleLinesClick() {
    if (selectionChanging_) {
        return;
    }
    Own(ExtTest.get());
    ShowCentredOn(ExtTest.get(), this);
    SetWindowEnabled(false);
    ExtTest->RunSignalsTest(*link_);
}

void TMain::PortSelectChange(int itemIndex) {
    // The probe lets events through; a second change meanwhile would interleave two probes.
    if (selectionChanging_) {
        return;
    }
    selectionChanging_ = true;
    if (itemIndex >= 0 && itemIndex < static_cast<int>(kStandardPorts.size())) {
        link_->SetPortAddress(kStandardPorts[static_cast<std::size_t>(itemIndex)]);
        link_->CheckEmulatorPort(link_->PortAddress());
        link_->PortIdle();
        if (!link_->EmulatorPresent()) {
            // Nothing of ours hangs there: a printer on that port goes on printing.
            const std::string problem = portAccess_->PortProblem(link_->PortAddress());
            portAccess_->LetGo(link_->PortAddress());
            if (!problem.empty()) {
                ShowMessage(MessageKind::Error,
                            "No emulator at 0x" + HexWord(link_->PortAddress()) + ":\r" + problem,
                            MessageButtons::Cancel);
            }
        }
    }
    SetPortSelectText("  0x" + HexWord(link_->PortAddress()));
    selectionChanging_ = false;
}

void TMain::EpromTypeChange(int itemIndex) {
    if (selectionChanging_) {
        return;
    }
    selectionChanging_ = true;
    if (itemIndex >= 0 && itemIndex < static_cast<int>(kEpromTypes.size())) {
        link_->SetEpromType(kEpromTypes[static_cast<std::size_t>(itemIndex)].number);
    } else if (!link_->InvalidEpromType()) {
        link_->SetEpromType(model_.CurrentEpromType);
    }
    selectionChanging_ = false;
}

void TMain::TimerTimer() {
    if (link_->EmulatorPresent()) {
        // Busy is inverted on the port: bit 7 set means the target is held in RESET.
        const bool held = (portAccess_->ReadPort(link_->StatusAddress()) & 0x80) != 0;
        ResetLED->SetState(held ? Lamp::Red : Lamp::ButtonFace);
    } else {
        ResetLED->SetState(Lamp::Yellow);
    }
    repaint();
    if (ExitRequested.load()) {
        RequestTermination();
    }
}

// --- Host -------------------------------------------------------------------------------

template <typename Function>
auto TMain::OnWindowThread(Function function) -> decltype(function()) {
    if (QThread::currentThread() == thread()) {
        return function();
    }
    // Blocking from the window's own thread would deadlock; that case returned above.
    using Result = decltype(function());
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(this, std::move(function), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(this, std::move(function), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

void TMain::ProcessEvents() {
    if (!destroying_ && QThread::currentThread() == thread()) {
        QCoreApplication::processEvents();
    }
}

void TMain::SetProgressMaximum(int maximum) {
    // A bar whose maximum equals its minimum shows a busy animation; an empty bar is meant.
    OnWindowThread([this, maximum] { ProgressBar->setRange(0, std::max(maximum, 1)); });
}

void TMain::SetProgressPosition(int position) {
    OnWindowThread([this, position] { ProgressBar->setValue(position); });
}

void TMain::SetEpromTypeText(const std::string& text) {
    OnWindowThread([this, text] { SetComboText(EpromType, text); });
}

void TMain::SetPortSelectText(const std::string& text) {
    OnWindowThread([this, text] { SetComboText(PortSelect, text); });
}

void TMain::SetComboText(QComboBox* combo, const std::string& text) {
    const QString shown = QString::fromStdString(text);
    const QSignalBlocker blocker(combo);
    // The item that shows the same value becomes the current item (the items are padded
    // differently from the texts the program puts in), so the list and the arrow keys go on
    // from the value shown. Any other text keeps the current item.
    for (int item = 0; item < combo->count(); ++item) {
        if (combo->itemText(item).trimmed() == shown.trimmed()) {
            combo->setCurrentIndex(item);
            break;
        }
    }
    combo->setEditText(shown);
    // A text a little wider than the box shows its start, not its trailing blank.
    combo->lineEdit()->setCursorPosition(0);
}

void TMain::SetInFileText(const std::string& text) {
    OnWindowThread([this, text] { InFile->setText(QString::fromLocal8Bit(text)); });
}

void TMain::SetCaption(const std::string& caption) {
    OnWindowThread([this, caption] { setWindowTitle(QString::fromStdString(caption)); });
}

void TMain::SetLastResult(Lamp lamp) {
    OnWindowThread([this, lamp] { LastResult->SetState(lamp); });
}

void TMain::SetMainWindowEnabled(bool enabled) {
    OnWindowThread([this, enabled] { SetWindowEnabled(enabled); });
}

void TMain::Repaint() {
    OnWindowThread([this] { repaint(); });
}

MessageAnswer TMain::ShowMessage(MessageKind kind, const std::string& text,
                                 MessageButtons buttons) {
    return OnWindowThread([this, kind, text, buttons] {
        return ShowMessageBox(isVisible() ? this : nullptr, kind, text, buttons);
    });
}

MessageAnswer TMain::AskYesNoCancel(MessageKind kind, const std::string& text) {
    return OnWindowThread([this, kind, text] {
        return ShowYesNoCancelBox(isVisible() ? this : nullptr, kind, text);
    });
}

}  // namespace tarvex
