#pragma once

#include <QImage>
#include <QWidget>

#include "diag/SignalsTest.h"
#include "link/Emulator.h"

class QCheckBox;
class QCloseEvent;
class QLabel;
class QPushButton;

namespace tarvex {

// The 40 x 30 oscilloscope picture: an empty screen, or the trace the probe should show.
QImage SignalPicture(bool withTrace);

// The interface signals test: which lines to drive and where to probe them.
class TExtTest : public QWidget, private SignalsTestView {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 338;
    static constexpr int kFontPixels = 10;
    static constexpr int kClientHeight = 202;

    explicit TExtTest(QWidget* parent = nullptr);

    // Runs the test until "&Exit"; the window must be showing.
    void RunSignalsTest(EmulatorLink& link);

  public slots:
    void StartTestClick();
    void StopTestClick();
    void ExitClick();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    bool Visible() const override;
    SignalLines Ticked() const override;
    void ProcessEvents(bool wait) override;
    void ShowSuspended() override;
    void ShowRunning(bool driving) override;
    void ShowPicture(bool withTrace);

    EmulatorLink* link_ = nullptr;  // while a test runs
    QCheckBox* CheckBoxes[kSignalLines.size()] = {};
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Scope = nullptr;
    QPushButton* StartTest = nullptr;
    QPushButton* StopTest = nullptr;
    QPushButton* Exit = nullptr;
};

}  // namespace tarvex
