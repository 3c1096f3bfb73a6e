// The options and test windows on a real X server with a real window manager (openbox), as a
// user meets them: who owns them, what a click on the waiting main window does, minimising,
// closing Options with a value still in a field, and the wheel over the dump. Run by
// desktop_test.sh; the window manager's view is read with xprop and the user's hand is
// xdotool's, so every click and key goes through the window manager.
#include "WindowRig.h"

using namespace tarvex::testing;

namespace {

constexpr int kPatience = 10000;  // ms for the window manager to do what it is asked

QString Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(kPatience)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString Id(const QWidget* window) {
    return "0x" + QString::number(window->winId(), 16);
}

// The window ids in xprop's answer for a WINDOW property.
QList<WId> Ids(const QString& answer) {
    QList<WId> ids;
    const QString list = answer.section('#', 1);
    for (const auto& match : QRegularExpression("0x[0-9a-fA-F]+").globalMatch(list)) {
        ids << match.captured().toULongLong(nullptr, 16);
    }
    return ids;
}

QString Property(const QWidget* window, const char* name) {
    return Run("xprop", {"-id", Id(window), name});
}

QList<WId> Stacking() {
    return Ids(Run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}));
}

WId ActiveWindow() {
    return Ids(Run("xprop", {"-root", "_NET_ACTIVE_WINDOW"})).value(0);
}

bool Managed(const QWidget* window) {
    return Stacking().contains(window->winId());
}

bool Above(const QWidget* upper, const QWidget* lower) {
    const QList<WId> stacking = Stacking();
    const qsizetype up = stacking.indexOf(upper->winId()), down = stacking.indexOf(lower->winId());
    return up >= 0 && down >= 0 && up > down;
}

bool Iconic(const QWidget* window) {
    return Property(window, "WM_STATE").contains("Iconic");
}

// A click of the user's, through the X server and the window manager; `at` in the window.
void Click(const QWidget* window, QPoint at, const QString& button = "1", int times = 1) {
    Run("xdotool",
        {"mousemove", "--window", Id(window), QString::number(at.x()), QString::number(at.y()),
         "click", "--repeat", QString::number(times), "--delay", "50", button});
}

// Lets events through until `done`, for kPatience at most.
bool WaitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(kPatience);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

// Shows the main window and waits until the window manager has made it the active one.
bool ShowMain(WindowRig& rig) {
    rig.main->show();
    return WaitFor([&] { return ActiveWindow() == rig.main->winId(); });
}

// Closes `window` as its title bar's close box does.
void CloseByTheWindowManager(QWidget* window) {
    Run("wmctrl", {"-i", "-c", Id(window)});
    WaitFor([&] { return !window->isVisible(); });
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(UseOwnDirectories());
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void ownedWindows_data() { OwnWindowRows("window"); }

    // Each window belongs to the main window: the window manager keeps it above the main
    // window when the user clicks the disabled main window, minimises the two together and
    // brings them back together; it offers no maximise.
    void ownedWindows() {
        WindowRig rig("sim");
        QVERIFY(ShowMain(rig));
        // Another program's window, on top until the click on the main window.
        QWidget other;
        other.setWindowTitle("Another program");
        other.setGeometry(10, 620, 200, 100);
        QStringList failures;
        auto expect = [&](bool good, const QString& what) {
            if (!good) {
                failures << what;
            }
        };
        const QPoint onTheMainWindow(470, 200);  // clear of the test windows centred on it
        const auto inside = [&](QWidget* window) {
            expect(WaitFor([&] { return Managed(window) && ActiveWindow() == window->winId(); }),
                   "opens as the active window");
            expect(Ids(Property(window, "WM_TRANSIENT_FOR")) == QList<WId>{rig.main->winId()},
                   "transient for the main window: " + Property(window, "WM_TRANSIENT_FOR"));
            expect(!Property(window, "_NET_WM_ALLOWED_ACTIONS").contains("MAXIMIZE"),
                   "no maximise: " + Property(window, "_NET_WM_ALLOWED_ACTIONS"));
            // Moved aside, so that the click finds the main window.
            const QPoint click = rig.main->mapToGlobal(onTheMainWindow);
            if (window->frameGeometry().contains(click)) {
                window->move(0, 0);
            }
            expect(WaitFor([&] { return !window->frameGeometry().contains(click); }),
                   "moved aside");
            other.show();
            expect(WaitFor([&] { return Managed(&other); }), "other program shown");
            other.raise();
            other.activateWindow();
            expect(WaitFor([&] { return Above(&other, rig.main.get()); }), "other program on top");

            Click(rig.main.get(), onTheMainWindow);
            // The click has come through once the window manager raised the main window.
            expect(WaitFor([&] { return Above(rig.main.get(), &other); }), "main window raised");
            expect(WaitFor([&] { return Above(window, rig.main.get()); }),
                   "still above the main window after the click on it");
            expect(WaitFor([&] { return ActiveWindow() == window->winId(); }),
                   "the active window again after the click on the main window");
            expect(!rig.main->isEnabled(), "main window still disabled");

            Run("xdotool", {"windowminimize", Id(window)});
            expect(WaitFor([&] { return Iconic(window) && Iconic(rig.main.get()); }),
                   "minimised with the main window");
            Run("wmctrl", {"-i", "-a", Id(rig.main.get())});
            expect(WaitFor([&] {
                       return !Iconic(window) && !Iconic(rig.main.get()) &&
                              Above(window, rig.main.get());
                   }),
                   "back with the main window, on top of it");
        };
        WhileOpen(rig, Row<QString>("window"), inside, CloseByTheWindowManager);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join("; ")));
        QVERIFY(rig.main->isEnabled());
    }

    void closingOptions_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<quint32>("end");
        QTest::addColumn<QString>("shown");
        QTest::newRow("good value: committed") << "fff" << 0xFFFu << "00FFF";
        QTest::newRow("bad value: dropped, no box") << "fffff" << 0x1FFFFu << "1FFFF";
    }

    // The close box with a value typed into a field and not yet left: a good one is committed,
    // a bad one dropped without a word, and the main window takes the keyboard again.
    void closingOptions() {
        WindowRig rig("sim");
        QVERIFY(ShowMain(rig));
        Modals modals;
        rig.Click("SetOptions");
        QWidget* options = rig.options.get();
        QVERIFY(WaitFor([&] { return ActiveWindow() == options->winId(); }));
        auto* field = options->findChild<QLineEdit*>("BufferEnd");
        Click(options, field->geometry().center());
        QVERIFY(WaitFor([&] { return field->hasFocus(); }));
        Run("xdotool", {"key", "--delay", "20", "End", "BackSpace", "BackSpace", "BackSpace",
                        "BackSpace", "BackSpace"});
        Run("xdotool", {"type", "--delay", "20", Row<QString>("typed")});
        QVERIFY(WaitFor([&] { return field->text() == Row<QString>("typed"); }));
        CloseByTheWindowManager(options);
        QVERIFY(!options->isVisible());
        QVERIFY(WaitFor([&] { return ActiveWindow() == rig.main->winId(); }));
        QCOMPARE(modals.boxes, QStringList());
        QTEST(rig.main->Model().BufferEnd, "end");
        QTEST(field->text(), "shown");
        QVERIFY(rig.main->isEnabled());
    }

    void wheel_data() {
        QTest::addColumn<QString>("key");        // a paging key first, or none
        QTest::addColumn<QStringList>("turns");  // xdotool's buttons: 4 up, 5 down
        QTest::addColumn<QString>("range");
        QTest::newRow("one notch down") << "" << QStringList{"5"} << "00100-001FF";
        QTest::newRow("three notches down") << "" << QStringList{"5", "5", "5"} << "00300-003FF";
        QTest::newRow("up on page 0 does nothing")
            << "" << QStringList{"4", "4", "5"} << "00100-001FF";
        QTest::newRow("up from the last page") << "End" << QStringList{"4"} << "1FE00-1FEFF";
    }

    // The wheel over the dump turns the pages, one a notch.
    void wheel() {
        WindowRig rig("sim");
        QVERIFY(ShowMain(rig));
        rig.Click("SetOptions");
        QWidget* options = rig.options.get();
        QVERIFY(WaitFor([&] { return ActiveWindow() == options->winId(); }));
        auto* range = options->findChild<QLabel*>("Range");
        auto* dump = options->findChild<QPlainTextEdit*>("REdit");
        if (const QString key = Row<QString>("key"); !key.isEmpty()) {
            QVERIFY(WaitFor([&] { return dump->hasFocus(); }));
            Run("xdotool", {"key", key});
            QVERIFY(WaitFor([&] { return range->text() == "1FF00-1FFFF"; }));
        }
        for (const QString& button : Row<QStringList>("turns")) {
            Click(options, dump->geometry().center(), button);
        }
        // Each row's last turn is the only one that shows its range.
        QVERIFY2(WaitFor([&] { return range->text() == Row<QString>("range"); }),
                 qPrintable(range->text()));
        CloseByTheWindowManager(options);
        QVERIFY(!options->isVisible());
    }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
