#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <optional>
#include <string>

#include "host/Host.h"
#include "image/ImageModel.h"
#include "image/RangeEdit.h"

class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QScrollBar;
class QWheelEvent;

namespace tarvex {

// The options window: the image page by page as a hex dump, the editors of the range and the
// fill value, and the write-and-verify switch. Made once at start-up, hidden when closed.
// Every value it shows or changes lives in the model; no edit leaves the model with
// BufferStart > BufferEnd or BufferEnd > EpromEnd.
class TOptions : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 637;
    static constexpr int kClientHeight = 328;
    static constexpr int kHintTime = 10000;

    explicit TOptions(ImageModel& model, QWidget* parent = nullptr);

    // Shows the window, not modal, and loads it.
    void Open();

    // Loads every field from the model and shows page 0.
    void FormActivate();
    // Draws the page the scroll bar is on.
    void ShowBufferPage();

  signals:
    // The window was closed; the main window takes input again.
    void FormClose();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void CreateControls();
    void FitDumpFont();
    void SBarChange();
    // The paging keys; the key still reaches the dump afterwards.
    void REditKeyDown(const QKeyEvent& event);
    // One page a notch, over the dump as over the scroll bar; a fine wheel's small steps add
    // up to a notch.
    void WheelPages(const QWheelEvent& event);
    void FieldEnter(RangeField field);
    void FieldExit(RangeField field);
    // Leaving without a word: a valid text goes to the model, any other gives way to the
    // saved text.
    void CommitField(RangeField field);
    // True when the key event is used up here.
    bool FilterHexKey(const QKeyEvent& event);
    // A box of this window; the window is loaded again when it closes.
    void Message(MessageKind kind, const std::string& text, MessageButtons buttons);
    std::optional<RangeField> FieldOf(const QObject* object) const;
    QLineEdit* Field(RangeField field) const { return fields_[static_cast<int>(field)]; }
    QString ModelText(RangeField field) const;

    ImageModel& model_;
    std::array<QLineEdit*, 3> fields_{};
    // Each field's text when it took the focus, put back when it is left with a bad value.
    std::array<QString, 3> savedTexts_;
    // What the wheel turned short of a notch.
    int wheelRest_ = 0;

    QLabel* Label1 = nullptr;
    QLabel* Range = nullptr;
    QPlainTextEdit* REdit = nullptr;
    QScrollBar* SBar = nullptr;
    QLineEdit* BufferStart = nullptr;
    QLineEdit* BufferEnd = nullptr;
    QLineEdit* FillValue = nullptr;
    QLineEdit* EmulatorStart = nullptr;
    QLineEdit* HexBase = nullptr;
    QCheckBox* AutoVerify = nullptr;
    QCheckBox* AutoSave = nullptr;
};

}  // namespace tarvex
