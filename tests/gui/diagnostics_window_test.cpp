// The two diagnostics windows on the simulated emulator, driven through their own buttons.
#include "WindowRig.h"

using namespace tarvex::testing;

namespace {

// The memory test's counters: "executed/O.K./bad".
QString Counters(QWidget* window) {
    QStringList texts;
    for (const char* name : {"AllPass", "OKPass", "BadPass"}) {
        texts << window->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    return texts.join('/');
}

// Runs `step` each time the event loop comes round, until it returns true.
void Every(int ms, std::function<bool()> step) {
    QTimer::singleShot(ms, [ms, step] {
        if (!step()) {
            Every(ms, step);
        }
    });
}

// The data-register bytes the transfers wrote (each follows control 0x06).
QStringList WrittenData(const QStringList& writes, int count) {
    QStringList bytes;
    for (int i = 1; i < writes.size() && bytes.size() < count; ++i) {
        if (writes[i - 1] == "W 037A 06" && writes[i].startsWith("W 0378 ")) {
            bytes << writes[i].mid(7);
        }
    }
    return bytes;
}

struct MemoryTestRow {
    const char* name;
    QString io;
    int passes;
    QString shown;  // "executed/O.K./bad" before the stop
} const kMemoryTest[] = {
    {"clean: only O.K. passes", "sim", 2, "2/2/0"},
    {"bad cell: bad passes, and the test goes on", "sim:0x378/bad=0x123", 2, "2/0/2"},
    {"stop in the first pass", "sim", 0, "0/0/0"},
};

}  // namespace

class DiagnosticsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(UseOwnDirectories()); }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    // Runs the test for `passes` passes, then "&Stop test": what the counters showed, and the
    // window afterwards (the image, ranges and type it gives back are the unit rows').
    void memoryTest_data() { AddRows(kMemoryTest); }

    void memoryTest() {
        const auto& row = TheRow(kMemoryTest);
        WindowRig rig(row.io);
        rig.main->show();
        QWidget* window = &rig.main->StdTestWindow();
        QString shown;
        Every(2, [&] {
            shown = Counters(window);
            if (shown.section('/', 0, 0).toInt() < row.passes) {
                return false;
            }
            const bool waits = window->isVisible() && !rig.main->isEnabled();
            ClickIn(window, "StopTest");
            if (!waits || window->isVisible() || !rig.main->isEnabled()) {
                shown += " (the main window did not wait while it ran, or not only then)";
            }
            return true;
        });
        rig.Trace();
        rig.Find<QMenu>("TestMenu")->findChild<QAction*>("ContinuousTest")->trigger();

        QCOMPARE(shown, row.shown);
        QCOMPARE(Counters(window), "0/0/0");
        QCOMPARE(rig.main->focusWidget(), rig.Find<QWidget>("TarvexTest"));
        QCOMPARE(rig.main->Link().StopRequest.load(), 0);
        if (row.passes > 0) {
            // The first pass after start-up writes the generator's first bytes.
            QCOMPARE(WrittenData(rig.Writes(), 8),
                     QStringList({"00", "08", "DC", "33", "45", "AB", "51", "29"}));
            return;
        }
        // Stopped before any byte was written: the next start shows fresh counters.
        QString next;
        QTimer::singleShot(1, [&] {
            next = Counters(window);
            ClickIn(window, "StopTest");
        });
        rig.main->ContinuousTestClick();
        QCOMPARE(next, "0/0/0");
    }

    // The user's steps, one per visit of the event loop, and what each leaves behind.
    void signalsTest() {
        WindowRig rig("sim");
        rig.main->show();
        QWidget* window = &rig.main->ExtTestWindow();
        auto box = [&](const char* name) { return window->findChild<QCheckBox*>(name); };
        auto shows = [&](const char* image) {
            return window->findChild<QLabel*>(image)->isVisible() &&
                   !window->findChild<QLabel*>(image == QString("Image1") ? "Image2" : "Image1")
                        ->isVisible();
        };
        auto control = [&] {
            return rig.bus->WithDevice(0x378, [](auto* device) { return device->Control(); });
        };
        const QString suspended = "             Tarvex interface lines test suspended";
        const QString running = "               Tarvex interface lines test running";
        // A check that fails in a step ends that step only; the last one ends the test first.
        // What the loop writes when is the signals test's unit rows'; here the window's part.
        std::vector<std::function<void()>> steps{
            [&] {
                QVERIFY2(window->windowTitle() == suspended && shows("Image1"), "suspended view");
                ClickIn(window, "StartTest");
            },
            [&] { rig.Writes(); },  // the iteration that took the click
            [&] {
                QVERIFY2(window->windowTitle() == running && shows("Image1"), "running, empty");
                box("DataCheckBox")->setChecked(true);
            },
            [&] { rig.Writes(); },
            [&] {
                QCOMPARE(rig.Writes().mid(0, 4),
                         QStringList({"W 0378 55", "W 0378 AA", "W 0378 00", "W 0378 FF"}));
                QVERIFY2(shows("Image2"), "trace shown while driving");
                box("DataCheckBox")->setChecked(false);
                box("InitCheckBox")->setChecked(true);
            },
            [&] {
                QVERIFY2((control() & 0x04) == 0, "Init- leaves bit 2 clear");
                box("InitCheckBox")->setChecked(false);
                box("StrobeCheckBox")->setChecked(true);
            },
            [&] {
                QVERIFY2((control() & 0x01) != 0, "Strobe- leaves bit 0 set");
                ClickIn(window, "StopTest");
            },
            [&] { rig.Writes(); },
            [&] {
                const bool again = window->windowTitle() == suspended && shows("Image1");
                const bool quiet = rig.Writes().isEmpty(), waited = !rig.main->isEnabled();
                ClickIn(window, "Exit");
                QVERIFY2(again && quiet && waited, "suspended again, quiet, main window waiting");
            },
        };
        std::size_t next = 0;
        Every(3, [&] {
            steps[next++]();
            return next == steps.size();
        });
        rig.Trace();
        rig.Find<QMenu>("TestMenu")->findChild<QAction*>("SingleLines")->trigger();

        QVERIFY(!window->isVisible() && rig.main->isEnabled());

        // Opened again: the boxes are as they were left, and the test starts suspended.
        bool kept = false;
        QTimer::singleShot(5, [&] {
            kept = box("StrobeCheckBox")->isChecked() && !box("DataCheckBox")->isChecked() &&
                   window->windowTitle() == suspended;
            ClickIn(window, "Exit");
        });
        rig.main->SingleLinesClick();
        QVERIFY(kept);
    }

    // No emulator: the memory test does not start; the signals test drives the first standard
    // address, the one in force.
    void withoutAnEmulator() {
        WindowRig rig("sim:none");
        rig.main->show();
        rig.Trace();
        rig.main->ContinuousTestClick();
        QVERIFY(!rig.main->StdTestWindow().isVisible() && rig.main->isEnabled());
        QCOMPARE(rig.Writes(), QStringList());
        QWidget* window = &rig.main->ExtTestWindow();
        window->findChild<QCheckBox*>("DataCheckBox")->setChecked(true);
        QTimer::singleShot(3, [&] {
            ClickIn(window, "StartTest");
            QTimer::singleShot(10, [&] { ClickIn(window, "Exit"); });
        });
        rig.main->SingleLinesClick();
        QVERIFY(rig.Writes().contains("W 0278 AA"));
    }

    // The two pictures: a silver outer ring, a grey inner ring, a black screen and, in the
    // second, the green trace of a high level with two low-going pulses. The window shows them.
    void pictures() {
        const QRgb silver = qRgb(0xC0, 0xC0, 0xC0), grey = qRgb(0x80, 0x80, 0x80);
        const QRgb black = qRgb(0, 0, 0), green = qRgb(0, 0xFF, 0);
        tarvex::TExtTest window;
        for (const bool withTrace : {false, true}) {
            const QImage picture = tarvex::SignalPicture(withTrace);
            QCOMPARE(picture.size(), QSize(40, 30));
            QMap<QRgb, int> count;
            for (int at = 0; at < 40 * 30; ++at) {
                ++count[picture.pixel(at % 40, at / 40)];
            }
            QCOMPARE((QList{count[silver], count[grey], count[black], count[green]}),
                     (QList{136, 128, withTrace ? 866 : 936, withTrace ? 70 : 0}));
            // High before and after each pulse (x 12-15 and 24-27), low inside it.
            QList<QRgb> trace;
            for (const QPoint at : {QPoint(3, 11), QPoint(13, 11), QPoint(13, 20), QPoint(12, 16),
                                    QPoint(27, 12), QPoint(36, 11), QPoint(37, 11)}) {
                trace << picture.pixel(at);
            }
            const QList<QRgb> high{green, black, green, green, green, green, black};
            QCOMPARE(trace, withTrace ? high : QList<QRgb>(7, black));
            const QLabel* label = window.findChild<QLabel*>(withTrace ? "Image2" : "Image1");
            QCOMPARE(label->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
                     picture.convertToFormat(QImage::Format_RGB32));
        }
    }
};

QTEST_MAIN(DiagnosticsTest)
#include "diagnostics_window_test.moc"
