#pragma once

#include <QWidget>

#include "diag/MemoryTest.h"
#include "link/Emulator.h"

class QCloseEvent;
class QLabel;
class QPushButton;

namespace tarvex {

// The counters of the continuous memory test.
class TStdTest : public QWidget, private MemoryTestView {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 202;
    static constexpr int kFontPixels = 10;
    static constexpr int kClientHeight = 122;

    explicit TStdTest(QWidget* parent = nullptr);

    // Runs the test until "&Stop test" or the pass limit; the window must be showing.
    void RunMemoryTest(EmulatorLink& link, TestRandom& random);
    // Hides the window and clears the request and the counters for the next run.
    void Finish(EmulatorLink& link);

  public slots:
    void StopTestClick();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void ShowPhase(MemoryTestPhase phase) override;
    void ShowCounts(const MemoryTestCounts& counts, bool passed) override;

    EmulatorLink* link_ = nullptr;  // while a test runs
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* AllPass = nullptr;
    QLabel* OKPass = nullptr;
    QLabel* BadPass = nullptr;
    QLabel* Write = nullptr;
    QLabel* Verify = nullptr;
    QPushButton* StopTest = nullptr;
};

// Shows `window` centred on `owner`.
void ShowCentredOn(QWidget* window, const QWidget* owner);

}  // namespace tarvex
