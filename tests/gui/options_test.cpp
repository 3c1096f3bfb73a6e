// The options window on the simulated emulator: opening, paging, the three editors with their
// boxes, and the write-and-verify switch as the main window's Write sees it.
#include <random>

#include "WindowRig.h"
#include "image/HexText.h"

using tarvex::Lamp;
using tarvex::TOptions;
using namespace tarvex::testing;

namespace {

const QString kErased = " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................";
const QString kWarning = "Warning: Please use 0..9 and A..F keys only! [OK]";

QString Error(const char* text) {
    return QStringLiteral("Error: %1 [Cancel]").arg(QLatin1String(text));
}

// The options window of a rig, driven as a user would.
struct OptionsDriver {
    explicit OptionsDriver(WindowRig& windows) : rig(windows), window(*windows.options) {}

    template <typename Widget = QWidget>
    Widget* Find(const QString& name) const {
        return window.findChild<Widget*>(name);
    }
    QString Text(const QString& name) const { return Find<QLineEdit>(name)->text(); }
    QString Range() const { return Find<QLabel>("Range")->text(); }
    QString Dump() const { return Find<QPlainTextEdit>("REdit")->toPlainText(); }
    int Caret() const { return Find<QPlainTextEdit>("REdit")->textCursor().position(); }
    QScrollBar* Bar() const { return Find<QScrollBar>("SBar"); }
    QString FocusName() const {
        return window.focusWidget() ? window.focusWidget()->objectName() : QString();
    }
    QStringList Fields() const {
        return {Text("BufferStart"), Text("BufferEnd"), Text("FillValue")};
    }
    QList<quint32> Model() const {
        const auto& model = rig.main->Model();
        return {model.BufferStart, model.BufferEnd, model.FillValue};
    }

    void Open() {
        rig.main->show();
        QTest::mouseClick(rig.Find("SetOptions"), Qt::LeftButton);
        if (window.isVisible()) {
            Activate();
        }
    }
    // Message boxes take the activation away; the user comes back to the window.
    void Activate() {
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
    // Keys go to the window and from there where its focus is: after a box moved the
    // focus, the rest of the text no longer reaches the field.
    void Type(const QString& keys) {
        for (const QChar key : keys) {
            QTest::keyClick(window.windowHandle(), key.toLatin1());
        }
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window.windowHandle(), key, modifiers);
    }
    // "Field=text": clicks into the field, replaces its text and leaves it with Tab.
    void Edit(const QString& edit) {
        const QString name = edit.section('=', 0, 0), text = edit.section('=', 1);
        Activate();
        auto* field = Find<QLineEdit>(name);
        field->setFocus(Qt::MouseFocusReason);
        field->selectAll();
        Key(Qt::Key_Backspace);
        Type(text);
        if (window.focusWidget() == field) {
            Key(Qt::Key_Tab);
        }
        QCoreApplication::processEvents();  // leaving is handled once the focus has moved
    }

    WindowRig& rig;
    TOptions& window;
};

}  // namespace

class OptionsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(UseOwnDirectories()); }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void opening_data() {
        QTest::addColumn<QString>("io");
        QTest::addColumn<int>("typeItem");  // chosen in the type box first; -1: none
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("lastPage");
        QTest::newRow("no emulator: nothing happens")
            << "sim:none" << 0 << false << QStringList{"", "", ""} << 0;
        QTest::newRow("2764 just selected")
            << "sim" << 0 << true << QStringList{"00000", "01FFF", "FF"} << 31;
        QTest::newRow("27512") << "sim" << 3 << true << QStringList{"00000", "0FFFF", "FF"} << 255;
        QTest::newRow("27010 at start-up")
            << "sim" << -1 << true << QStringList{"00000", "1FFFF", "FF"} << 511;
    }

    // Opens on page 0 with the model's values; the main window waits until it closes.
    void opening() {
        QFETCH(bool, opens);
        WindowRig rig(Row<QString>("io"));
        OptionsDriver options(rig);
        if (const int item = Row<int>("typeItem"); item >= 0) {
            rig.main->EpromTypeChange(item);
        }
        auto& buffer = rig.main->Model().DataBuffer;
        std::copy_n("\x41\x20\x7F\xE9\x30", 5, buffer.begin());  // only 41h and 30h show
        options.Open();
        QCOMPARE(options.window.isVisible(), opens);
        QCOMPARE(rig.main->isEnabled(), !opens);
        QTEST(options.Fields(), "fields");
        if (!opens) {
            return;
        }
        QCOMPARE(options.Text("EmulatorStart") + options.Text("HexBase"), "0000000000");
        QCOMPARE(options.Range(), "00000-000FF");
        QCOMPARE(options.Dump().split('\n').value(0),
                 "00000 : 41 20 7F E9 30 FF FF FF FF FF FF FF FF FF FF FF   A...0...........");
        QCOMPARE(options.Dump().split('\n').value(15), "000F0 :" + kErased);
        QCOMPARE(options.Dump().split('\n').size(), 16);
        QCOMPARE(options.Caret(), 9);
        QCOMPARE(options.FocusName(), "REdit");
        QTEST(options.Bar()->maximum(), "lastPage");
        QVERIFY(options.window.close());
        QVERIFY(!options.window.isVisible() && rig.main->isEnabled());
        QCOMPARE(rig.main->focusWidget()->objectName(), "SetOptions");
    }

    void paging_data() {
        QTest::addColumn<int>("typeItem");
        QTest::addColumn<int>("startPage");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("range");  // empty: no redraw
        QTest::addColumn<int>("caret");      // after the key, where the dump put it
        const int k2764 = 0, k27010 = 4;
        QTest::newRow("Page Down") << k2764 << 0 << "PgDown"
                                   << "00100-001FF" << -1;
        QTest::newRow("Page Up") << k2764 << 5 << "PgUp"
                                 << "00400-004FF" << -1;
        QTest::newRow("Page Up on page 0") << k2764 << 0 << "PgUp"
                                           << "" << -1;
        QTest::newRow("End on a 2764") << k2764 << 0 << "End"
                                       << "01F00-01FFF" << 74;
        QTest::newRow("End on a 27010") << k27010 << 3 << "End"
                                        << "1FF00-1FFFF" << 74;
        QTest::newRow("Ctrl+End on a 27010") << k27010 << 3 << "Ctrl+End"
                                             << "1FF00-1FFFF" << -1;
        QTest::newRow("Page Down on the last page") << k27010 << 511 << "PgDown"
                                                    << "" << -1;
        QTest::newRow("End on the last page") << k27010 << 511 << "End"
                                              << "" << -1;
        QTest::newRow("Home") << k27010 << 300 << "Home"
                              << "00000-000FF" << 0;
        QTest::newRow("Home on page 0") << k27010 << 0 << "Home"
                                        << "" << 0;
        QTest::newRow("arrow key") << k27010 << 2 << "Down"
                                   << "" << -1;
        QTest::newRow("scroll bar arrow") << k27010 << 7 << "bar:step"
                                          << "00800-008FF" << -1;
        QTest::newRow("scroll bar track") << k27010 << 7 << "bar:page"
                                          << "00800-008FF" << -1;
        QTest::newRow("scroll bar arrow at the end") << k27010 << 511 << "bar:step"
                                                     << "" << -1;
        QTest::newRow("thumb dragged") << k27010 << 0 << "bar:drag"
                                       << "1FF00-1FFFF" << -1;
    }

    // A page is drawn only when the page really changes; the dump then applies the key to
    // its caret as usual.
    void paging() {
        QFETCH(QString, action);
        QFETCH(QString, range);
        WindowRig rig("sim");
        OptionsDriver options(rig);
        rig.main->EpromTypeChange(Row<int>("typeItem"));
        rig.main->Model().DataBuffer[0x1FFFF] = 0x4B;
        options.Open();
        options.Bar()->setValue(Row<int>("startPage"));
        const QString before = options.Range();
        auto* dump = options.Find<QPlainTextEdit>("REdit");
        dump->setPlainText(QString(74, 'x') + '\n' + QString(74, 'x'));  // gone when redrawn
        QStringList drawn;
        connect(options.Bar(), &QScrollBar::valueChanged, [&] { drawn << options.Range(); });
        if (action == "bar:step") {
            options.Bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        } else if (action == "bar:page") {
            options.Bar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        } else if (action == "bar:drag") {
            options.Bar()->setSliderDown(true);
            for (const int position : {1, 2, 511}) {
                options.Bar()->setSliderPosition(position);
            }
            options.Bar()->setSliderDown(false);
            QCOMPARE(drawn, (QStringList{"00100-001FF", "00200-002FF", "1FF00-1FFFF"}));
        } else {
            const bool control = action.startsWith("Ctrl+");
            const QString name = action.mid(control ? 5 : 0);
            const Qt::Key key = name == "PgDown" ? Qt::Key_PageDown
                                : name == "PgUp" ? Qt::Key_PageUp
                                : name == "End"  ? Qt::Key_End
                                : name == "Home" ? Qt::Key_Home
                                                 : Qt::Key_Down;
            QTest::keyClick(dump, key, control ? Qt::ControlModifier : Qt::NoModifier);
        }
        QCOMPARE(options.Range(), range.isEmpty() ? before : range);
        QCOMPARE(options.Dump().startsWith("xxx"), range.isEmpty());
        if (const int caret = Row<int>("caret"); caret >= 0) {
            QCOMPARE(options.Caret(), caret);
        }
        if (range == "1FF00-1FFFF") {
            QVERIFY(options.Dump().endsWith(" 4B   ...............K"));
        }
    }

    void editing_data() {
        QTest::addColumn<QStringList>("edits");  // "Field=text", one after the other
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QList<quint32>>("model");
        QTest::addColumn<bool>("reloaded");  // back on page 0
        const QString badStart = Error("Incorrect buffer start selected!");
        const QString badEnd = Error("Incorrect buffer end selected!");
        const QString badFill = Error("Incorrect buffer fill value selected!");
        const QList<quint32> whole{0, 0x1FFF, 0xFF};
        const QStringList shown{"00000", "01FFF", "FF"};
        QTest::newRow("end beyond the 2764")
            << QStringList{"BufferEnd=2000"} << QStringList{badEnd} << shown << whole << true;
        QTest::newRow("end in lower case")
            << QStringList{"BufferEnd=1ff"} << QStringList{} << QStringList{"00000", "001FF", "FF"}
            << QList<quint32>{0, 0x1FF, 0xFF} << false;
        QTest::newRow("end with many leading zeros") << QStringList{"BufferEnd=0000000000001FFF"}
                                                     << QStringList{} << shown << whole << false;
        QTest::newRow("end too long for 32 bits")
            << QStringList{"BufferEnd=100001FFF"} << QStringList{badEnd} << shown << whole << true;
        QTest::newRow("start above the end")
            << QStringList{"BufferEnd=FF", "BufferStart=100"} << QStringList{badStart}
            << QStringList{"00000", "000FF", "FF"} << QList<quint32>{0, 0xFF, 0xFF} << true;
        QTest::newRow("start equal to the end")
            << QStringList{"BufferEnd=FF", "BufferStart=ff"} << QStringList{}
            << QStringList{"000FF", "000FF", "FF"} << QList<quint32>{0xFF, 0xFF, 0xFF} << false;
        QTest::newRow("end below the start")
            << QStringList{"BufferStart=100", "BufferEnd=FF"} << QStringList{badEnd}
            << QStringList{"00100", "01FFF", "FF"} << QList<quint32>{0x100, 0x1FFF, 0xFF} << true;
        QTest::newRow("fill 100") << QStringList{"FillValue=100"} << QStringList{badFill} << shown
                                  << whole << true;
        QTest::newRow("fill 5") << QStringList{"FillValue=5"} << QStringList{}
                                << QStringList{"00000", "01FFF", "05"}
                                << QList<quint32>{0, 0x1FFF, 5} << false;
        QTest::newRow("start emptied")
            << QStringList{"BufferStart="} << QStringList{badStart} << shown << whole << true;
        QTest::newRow("end emptied")
            << QStringList{"BufferEnd="} << QStringList{badEnd} << shown << whole << true;
        QTest::newRow("fill emptied")
            << QStringList{"FillValue="} << QStringList{badFill} << shown << whole << true;
        QTest::newRow("G typed") << QStringList{"BufferEnd=1G0"} << QStringList{kWarning} << shown
                                 << whole << true;
    }

    // A bad value is refused with its message and the field shows its old text; the window
    // is then loaded anew. A good one is committed and shown in full, and nothing is redrawn.
    void editing() {
        QFETCH(QStringList, boxes);
        WindowRig rig("sim");
        OptionsDriver options(rig);
        rig.main->EpromTypeChange(0);  // 2764
        auto& buffer = rig.main->Model().DataBuffer;
        options.Open();
        const QString page0 = options.Dump();
        options.Bar()->setValue(3);
        const QString page3 = options.Dump();
        Modals modals;
        for (const QString& edit : Row<QStringList>("edits")) {
            options.Edit(edit);
        }
        QCOMPARE(modals.boxes, boxes);
        QTEST(options.Fields(), "fields");
        QTEST(options.Model(), "model");
        QFETCH(bool, reloaded);
        QCOMPARE(options.Range(), reloaded ? "00000-000FF" : "00300-003FF");
        QCOMPARE(options.Dump(), reloaded ? page0 : page3);
        QVERIFY(std::all_of(buffer.begin(), buffer.begin() + 0x2000,
                            [](std::uint8_t byte) { return byte == 0xFF; }));
        if (reloaded) {
            QCOMPARE(options.FocusName(), "REdit");
        }
    }

    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("shown");  // in BufferEnd after "1F" and the key
        const int none = Qt::NoModifier, control = Qt::ControlModifier;
        QTest::newRow("Enter dropped") << int(Qt::Key_Return) << none << QStringList{} << "1F";
        QTest::newRow("Escape dropped") << int(Qt::Key_Escape) << none << QStringList{} << "1F";
        QTest::newRow("Backspace edits") << int(Qt::Key_Backspace) << none << QStringList{} << "1";
        QTest::newRow("Delete edits") << int(Qt::Key_Delete) << none << QStringList{} << "1F";
        QTest::newRow("arrow moves") << int(Qt::Key_Left) << none << QStringList{} << "1F";
        QTest::newRow("Ctrl+V refused")
            << int(Qt::Key_V) << control << QStringList{kWarning} << "01FFF";
        QTest::newRow("Ctrl+C refused")
            << int(Qt::Key_C) << control << QStringList{kWarning} << "01FFF";
        QTest::newRow("blank refused")
            << int(Qt::Key_Space) << none << QStringList{kWarning} << "01FFF";
        QTest::newRow("x refused") << int(Qt::Key_X) << none << QStringList{kWarning} << "01FFF";
    }

    // Only hex digits and Backspace reach a field; Enter and Escape vanish; anything else
    // warns, and the window is loaded anew, dropping what was typed.
    void keys() {
        QFETCH(QStringList, boxes);
        WindowRig rig("sim");
        OptionsDriver options(rig);
        rig.main->EpromTypeChange(0);
        options.Open();
        QApplication::clipboard()->setText("ABC");
        Modals modals;
        options.Activate();
        auto* field = options.Find<QLineEdit>("BufferEnd");
        field->setFocus(Qt::MouseFocusReason);
        field->selectAll();
        options.Type("1F");
        options.Key(Qt::Key(Row<int>("key")), Qt::KeyboardModifiers(Row<int>("modifiers")));
        QCOMPARE(modals.boxes, boxes);
        QTEST(field->text(), "shown");
        QVERIFY(options.window.isVisible());
        QCOMPARE(options.FocusName(), boxes.isEmpty() ? "BufferEnd" : "REdit");
        QCOMPARE(rig.main->Model().BufferEnd, 0x1FFFu);  // nothing committed before leaving
    }

    // Closing with the close box while a field holds a new value commits it, as leaving does;
    // a bad value is dropped without a box, now or when the window opens again.
    void closingCommitsTheFieldInUse_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");  // after the field's text was selected
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QList<quint32>>("model");
        const QStringList shown{"00000", "01FFF", "FF"};
        const QList<quint32> whole{0, 0x1FFF, 0xFF};
        QTest::newRow("good end") << "BufferEnd"
                                  << "FFF" << QStringList{"00000", "00FFF", "FF"}
                                  << QList<quint32>{0, 0xFFF, 0xFF};
        QTest::newRow("good fill value")
            << "FillValue"
            << "5" << QStringList{"00000", "01FFF", "05"} << QList<quint32>{0, 0x1FFF, 5};
        QTest::newRow("end beyond the 2764") << "BufferEnd"
                                             << "FFFFF" << shown << whole;
        QTest::newRow("start above the end") << "BufferStart"
                                             << "2000" << shown << whole;
        QTest::newRow("fill value too large") << "FillValue"
                                              << "100" << shown << whole;
        QTest::newRow("field emptied") << "BufferEnd"
                                       << "" << shown << whole;
    }

    void closingCommitsTheFieldInUse() {
        WindowRig rig("sim");
        OptionsDriver options(rig);
        rig.main->EpromTypeChange(0);  // 2764
        options.Open();
        Modals modals;
        auto* field = options.Find<QLineEdit>(Row<QString>("field"));
        field->setFocus(Qt::MouseFocusReason);
        field->selectAll();
        options.Key(Qt::Key_Backspace);  // the selected text goes
        options.Type(Row<QString>("typed"));
        QVERIFY(options.window.close());
        QVERIFY(!options.window.isVisible() && rig.main->isEnabled());
        QTEST(options.Fields(), "fields");
        QTEST(options.Model(), "model");
        // Opened again, the focus leaves the field it was in: still no box.
        options.Open();
        QCoreApplication::processEvents();
        QTEST(options.Fields(), "fields");
        QTEST(options.Model(), "model");
        QCOMPARE(modals.boxes, QStringList());
        QVERIFY(options.window.close());
    }

    void wheel_data() {
        QTest::addColumn<QString>("over");  // the dump or the scroll bar
        QTest::addColumn<int>("startPage");
        QTest::addColumn<QList<int>>("notches");  // angle deltas, up positive
        QTest::addColumn<bool>("sideways");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("range");
        const int none = Qt::NoModifier;
        const QList<int> down{-120};
        QTest::newRow("one notch down") << "dump" << 0 << down << false << none << "00100-001FF";
        QTest::newRow("one notch up")
            << "dump" << 5 << QList<int>{120} << false << none << "00400-004FF";
        QTest::newRow("three notches down")
            << "dump" << 0 << QList<int>{-120, -120, -120} << false << none << "00300-003FF";
        QTest::newRow("a fast turn: two notches at once")
            << "dump" << 0 << QList<int>{-240} << false << none << "00200-002FF";
        QTest::newRow("down, then up")
            << "dump" << 4 << QList<int>{-120, 120} << false << none << "00400-004FF";
        QTest::newRow("half a notch: not yet")
            << "dump" << 0 << QList<int>{-60} << false << none << "00000-000FF";
        QTest::newRow("a fine wheel's steps add up to a notch")
            << "dump" << 0 << QList<int>{-15, -15, -15, -15, -15, -15, -15, -15} << false << none
            << "00100-001FF";
        QTest::newRow("half a notch back and forth does not add up")
            << "dump" << 0 << QList<int>{-60, 60, -60} << false << none << "00000-000FF";
        QTest::newRow("up on page 0")
            << "dump" << 0 << QList<int>{120} << false << none << "00000-000FF";
        QTest::newRow("down on the last page")
            << "dump" << 31 << down << false << none << "01F00-01FFF";
        QTest::newRow("with Ctrl: a page, not a zoom")
            << "dump" << 0 << down << false << int(Qt::ControlModifier) << "00100-001FF";
        QTest::newRow("sideways: nothing") << "dump" << 2 << down << true << none << "00200-002FF";
        QTest::newRow("over the scroll bar: the same")
            << "bar" << 0 << QList<int>{-15, -15, -15, -15, -15, -15, -15, -15} << false << none
            << "00100-001FF";
    }

    // The wheel turns the pages one a notch, over the dump as over the scroll bar.
    void wheel() {
        WindowRig rig("sim");
        OptionsDriver options(rig);
        rig.main->EpromTypeChange(0);  // 2764: pages 0 to 31
        options.Open();
        options.Bar()->setValue(Row<int>("startPage"));
        auto* dump = options.Find<QPlainTextEdit>("REdit");
        const int fontPixels = dump->font().pixelSize();
        QWidget* surface = Row<QString>("over") == "bar" ? options.Bar() : dump->viewport();
        const QPoint middle = surface->rect().center();
        for (const int delta : Row<QList<int>>("notches")) {
            const QPoint angle = Row<bool>("sideways") ? QPoint(delta, 0) : QPoint(0, delta);
            QWheelEvent notch(middle, surface->mapToGlobal(middle), {}, angle, Qt::NoButton,
                              Qt::KeyboardModifiers(Row<int>("modifiers")), Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(surface, &notch);
        }
        QTEST(options.Range(), "range");
        QCOMPARE(options.Dump().left(5), options.Range().left(5));
        QCOMPARE(dump->font().pixelSize(), fontPixels);
    }

    void backToTheDump_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("typed");  // into the field first
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("range");
        QTest::addColumn<QList<quint32>>("model");
        const int down = Qt::Key_PageDown, up = Qt::Key_PageUp, none = Qt::NoModifier;
        const QList<quint32> whole{0, 0x1FFF, 0xFF};
        QTest::newRow("Page Down in the start field")
            << "BufferStart"
            << "" << down << none << QStringList{} << "00400-004FF" << whole;
        QTest::newRow("Page Up in the fill value")
            << "FillValue"
            << "" << up << none << QStringList{} << "00200-002FF" << whole;
        QTest::newRow("Ctrl+Page Down")
            << "BufferEnd"
            << "" << down << int(Qt::ControlModifier) << QStringList{} << "00400-004FF" << whole;
        QTest::newRow("from a read-only field")
            << "HexBase"
            << "" << down << none << QStringList{} << "00400-004FF" << whole;
        QTest::newRow("from the check box")
            << "AutoVerify"
            << "" << up << none << QStringList{} << "00200-002FF" << whole;
        QTest::newRow("a good value is committed on the way")
            << "BufferEnd"
            << "FFF" << down << none << QStringList{} << "00400-004FF"
            << QList<quint32>{0, 0xFFF, 0xFF};
        QTest::newRow("a bad value is refused on the way, as by Tab")
            << "BufferEnd"
            << "FFFFF" << down << none << QStringList{Error("Incorrect buffer end selected!")}
            << "00000-000FF" << whole;
    }

    // Page Up and Page Down bring the keyboard back from the fields to the dump, and page.
    void backToTheDump() {
        WindowRig rig("sim");
        OptionsDriver options(rig);
        rig.main->EpromTypeChange(0);
        options.Open();
        options.Bar()->setValue(3);
        Modals modals;
        auto* from = options.Find(Row<QString>("from"));
        from->setFocus(Qt::MouseFocusReason);
        if (auto* field = qobject_cast<QLineEdit*>(from); field && !field->isReadOnly()) {
            field->selectAll();
        }
        options.Type(Row<QString>("typed"));
        options.Key(Qt::Key(Row<int>("key")), Qt::KeyboardModifiers(Row<int>("modifiers")));
        QCoreApplication::processEvents();  // leaving the field is handled after the move
        QTEST(modals.boxes, "boxes");
        QTEST(options.Range(), "range");
        QCOMPARE(options.FocusName(), "REdit");
        QTEST(options.Model(), "model");
    }

    // Random texts typed into random fields never break BufferStart <= BufferEnd <= EpromEnd,
    // and every field shows the model's value after each edit.
    void randomEditsKeepTheRangeOrdered() {
        WindowRig rig("sim");
        OptionsDriver options(rig);
        rig.main->EpromTypeChange(1);  // 27128
        options.Open();
        Modals modals;
        std::mt19937 random(20261207);
        const QStringList names{"BufferStart", "BufferEnd", "FillValue"};
        const QString digits = "0123456789abcdefABCDEF";
        for (int step = 0; step < 60; ++step) {
            // Mostly numbers near the 27128's range, so that edits often pass and meet.
            QString text = QString::number(random() % 0x4800, 16).right(int(random() % 5));
            if (random() % 10 == 0) {
                text.insert(int(random() % (text.size() + 1)), 'z');
            }
            options.Edit(names[int(random() % 3)] + '=' + text);
            const auto& model = rig.main->Model();
            QVERIFY2(model.BufferStart <= model.BufferEnd && model.BufferEnd <= model.EpromEnd,
                     qPrintable(QString("step %1: %2").arg(step).arg(text)));
            QCOMPARE(options.Fields(),
                     (QStringList{QString::fromStdString(tarvex::HexAddress(model.BufferStart)),
                                  QString::fromStdString(tarvex::HexAddress(model.BufferEnd)),
                                  QString::fromStdString(tarvex::HexByte(model.FillValue))}));
        }
        QVERIFY(modals.boxes.size() > 3);  // some edits were refused along the way
    }

    void writeAndVerify_data() {
        QTest::addColumn<bool>("checked");
        QTest::addColumn<Lamp>("lamp");
        QTest::newRow("unchecked: written, not verified") << false << Lamp::Green;
        QTest::newRow("checked: the bad cell is found") << true << Lamp::Red;
    }

    // The check box is what the main window's Write reads; it lasts until the program ends.
    void writeAndVerify() {
        WindowRig rig("sim:0x378/bad=0x100");
        OptionsDriver options(rig);
        options.Open();
        if (Row<bool>("checked")) {
            options.Key(Qt::Key_W, Qt::AltModifier);
            QTRY_VERIFY(rig.main->Model().AutoVerify);  // the box clicks itself a moment later
        }
        options.window.close();
        options.Open();
        QTEST(options.Find<QCheckBox>("AutoVerify")->isChecked(), "checked");
        options.window.close();
        rig.Click("TarvexWrite");
        QTEST(rig.LampState("LastResult"), "lamp");
    }

    // Tab goes through the fields in their order; a label's letter moves to its field.
    void keyboardNavigation() {
        WindowRig rig("sim");
        OptionsDriver options(rig);
        options.Open();
        QStringList order;
        for (const Qt::Key key :
             {Qt::Key_F, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab,
              Qt::Key_Tab, Qt::Key_T, Qt::Key_I, Qt::Key_E, Qt::Key_H}) {
            options.Key(key, key == Qt::Key_Tab ? Qt::NoModifier : Qt::AltModifier);
            order << options.FocusName();
        }
        QCOMPARE(order, (QStringList{"BufferStart", "BufferEnd", "FillValue", "EmulatorStart",
                                     "HexBase", "AutoVerify", "BufferStart", "BufferEnd",
                                     "FillValue", "EmulatorStart", "HexBase"}));
    }
};

QTEST_MAIN(OptionsTest)
#include "options_test.moc"
