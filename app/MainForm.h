#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/StartupRules.h"
#include "diag/MemoryTest.h"
#include "host/Host.h"
#include "image/FileLoader.h"
#include "image/ImageModel.h"
#include "link/Emulator.h"
#include "link/IoPort.h"

class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tarvex {

class IndicatorLamp;
class TExtTest;
class TStdTest;
class TOptions;

// The main window. It owns port access, the image model and the emulator link, runs the
// start-up sequence while it is constructed and shuts the link down when it closes or is
// destroyed. It is the core's Host: calls from another thread are carried over to the
// window's thread and wait for their result there.
class TMain : public QWidget, public Host {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 481;
    static constexpr int kClientHeight = 223;
    static constexpr int kTimerInterval = 125;
    static constexpr int kHintTime = 10000;

    // `arguments` are the command-line arguments after the program name.
    TMain(std::unique_ptr<TIoPort> portAccess, std::vector<std::string> arguments,
          QWidget* parent = nullptr);
    ~TMain() override;
    TMain(const TMain&) = delete;
    TMain& operator=(const TMain&) = delete;

    // Runs the application's event loop until the program is told to end; returns the
    // process exit status.
    int RunMessageLoop();
    // Ends the program the next time the event loop looks for work; whatever follows the
    // call in the running handler still runs.
    void RequestTermination();
    bool TerminationRequested() const { return terminationRequested_; }
    int ExitStatus() const;

    // The options window, made after this one; "&Options" shows it.
    void AttachOptions(TOptions* options);

    TIoPort& PortAccess() { return *portAccess_; }
    ImageModel& Model() { return model_; }
    EmulatorLink& Link() { return *link_; }
    const std::vector<std::string>& Arguments() const { return arguments_; }
    TStdTest& StdTestWindow() { return *StdTest; }
    TExtTest& ExtTestWindow() { return *ExtTest; }

    // Whether the command line asks for a batch run; the batch run clears it at its end.
    std::atomic<bool> BatchRequested{false};
    // Set by a batch run that succeeded; the timer then ends the program.
    std::atomic<bool> ExitRequested{false};

    // Host
    void ProcessEvents() override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressPosition(int position) override;
    void SetEpromTypeText(const std::string& text) override;
    MessageAnswer ShowMessage(MessageKind kind, const std::string& text,
                              MessageButtons buttons) override;
    MessageAnswer AskYesNoCancel(MessageKind kind, const std::string& text) override;
    void SetCaption(const std::string& caption) override;
    void SetPortSelectText(const std::string& text) override;
    void SetInFileText(const std::string& text) override;
    void SetLastResult(Lamp lamp) override;
    void SetMainWindowEnabled(bool enabled) override;
    void Repaint() override;

  public slots:
    void TarvexWriteClick();
    void TarvexReadClick();
    void TarvexVerifyClick();
    void ToggleResetClick();
    void TarvexTestClick();
    void ContinuousTestClick();
    void SingleLinesClick();
    void ReadFileClick();
    void SaveFileClick();
    // `filter` is the text of the filter the user chose in the dialog.
    void OpenDialogTypeChange(const QString& filter);
    void SaveDialogSelectionChange(const QString& filter);
    void SetOptionsClick();
    // `itemIndex` is the chosen item, or -1 for typed text.
    void PortSelectChange(int itemIndex);
    void EpromTypeChange(int itemIndex);
    void TimerTimer();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    void FormCreate();
    void FormClose();
    void FormDestroy();
    bool CheckSingleInstance();
    void InitPortAccess();
    void SelectStartType();
    void StartBatchRun();
    // Waits for the batch worker, carrying out what it still asks of the window.
    void FinishBatchRun();
    void ReleaseAndClosePort();

    // The start of the frame around every device command; false when none may start now.
    bool StillAnswers();
    bool BeginDeviceCommand();
    // Disabling keeps the keyboard focus where it was, for when the window is enabled again.
    void SetWindowEnabled(bool enabled);
    void SetComboText(QComboBox* combo, const std::string& text);
    // Makes `window` one this window owns, for the window manager: kept above it, minimised
    // with it, no taskbar entry of its own.
    void Own(QWidget* window);
    // The options or test window that is open, if any.
    QWidget* OpenOwnedWindow() const;

    template <typename Function>
    auto OnWindowThread(Function function) -> decltype(function());

    std::unique_ptr<TIoPort> portAccess_;
    ImageModel model_;
    std::unique_ptr<EmulatorLink> link_;
    std::vector<std::string> arguments_;
    InstanceLock instanceLock_;
    CommandLineDecision commandLine_;
    bool portAccessFailed_ = false;
    bool terminationRequested_ = false;
    bool messageLoopRunning_ = false;
    bool destroying_ = false;
    bool selectionChanging_ = false;
    // A filter the program selects in a file dialog is not the user's choice.
    bool presettingFilter_ = false;
    QPointer<QWidget> savedFocus_;
    std::unique_ptr<FileLoader> batchLoader_;
    std::thread batchThread_;
    std::atomic<bool> batchRunning_{false};
    // The memory test's generator starts with the program and carries on from run to run.
    TestRandom testRandom_;
    // Windows of their own, not children: disabling the main window must not disable them.
    std::unique_ptr<TStdTest> StdTest;
    std::unique_ptr<TExtTest> ExtTest;

    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* InFile = nullptr;
    QLineEdit* OutFile = nullptr;
    QPushButton* ReadFile = nullptr;
    QPushButton* SaveFile = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QPushButton* TarvexWrite = nullptr;
    QPushButton* TarvexRead = nullptr;
    QPushButton* TarvexVerify = nullptr;
    QPushButton* TarvexTest = nullptr;
    QPushButton* ToggleReset = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QPushButton* SetOptions = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    IndicatorLamp* ResetLED = nullptr;
    IndicatorLamp* LastResult = nullptr;
    QComboBox* PortSelect = nullptr;
    QComboBox* EpromType = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QFileDialog* OpenDialog = nullptr;
    QFileDialog* SaveDialog = nullptr;
    QTimer* Timer = nullptr;
    QMenu* TestMenu = nullptr;
    QPointer<TOptions> Options;
};

}  // namespace tarvex
