#include "diag/StdTestForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>

namespace tarvex {
namespace {

const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, const QFont& font,
                  const QPoint& place) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->move(place);
    label->adjustSize();
    return label;
}

// A counter whose right edge stays put as the number grows.
QLabel* MakeCounter(QWidget* parent, const char* name, const QFont& font, int top) {
    auto* label = new QLabel(QStringLiteral("0"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(110, top, 80, QFontMetrics(font).height());
    return label;
}

void SetTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

}  // namespace

// No caption buttons: the test ends through its own Stop button. A dialog, as only for a
// dialog does Qt tell an X window manager whose window it is (WM_TRANSIENT_FOR).
TStdTest::TStdTest(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("StdTest"));
    setWindowTitle(QStringLiteral("         Tarvex memory test"));
    setFixedSize(kClientWidth, kClientHeight);
    // The same small dialog font as the main window: the layout was made for it.
    QFont small = QApplication::font();
    small.setPixelSize(kFontPixels);
    setFont(small);

    // The labels line up their colons by a fixed-pitch font.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(13);
    fixed.setBold(true);
    QFont counter = font();
    counter.setPixelSize(13);
    counter.setBold(true);
    QFont phase = font();
    phase.setPixelSize(11);
    phase.setBold(true);

    Label1 = MakeLabel(this, "Label1", "Tests executed :", fixed, {16, 12});
    Label2 = MakeLabel(this, "Label2", "O.K. passes    :", fixed, {16, 32});
    Label3 = MakeLabel(this, "Label3", "Bad passes     :", fixed, {16, 52});
    AllPass = MakeCounter(this, "AllPass", counter, 12);
    OKPass = MakeCounter(this, "OKPass", counter, 32);
    SetTextColour(OKPass, kLime);
    BadPass = MakeCounter(this, "BadPass", counter, 52);
    SetTextColour(BadPass, kRed);
    Write = MakeLabel(this, "Write", "Memory  write", phase, {16, 80});
    Verify = MakeLabel(this, "Verify", "Memory verify", phase, {16, 100});

    StopTest = new QPushButton(QStringLiteral("&Stop test"), this);
    StopTest->setObjectName(QStringLiteral("StopTest"));
    StopTest->setGeometry(115, 84, 75, 25);
    StopTest->setAutoDefault(false);
    connect(StopTest, &QPushButton::clicked, this, &TStdTest::StopTestClick);
}

void TStdTest::RunMemoryTest(EmulatorLink& link, TestRandom& random) {
    link_ = &link;
    tarvex::RunMemoryTest(link, random, *this);
    link_ = nullptr;
}

void TStdTest::Finish(EmulatorLink& link) {
    hide();
    link.StopRequest = 0;
    for (QLabel* counter : {AllPass, OKPass, BadPass}) {
        counter->setText(QStringLiteral("0"));
    }
}

void TStdTest::StopTestClick() {
    if (!link_) {
        return;
    }
    link_->StopRequest = 1;
    link_->UserInterface().SetMainWindowEnabled(true);
    hide();
}

void TStdTest::ShowPhase(MemoryTestPhase phase) {
    const QColor text = palette().color(QPalette::WindowText);
    SetTextColour(Write, phase == MemoryTestPhase::Write ? kRed : text);
    SetTextColour(Verify, phase == MemoryTestPhase::Verify ? kLime : text);
}

void TStdTest::ShowCounts(const MemoryTestCounts& counts, bool /*passed*/) {
    AllPass->setText(QString::number(counts.executed));
    OKPass->setText(QString::number(counts.passed));
    BadPass->setText(QString::number(counts.failed));
}

void ShowCentredOn(QWidget* window, const QWidget* owner) {
    const QRect frame = owner->frameGeometry();
    window->move(frame.center() - QPoint(window->width() / 2, window->height() / 2));
    window->show();
}

// The window manager may offer a close button all the same; the test has its own way out.
void TStdTest::closeEvent(QCloseEvent* event) {
    event->ignore();
}

}  // namespace tarvex
