#include "view/OptionsForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QWheelEvent>
#include <cstdlib>

#include "image/BufferPage.h"
#include "image/HexText.h"
#include "view/MessageBox.h"

namespace tarvex {
namespace {

// The layout's pixel sizes were made for a small 8-point dialog font.
constexpr int kFontPixels = 10;
// The dump's font size at most; smaller only when 74 columns would not fit.
constexpr int kDumpFontPixels = 12;
constexpr int kDumpMargin = 2;

const QColor kNavy(0x00, 0x00, 0x80);
const QColor kMaroon(0x80, 0x00, 0x00);

void SetHint(QWidget* widget, const char* hint) {
    widget->setToolTip(QString::fromLatin1(hint));
    widget->setToolTipDuration(TOptions::kHintTime);
}

void SetTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QLineEdit* MakeField(QWidget* parent, const char* name, const char* hint, const QRect& place) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setGeometry(place);
    SetHint(field, hint);
    return field;
}

// A label whose accelerator moves the focus to `buddy`, left of it. The layout leaves the
// room of a small dialog font between a label and its field; a desktop font needs its
// narrow face there, and a smaller size where even that is too wide.
QLabel* MakeLabel(QWidget* parent, const char* text, QPoint place, const QColor& color,
                  QWidget* buddy) {
    constexpr int kGap = 3;
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->move(place);
    SetTextColor(label, color);
    label->setBuddy(buddy);
    QFont font = label->font();
    font.setStretch(QFont::SemiCondensed);
    const int room = buddy->x() - kGap - place.x();
    while (QFontMetrics(font).horizontalAdvance(label->text().remove(QLatin1Char('&'))) > room &&
           font.pixelSize() > 8) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    label->setFont(font);
    label->adjustSize();
    return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* text, const char* hint,
                        const QRect& place) {
    auto* box = new QCheckBox(QString::fromLatin1(text), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(place);
    SetHint(box, hint);
    return box;
}

// The character a key stands for as a typed character, or none for keys that only edit or
// move (arrows, Delete, Tab) and for accelerators.
std::optional<char32_t> TypedCharacter(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers.testFlag(Qt::AltModifier) || modifiers.testFlag(Qt::MetaModifier)) {
        return std::nullopt;
    }
    const bool control = modifiers.testFlag(Qt::ControlModifier);
    switch (event.key()) {
        case Qt::Key_Backspace:
            return control ? 0x7F : 0x08;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return control ? 0x0A : 0x0D;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Delete:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return std::nullopt;
        default:
            break;
    }
    // Ctrl with a letter types a control code (Ctrl+V is 16h), whatever text the platform
    // attaches to the event.
    if (control && event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z) {
        return static_cast<char32_t>(event.key() - Qt::Key_A + 1);
    }
    if (control) {
        return std::nullopt;
    }
    const QList<uint> characters = event.text().toUcs4();
    if (characters.isEmpty()) {
        return std::nullopt;
    }
    return static_cast<char32_t>(characters.front());
}

}  // namespace

TOptions::TOptions(ImageModel& model, QWidget* parent)
    // A dialog, not a plain window: only for a dialog does Qt tell an X window manager whose
    // window it is (WM_TRANSIENT_FOR), and many give a dialog no minimise or maximise.
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      model_(model) {
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("  Tarvex II Options"));
    QFont font = QApplication::font();
    font.setPixelSize(kFontPixels);
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);
    CreateControls();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TOptions::CreateControls() {
    Label1 = new QLabel(QStringLiteral(" Address        Buffer contents"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 8);
    Label1->adjustSize();

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Range = new QLabel(QStringLiteral("Range"), this);
    Range->setObjectName(QStringLiteral("Range"));
    QFont rangeFont = fixed;
    rangeFont.setPixelSize(kFontPixels + 2);
    Range->setFont(rangeFont);
    SetTextColor(Range, kNavy);
    Range->setGeometry(364, 8, 40, 15);

    REdit = new QPlainTextEdit(this);
    REdit->setObjectName(QStringLiteral("REdit"));
    REdit->setGeometry(8, 24, 601, 249);
    REdit->setReadOnly(true);
    // Read-only, but with a caret the arrow keys move.
    REdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    REdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    REdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    REdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    REdit->setFocusPolicy(Qt::ClickFocus);  // no tab stop
    REdit->setContextMenuPolicy(Qt::NoContextMenu);
    REdit->document()->setDocumentMargin(kDumpMargin);
    QPalette dumpPalette = REdit->palette();
    dumpPalette.setColor(QPalette::Text, Qt::black);
    REdit->setPalette(dumpPalette);
    REdit->setFont(fixed);
    FitDumpFont();

    SBar = new QScrollBar(Qt::Vertical, this);
    SBar->setObjectName(QStringLiteral("SBar"));
    SBar->setGeometry(610, 25, 16, 247);
    SBar->setRange(0, 0);
    SBar->setSingleStep(1);
    SBar->setPageStep(1);
    SBar->setFocusPolicy(Qt::NoFocus);

    BufferStart = MakeField(this, "BufferStart", " First buffer address used in Tarvex operations ",
                            {86, 292, 37, 21});
    BufferEnd = MakeField(this, "BufferEnd", " Last buffer address used in Tarvex operations ",
                          {142, 292, 37, 21});
    FillValue = MakeField(this, "FillValue", " Buffer fill value ", {246, 292, 19, 21});
    EmulatorStart =
        MakeField(this, "EmulatorStart", " First emulator address used in Tarvex operations ",
                  {370, 292, 37, 21});
    EmulatorStart->setReadOnly(true);
    HexBase =
        MakeField(this, "HexBase", " EPROM base address used with hex files ", {464, 292, 37, 21});
    HexBase->setReadOnly(true);
    fields_ = {BufferStart, BufferEnd, FillValue};
    for (QLineEdit* field : {BufferStart, BufferEnd, FillValue, EmulatorStart, HexBase}) {
        // Five hex digits fill the 37-pixel fields only without the usual inner margins.
        field->setTextMargins(-1, 0, -1, 0);
    }
    for (QLineEdit* field : fields_) {
        field->installEventFilter(this);
    }

    MakeLabel(this, "Use buffer &from", {8, 296}, kNavy, BufferStart);
    MakeLabel(this, "&to", {128, 296}, kNavy, BufferEnd);
    MakeLabel(this, "&Initial value", {188, 296}, kNavy, FillValue);
    MakeLabel(this, "&Emulator start", {300, 296}, kMaroon, EmulatorStart);
    MakeLabel(this, "&Hex base", {412, 296}, kMaroon, HexBase);

    AutoVerify = MakeCheckBox(this, "AutoVerify", "&Write && verify",
                              " Autoverify Tarvex write operation ", {524, 282, 93, 17});
    AutoVerify->setChecked(model_.AutoVerify);
    AutoSave = MakeCheckBox(this, "AutoSave", "&Auto save options",
                            " Autoverify Tarvex write operation ", {524, 306, 109, 17});
    AutoSave->setEnabled(false);

    setTabOrder(BufferStart, BufferEnd);
    setTabOrder(BufferEnd, FillValue);
    setTabOrder(FillValue, EmulatorStart);
    setTabOrder(EmulatorStart, HexBase);
    setTabOrder(HexBase, AutoVerify);
    setTabOrder(AutoVerify, AutoSave);

    REdit->installEventFilter(this);
    REdit->viewport()->installEventFilter(this);
    SBar->installEventFilter(this);
    connect(SBar, &QScrollBar::valueChanged, this, &TOptions::SBarChange);
    connect(AutoVerify, &QCheckBox::toggled, this,
            [this](bool checked) { model_.AutoVerify = checked; });
}

// The largest size up to the dump's own whose 74 columns and 16 lines fit the dump.
void TOptions::FitDumpFont() {
    const QRect room =
        REdit->contentsRect().adjusted(kDumpMargin, kDumpMargin, -kDumpMargin, -kDumpMargin);
    const QString line(static_cast<qsizetype>(kPageLineWidth), QLatin1Char('0'));
    QFont font = REdit->font();
    for (int pixels = kDumpFontPixels; pixels > 6; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        // One column spare for the caret at a line's end.
        const bool wide = metrics.horizontalAdvance(line + QLatin1Char('0')) <= room.width();
        const bool high = metrics.lineSpacing() * static_cast<int>(kPageLines) <= room.height();
        if (wide && high) {
            break;
        }
    }
    REdit->setFont(font);
}

void TOptions::Open() {
    show();
    activateWindow();
    FormActivate();
}

void TOptions::FormActivate() {
    for (const RangeField field :
         {RangeField::BufferStart, RangeField::BufferEnd, RangeField::FillValue}) {
        Field(field)->setText(ModelText(field));
    }
    EmulatorStart->setText(QString::fromStdString(HexAddress(model_.EmulatorStart)));
    HexBase->setText(QString::fromStdString(HexAddress(model_.HexBase)));
    {
        // One drawing below is enough.
        const QSignalBlocker blocker(SBar);
        SBar->setMaximum(static_cast<int>(LastPage(model_.EpromEnd)));
        SBar->setValue(0);
    }
    ShowBufferPage();
}

void TOptions::ShowBufferPage() {
    const auto page = static_cast<std::uint32_t>(SBar->value());
    REdit->setPlainText(QString::fromStdString(BufferPageText(model_.DataBuffer, page)));
    QTextCursor caret = REdit->textCursor();
    caret.setPosition(static_cast<int>(kPageCaretOffset));
    REdit->setTextCursor(caret);
    REdit->setFocus();
    Range->setText(QString::fromStdString(PageRangeText(page)));
    Range->adjustSize();
}

void TOptions::SBarChange() {
    ShowBufferPage();
}

void TOptions::REditKeyDown(const QKeyEvent& event) {
    int page = SBar->value();
    switch (event.key()) {
        case Qt::Key_PageUp:
            page -= 1;
            break;
        case Qt::Key_PageDown:
            page += 1;
            break;
        case Qt::Key_End:
            page = static_cast<int>(LastPage(model_.EpromEnd));
            break;
        case Qt::Key_Home:
            page = 0;
            break;
        default:
            return;  // the dump moves its caret itself
    }
    // The scroll bar keeps inside its range and reports only a real change.
    SBar->setValue(page);
}

void TOptions::WheelPages(const QWheelEvent& event) {
    constexpr int kNotch = 120;  // eighths of a degree
    const QPoint delta = event.angleDelta();
    if (std::abs(delta.y()) < std::abs(delta.x())) {
        return;  // sideways: the page has no width to scroll
    }
    if ((wheelRest_ < 0 && delta.y() > 0) || (wheelRest_ > 0 && delta.y() < 0)) {
        wheelRest_ = 0;  // turned back
    }
    wheelRest_ += delta.y();
    const int notches = wheelRest_ / kNotch;
    wheelRest_ %= kNotch;
    // Up is towards page 0. The scroll bar keeps inside its range.
    SBar->setValue(SBar->value() - notches);
}

void TOptions::FieldEnter(RangeField field) {
    savedTexts_[static_cast<int>(field)] = Field(field)->text();
}

void TOptions::FieldExit(RangeField field) {
    QLineEdit* edit = Field(field);
    if (ApplyRangeField(model_, field, edit->text().toStdString())) {
        edit->setText(ModelText(field));
        return;
    }
    // The model kept its value; so does the field. The focus stays where the user put it.
    Message(MessageKind::Error, RangeFieldMessage(field), MessageButtons::Cancel);
    edit->setText(savedTexts_[static_cast<int>(field)]);
}

void TOptions::CommitField(RangeField field) {
    QLineEdit* edit = Field(field);
    const bool valid = ApplyRangeField(model_, field, edit->text().toStdString());
    edit->setText(valid ? ModelText(field) : savedTexts_[static_cast<int>(field)]);
}

bool TOptions::FilterHexKey(const QKeyEvent& event) {
    const std::optional<char32_t> character = TypedCharacter(event);
    if (!character) {
        return false;
    }
    switch (ClassifyHexKey(*character)) {
        case HexKey::Accept:
            return false;
        case HexKey::Drop:
            return true;
        case HexKey::Refuse:
            Message(MessageKind::Warning, kHexKeyWarning, MessageButtons::Ok);
            return true;
    }
    return true;
}

void TOptions::Message(MessageKind kind, const std::string& text, MessageButtons buttons) {
    ShowMessageBox(this, kind, text, buttons);
    // Coming back from the box activates the window again.
    FormActivate();
}

QString TOptions::ModelText(RangeField field) const {
    switch (field) {
        case RangeField::BufferStart:
            return QString::fromStdString(HexAddress(model_.BufferStart));
        case RangeField::BufferEnd:
            return QString::fromStdString(HexAddress(model_.BufferEnd));
        case RangeField::FillValue:
            return QString::fromStdString(HexByte(model_.FillValue));
    }
    return {};
}

std::optional<RangeField> TOptions::FieldOf(const QObject* object) const {
    for (std::size_t index = 0; index < fields_.size(); ++index) {
        if (fields_[index] == object) {
            return static_cast<RangeField>(index);
        }
    }
    return std::nullopt;
}

bool TOptions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == REdit && event->type() == QEvent::KeyPress) {
        REditKeyDown(static_cast<const QKeyEvent&>(*event));
        return false;  // the dump applies the key to its caret as well
    }
    if ((watched == REdit->viewport() || watched == SBar) && event->type() == QEvent::Wheel) {
        WheelPages(static_cast<const QWheelEvent&>(*event));
        return true;  // never the dump's own zoom (Ctrl) or scrolling
    }
    const std::optional<RangeField> field = FieldOf(watched);
    if (!field) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::FocusOut: {
            // Another window taking the focus (a message box, another program) or a pop-up
            // menu does not enter or leave the field.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
                break;
            }
            if (event->type() == QEvent::FocusIn) {
                FieldEnter(*field);
            } else {
                // After the focus change is complete: a message box from inside it would
                // fight the change for the focus.
                QTimer::singleShot(0, this, [this, which = *field] { FieldExit(which); });
            }
            break;
        }
        case QEvent::KeyPress:
            return FilterHexKey(static_cast<const QKeyEvent&>(*event));
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void TOptions::closeEvent(QCloseEvent* event) {
    // The close box takes no focus: a value typed into the field with the focus would be
    // lost without a word, so it is committed as if the field were left. A bad one is
    // dropped in silence: the user chose to close, and a box would ask about a window that
    // is gone the moment it is answered.
    if (const std::optional<RangeField> field = FieldOf(focusWidget());
        field && Field(*field)->text() != ModelText(*field)) {
        CommitField(*field);
    }
    event->accept();
    emit FormClose();
}

// Page Up and Page Down, which no field uses, take the keyboard back to the dump from
// anywhere in the window and turn the page there as they do in the dump itself.
void TOptions::keyPressEvent(QKeyEvent* event) {
    // A key the dump itself passed on is not sent back to it.
    if ((event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) &&
        focusWidget() != REdit) {
        REdit->setFocus(Qt::ShortcutFocusReason);
        QCoreApplication::sendEvent(REdit, event);
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace tarvex
