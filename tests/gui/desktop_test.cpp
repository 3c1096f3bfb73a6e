// The options and test windows on a real X server with a real window manager (openbox), run by
// desktop_test.sh: its view is read with xprop, and the user's hand is xdotool's, so every
// click and key goes through the window manager.
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

const auto Id = [](const QWidget* window) { return "0x" + QString::number(window->winId(), 16); };

// The window ids in xprop's answer for a WINDOW property.
QList<WId> Ids(const QString& answer) {
    QList<WId> ids;
    const QString list = answer.section('#', 1);
    for (const auto& match : QRegularExpression("0x[0-9a-fA-F]+").globalMatch(list)) {
        ids << match.captured().toULongLong(nullptr, 16);
    }
    return ids;
}

const auto Property = [](const QWidget* window, const char* name) {
    return Run("xprop", {"-id", Id(window), name});
};
const auto Stacking = [] { return Ids(Run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"})); };
const auto ActiveWindow = [] {
    return Ids(Run("xprop", {"-root", "_NET_ACTIVE_WINDOW"})).value(0);
};
const auto Managed = [](const QWidget* window) { return Stacking().contains(window->winId()); };
const auto Iconic = [](const QWidget* w) { return Property(w, "WM_STATE").contains("Iconic"); };

bool Above(const QWidget* upper, const QWidget* lower) {
    const QList<WId> stacking = Stacking();
    const qsizetype up = stacking.indexOf(upper->winId()), down = stacking.indexOf(lower->winId());
    return up >= 0 && down >= 0 && up > down;
}

// A click of the user's, through the X server and the window manager; `at` in the window.
void Click(const QWidget* window, QPoint at, const QString& button = "1") {
    Run("xdotool", {"mousemove", "--window", Id(window), QString::number(at.x()),
                    QString::number(at.y()), "click", button});
}

// Lets events through until `done`, for kPatience at most.
bool WaitFor(const std::function<bool()>& done) {
    for (QDeadlineTimer deadline(kPatience); !done(); QTest::qWait(20)) {
        if (deadline.hasExpired()) {
            return false;
        }
    }
    return true;
}

// Shows the main window and waits until the window manager has made it the active one.
bool ShowMain(WindowRig& rig) {
    rig.main->show();
    return WaitFor([&] { return ActiveWindow() == rig.main->winId(); });
}

// Closes `window` as its title bar's close box does.
bool CloseByTheWindowManager(QWidget* window) {
    Run("wmctrl", {"-i", "-c", Id(window)});
    return WaitFor([&] { return !window->isVisible(); });
}

// Opens the main window's own window `name` as the user does and runs `inside` while it is
// open; then the window manager closes Options, a test ends by its own button.
void WhileOpen(WindowRig& rig, const QString& name, const std::function<void(QWidget*)>& inside) {
    if (name == "Options") {
        rig.Click("SetOptions");
        inside(rig.options.get());
        CloseByTheWindowManager(rig.options.get());
        return;
    }
    const bool memory = name == "StdTest";
    QWidget* window =
        memory ? static_cast<QWidget*>(&rig.main->StdTestWindow()) : &rig.main->ExtTestWindow();
    QTimer::singleShot(0, [&, window, memory] {
        inside(window);
        ClickIn(window, memory ? "StopTest" : "Exit");
    });
    rig.Find<QMenu>("TestMenu")
        ->findChild<QAction*>(memory ? "ContinuousTest" : "SingleLines")
        ->trigger();
}

struct OptionsRow {
    const char* name;
    QString typed, key;  // typed into the end field, not left; a paging key first
    QStringList turns;   // of the wheel, xdotool's buttons: 4 up, 5 down
    QString range;
    quint32 end;  // after the close
} const kOptions[] = {
    {"good value, closed: committed", "fff", "", {}, "00000-000FF", 0xFFF},
    {"bad value, closed: dropped, no box", "fffff", "", {}, "00000-000FF", 0x1FFFF},
    {"wheel: up on page 0 does nothing", "", "", {"4", "4", "5"}, "00100-001FF", 0x1FFFF},
    {"wheel: up from the last page", "", "End", {"4"}, "1FE00-1FEFF", 0x1FFFF},
};

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QVERIFY(UseOwnDirectories());
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void ownedWindows_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("options") << "Options";
        QTest::newRow("memory test") << "StdTest";
        QTest::newRow("signals test") << "ExtTest";
    }

    // Each window belongs to the main window: the window manager keeps it above the main
    // window when the user clicks the disabled main window, minimises the two together and
    // brings them back together; it offers no maximise.
    void ownedWindows() {
        WindowRig rig("sim");
        QVERIFY(ShowMain(rig));
        // Another program's window, on top until the click on the main window.
        QWidget other;
        other.setGeometry(10, 620, 200, 100);
        const QPoint onTheMainWindow(470, 200);  // clear of the test windows centred on it
        // A failed check ends `inside`; the window is closed all the same.
        const auto inside = [&](QWidget* window) {
            QVERIFY(WaitFor([&] { return Managed(window) && ActiveWindow() == window->winId(); }));
            QCOMPARE(Ids(Property(window, "WM_TRANSIENT_FOR")), QList<WId>{rig.main->winId()});
            QVERIFY2(!Property(window, "_NET_WM_ALLOWED_ACTIONS").contains("MAXIMIZE"),
                     qPrintable(Property(window, "_NET_WM_ALLOWED_ACTIONS")));
            // Moved aside, so that the click finds the main window.
            const QPoint click = rig.main->mapToGlobal(onTheMainWindow);
            if (window->frameGeometry().contains(click)) {
                window->move(0, 0);
            }
            QVERIFY(WaitFor([&] { return !window->frameGeometry().contains(click); }));
            other.show();
            QVERIFY(WaitFor([&] { return Managed(&other); }));
            other.raise();
            other.activateWindow();
            QVERIFY(WaitFor([&] { return Above(&other, rig.main.get()); }));

            Click(rig.main.get(), onTheMainWindow);
            // The click has come through once the window manager raised the main window.
            QVERIFY(WaitFor([&] { return Above(rig.main.get(), &other); }));
            QVERIFY(WaitFor([&] { return Above(window, rig.main.get()); }));
            QVERIFY(WaitFor([&] { return ActiveWindow() == window->winId(); }));
            QVERIFY2(!rig.main->isEnabled(), "main window still disabled");

            Run("xdotool", {"windowminimize", Id(window)});
            QVERIFY(WaitFor([&] { return Iconic(window) && Iconic(rig.main.get()); }));
            Run("wmctrl", {"-i", "-a", Id(rig.main.get())});
            QVERIFY(WaitFor([&] {
                return !Iconic(window) && !Iconic(rig.main.get()) && Above(window, rig.main.get());
            }));
        };
        WhileOpen(rig, Row<QString>("window"), inside);
        QVERIFY(rig.main->isEnabled());
    }

    void options_data() { AddRows(kOptions); }

    // The close box with a value typed into a field and not yet left: a good one is committed,
    // a bad one dropped without a word, and the main window takes the keyboard again. The
    // wheel over the dump turns the pages, one a notch.
    void options() {
        const auto& row = TheRow(kOptions);
        WindowRig rig("sim");
        QVERIFY(ShowMain(rig));
        Modals modals;
        rig.Click("SetOptions");
        QWidget* options = rig.options.get();
        QVERIFY(WaitFor([&] { return ActiveWindow() == options->winId(); }));
        auto* field = options->findChild<QLineEdit*>("BufferEnd");
        auto* range = options->findChild<QLabel*>("Range");
        auto* dump = options->findChild<QPlainTextEdit*>("REdit");
        if (!row.typed.isEmpty()) {
            Click(options, field->geometry().center());
            QVERIFY(WaitFor([&] { return field->hasFocus(); }));
            const QString keys = "key --delay 20 End" + QString(" BackSpace").repeated(5);
            Run("xdotool", (keys + " type --delay 20 " + row.typed).split(' '));
            QVERIFY(WaitFor([&] { return field->text() == row.typed; }));
        }
        if (!row.key.isEmpty()) {
            QVERIFY(WaitFor([&] { return dump->hasFocus(); }));
            Run("xdotool", {"key", row.key});
            QVERIFY(WaitFor([&] { return range->text() == "1FF00-1FFFF"; }));
        }
        for (const QString& button : row.turns) {
            Click(options, dump->geometry().center(), button);
        }
        // Each row's last turn is the only one that shows its range.
        QVERIFY2(WaitFor([&] { return range->text() == row.range; }), qPrintable(range->text()));
        QVERIFY(CloseByTheWindowManager(options));
        QVERIFY(WaitFor([&] { return ActiveWindow() == rig.main->winId(); }));
        QCOMPARE(modals.boxes, QStringList());
        QCOMPARE(rig.main->Model().BufferEnd, row.end);
        QCOMPARE(field->text(), QString::number(row.end, 16).toUpper().rightJustified(5, '0'));
        QVERIFY(rig.main->isEnabled());
    }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
