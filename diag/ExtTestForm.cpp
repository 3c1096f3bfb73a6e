#include "diag/ExtTestForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace tarvex {
namespace {

constexpr const char* kCheckBoxNames[] = {"DataCheckBox", "AutofeedCheckBox", "InitCheckBox",
                                          "SelectCheckBox", "StrobeCheckBox"};
constexpr const char* kLabelNames[] = {"Label5", "Label1", "Label2", "Label3", "Label4"};

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 168, 75, 25);
    button->setAutoDefault(false);
    return button;
}

QLabel* MakePicture(QWidget* parent, const char* name, bool withTrace) {
    auto* picture = new QLabel(parent);
    picture->setObjectName(QString::fromLatin1(name));
    picture->setGeometry(261, 70, 45, 32);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setPixmap(QPixmap::fromImage(SignalPicture(withTrace)));
    picture->hide();
    return picture;
}

}  // namespace

QImage SignalPicture(bool withTrace) {
    constexpr int kWidth = 40;
    constexpr int kHeight = 30;
    // Sixteen colours are plenty: four are used.
    QImage picture(kWidth, kHeight, QImage::Format_Indexed8);
    picture.setColorTable(
        {qRgb(0xC0, 0xC0, 0xC0), qRgb(0x80, 0x80, 0x80), qRgb(0, 0, 0), qRgb(0, 0xFF, 0)});
    enum : uint { kSilver, kGrey, kBlack, kGreen };
    picture.fill(kSilver);
    for (int y = 1; y < kHeight - 1; ++y) {
        for (int x = 1; x < kWidth - 1; ++x) {
            const bool inner = x > 1 && y > 1 && x < kWidth - 2 && y < kHeight - 2;
            picture.setPixel(x, y, inner ? kBlack : kGrey);
        }
    }
    if (!withTrace) {
        return picture;
    }
    // High level, broken by two low-going pulses.
    for (const auto& [from, to] : {std::pair{3, 12}, {15, 24}, {27, 36}}) {
        for (int x = from; x <= to; ++x) {
            picture.setPixel(x, 11, kGreen);
        }
    }
    for (const int x : {12, 15, 24, 27}) {
        for (int y = 12; y <= 19; ++y) {
            picture.setPixel(x, y, kGreen);
        }
    }
    for (const auto& [from, to] : {std::pair{12, 15}, {24, 27}}) {
        for (int x = from; x <= to; ++x) {
            picture.setPixel(x, 20, kGreen);
        }
    }
    return picture;
}

// No caption buttons and no caption yet: the test loop writes its state there. A dialog, as
// only for a dialog does Qt tell an X window manager whose window it is (WM_TRANSIENT_FOR).
TExtTest::TExtTest(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("ExtTest"));
    setFixedSize(kClientWidth, kClientHeight);
    // The same small dialog font as the main window: the layout was made for it.
    QFont small = QApplication::font();
    small.setPixelSize(kFontPixels);
    setFont(small);

    StartTest = MakeButton(this, "StartTest", "&Run test", 8);
    StopTest = MakeButton(this, "StopTest", "&Stop test", 132);
    for (std::size_t i = 0; i < kSignalLines.size(); ++i) {
        const int top = 20 + 28 * static_cast<int>(i);
        auto* box = new QCheckBox(QString::fromLatin1(kSignalLines[i].caption), this);
        box->setObjectName(QString::fromLatin1(kCheckBoxNames[i]));
        box->setGeometry(12, top, 100, 17);
        CheckBoxes[i] = box;
        auto* label = new QLabel(QString::fromLatin1(kSignalLines[i].probe), this);
        label->setObjectName(QString::fromLatin1(kLabelNames[i]));
        label->move(116, top + 4);
        label->adjustSize();
    }
    Exit = MakeButton(this, "Exit", "&Exit", 256);
    Image1 = MakePicture(this, "Image1", false);
    Image2 = MakePicture(this, "Image2", true);
    Scope = new QLabel(QStringLiteral("Correct signal shape"), this);
    Scope->setObjectName(QStringLiteral("Scope"));
    Scope->move(236, 108);
    Scope->adjustSize();
    QPalette green = Scope->palette();
    green.setColor(QPalette::WindowText, QColor(0, 0x80, 0));
    Scope->setPalette(green);

    setTabOrder(StartTest, StopTest);
    setTabOrder(StopTest, CheckBoxes[0]);
    for (std::size_t i = 1; i < kSignalLines.size(); ++i) {
        setTabOrder(CheckBoxes[i - 1], CheckBoxes[i]);
    }
    setTabOrder(CheckBoxes[kSignalLines.size() - 1], Exit);

    connect(StartTest, &QPushButton::clicked, this, &TExtTest::StartTestClick);
    connect(StopTest, &QPushButton::clicked, this, &TExtTest::StopTestClick);
    connect(Exit, &QPushButton::clicked, this, &TExtTest::ExitClick);
}

void TExtTest::RunSignalsTest(EmulatorLink& link) {
    link_ = &link;
    tarvex::RunSignalsTest(link, *this);
    link_ = nullptr;
}

void TExtTest::StartTestClick() {
    if (link_) {
        link_->StopRequest = 0;
    }
}

void TExtTest::StopTestClick() {
    if (link_) {
        link_->StopRequest = 1;
    }
}

void TExtTest::ExitClick() {
    if (link_) {
        link_->UserInterface().SetMainWindowEnabled(true);
    }
    hide();
}

bool TExtTest::Visible() const {
    return isVisible();
}

SignalLines TExtTest::Ticked() const {
    SignalLines lines = 0;
    for (std::size_t i = 0; i < kSignalLines.size(); ++i) {
        lines |= CheckBoxes[i]->isChecked() ? kSignalLines[i].line : 0u;
    }
    return lines;
}

void TExtTest::ProcessEvents(bool wait) {
    QCoreApplication::processEvents(wait ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
}

void TExtTest::ShowPicture(bool withTrace) {
    Image1->setVisible(!withTrace);
    Image2->setVisible(withTrace);
}

void TExtTest::ShowSuspended() {
    ShowPicture(false);
    setWindowTitle(QString::fromLatin1(kSignalsSuspendedCaption));
}

void TExtTest::ShowRunning(bool driving) {
    ShowPicture(driving);
    setWindowTitle(QString::fromLatin1(kSignalsRunningCaption));
}

// The window manager may offer a close button all the same; the test has its own way out.
void TExtTest::closeEvent(QCloseEvent* event) {
    event->ignore();
}

}  // namespace tarvex
