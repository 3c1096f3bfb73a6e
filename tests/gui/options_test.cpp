// The options window on the simulated emulator: opening, paging, the three editors with their
// boxes, and the write-and-verify switch as the main window's Write sees it.
#include "WindowRig.h"

using tarvex::Lamp;
using tarvex::TOptions;
using namespace tarvex::testing;

namespace {

const QString kErased = " FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF   ................";
const QString kWarning = "Warning: Please use 0..9 and A..F keys only! [OK]";
const QString kBadStart = "Error: Incorrect buffer start selected! [Cancel]";
const QString kBadEnd = "Error: Incorrect buffer end selected! [Cancel]";
const QString kBadFill = "Error: Incorrect buffer fill value selected! [Cancel]";
const QStringList kShown{"00000", "01FFF", "FF"};  // a 2764 just selected
const QList<quint32> kWhole{0, 0x1FFF, 0xFF};
const int kNone = Qt::NoModifier, kCtrl = Qt::ControlModifier;

// The options window of a rig, driven as a user would.
struct OptionsDriver {
    // Opens the window on a 2764 (or the type box's item `type`) with the range to `end`, on
    // `page`, once `load` has put its bytes into the image.
    explicit OptionsDriver(
        WindowRig& windows, int type = 0, quint32 end = 0, int page = 0,
        const std::function<void(decltype(tarvex::ImageModel::DataBuffer)&)>& load = {})
        : rig(windows), window(*windows.options) {
        if (type >= 0) {
            rig.main->EpromTypeChange(type);
        }
        if (end != 0) {
            rig.main->Model().BufferEnd = end;
        }
        if (load) {
            load(rig.main->Model().DataBuffer);
        }
        Open();
        Bar()->setValue(page);
    }

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
    // Clicks into the field `name` and selects its text.
    QLineEdit* Enter(const QString& name) {
        auto* field = Find<QLineEdit>(name);
        field->setFocus(Qt::MouseFocusReason);
        field->selectAll();
        return field;
    }
    // "Field=text": clicks into the field, replaces its text and leaves it with Tab.
    void Edit(const QString& edit) {
        const QString text = edit.section('=', 1);
        Activate();
        auto* field = Enter(edit.section('=', 0, 0));
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

struct OpeningRow {
    const char* name;
    QString io;
    int typeItem;  // chosen in the type box first; -1: none
    bool opens;
    QStringList fields;
    int lastPage;
} const kOpening[] = {
    {"no emulator: nothing happens", "sim:none", 0, false, {"", "", ""}, 0},
    {"2764 just selected", "sim", 0, true, kShown, 31},
    {"27512", "sim", 3, true, {"00000", "0FFFF", "FF"}, 255},
    {"27010 at start-up", "sim", -1, true, {"00000", "1FFFF", "FF"}, 511},
};

const int k2764 = 0, k27010 = 4;
struct PagingRow {
    const char* name;
    int typeItem;
    quint32 end;  // of the range; 0: as the type set it
    int startPage;
    QString action;
    QString range;  // empty: no redraw
    int caret;      // after the key, where the dump put it; -1: not checked
} const kPaging[] = {
    {"Page Down", k2764, 0, 0, "PgDown", "00100-001FF", -1},
    {"Page Up", k2764, 0, 5, "PgUp", "00400-004FF", -1},
    {"Page Up on page 0", k2764, 0, 0, "PgUp", "", -1},
    {"End on a 2764", k2764, 0, 0, "End", "01F00-01FFF", 74},
    {"Page Down past a narrowed range's end", k2764, 0x1FF, 1, "PgDown", "00200-002FF", -1},
    {"End with a narrowed range", k2764, 0x1FF, 0, "End", "01F00-01FFF", 74},
    {"End on a 27010", k27010, 0, 3, "End", "1FF00-1FFFF", 74},
    {"Ctrl+End on a 27010", k27010, 0, 3, "Ctrl+End", "1FF00-1FFFF", -1},
    {"Page Down on the last page", k27010, 0, 511, "PgDown", "", -1},
    {"End on the last page", k27010, 0, 511, "End", "", -1},
    {"Home", k27010, 0, 300, "Home", "00000-000FF", 0},
    {"Home on page 0", k27010, 0, 0, "Home", "", 0},
    {"arrow key", k27010, 0, 2, "Down", "", -1},
    {"scroll bar arrow", k27010, 0, 7, "bar:step", "00800-008FF", -1},
    {"scroll bar track", k27010, 0, 7, "bar:page", "00800-008FF", -1},
    {"scroll bar arrow at the end", k27010, 0, 511, "bar:step", "", -1},
    {"thumb dragged", k27010, 0, 0, "bar:drag", "1FF00-1FFFF", -1},
};

struct EditingRow {
    const char* name;
    QStringList edits;  // "Field=text", one after the other
    QStringList boxes, fields;
    QList<quint32> model;
    bool reloaded;  // back on page 0
} const kEditing[] = {
    {"end beyond the 2764", {"BufferEnd=2000"}, {kBadEnd}, kShown, kWhole, true},
    {"end in lower case", {"BufferEnd=1ff"}, {}, {"00000", "001FF", "FF"}, {0, 0x1FF, 0xFF}, false},
    {"end with many leading zeros", {"BufferEnd=0000000000001FFF"}, {}, kShown, kWhole, false},
    {"end too long for 32 bits", {"BufferEnd=100001FFF"}, {kBadEnd}, kShown, kWhole, true},
    {"start above the end",
     {"BufferEnd=FF", "BufferStart=100"},
     {kBadStart},
     {"00000", "000FF", "FF"},
     {0, 0xFF, 0xFF},
     true},
    {"start equal to the end",
     {"BufferEnd=FF", "BufferStart=ff"},
     {},
     {"000FF", "000FF", "FF"},
     {0xFF, 0xFF, 0xFF},
     false},
    {"end below the start",
     {"BufferStart=100", "BufferEnd=FF"},
     {kBadEnd},
     {"00100", "01FFF", "FF"},
     {0x100, 0x1FFF, 0xFF},
     true},
    {"fill 100", {"FillValue=100"}, {kBadFill}, kShown, kWhole, true},
    {"fill 5", {"FillValue=5"}, {}, {"00000", "01FFF", "05"}, {0, 0x1FFF, 5}, false},
    {"start emptied", {"BufferStart="}, {kBadStart}, kShown, kWhole, true},
    {"end emptied", {"BufferEnd="}, {kBadEnd}, kShown, kWhole, true},
    {"fill emptied", {"FillValue="}, {kBadFill}, kShown, kWhole, true},
    {"G typed", {"BufferEnd=1G0"}, {kWarning}, kShown, kWhole, true},
};

struct KeyRow {
    const char* name;
    int key, modifiers;
    QStringList boxes;
    QString shown;  // in BufferEnd after "1F" and the key
} const kKeys[] = {
    {"Enter dropped", Qt::Key_Return, kNone, {}, "1F"},
    {"Escape dropped", Qt::Key_Escape, kNone, {}, "1F"},
    {"Backspace edits", Qt::Key_Backspace, kNone, {}, "1"},
    {"Delete edits", Qt::Key_Delete, kNone, {}, "1F"},
    {"arrow moves", Qt::Key_Left, kNone, {}, "1F"},
    // Ctrl+Backspace types DEL (7Fh), no hex key: refused, not taken for Backspace.
    {"Ctrl+Backspace refused", Qt::Key_Backspace, kCtrl, {kWarning}, "01FFF"},
    {"Ctrl+V refused", Qt::Key_V, kCtrl, {kWarning}, "01FFF"},
    {"Ctrl+C refused", Qt::Key_C, kCtrl, {kWarning}, "01FFF"},
    {"blank refused", Qt::Key_Space, kNone, {kWarning}, "01FFF"},
    {"x refused", Qt::Key_X, kNone, {kWarning}, "01FFF"},
};

struct ClosingRow {
    const char* name;
    QString field;
    QString typed;  // after the field's text was selected
    QStringList fields;
    QList<quint32> model;
} const kClosing[] = {
    {"good end", "BufferEnd", "FFF", {"00000", "00FFF", "FF"}, {0, 0xFFF, 0xFF}},
    {"good fill value", "FillValue", "5", {"00000", "01FFF", "05"}, {0, 0x1FFF, 5}},
    {"end beyond the 2764", "BufferEnd", "FFFFF", kShown, kWhole},
    {"start above the end", "BufferStart", "2000", kShown, kWhole},
    {"fill value too large", "FillValue", "100", kShown, kWhole},
    {"field emptied", "BufferEnd", "", kShown, kWhole},
};

const QList<int> kFine{-15, -15, -15, -15, -15, -15, -15, -15};  // a fine wheel's notch
struct WheelRow {
    const char* name;
    bool overBar;  // else over the dump
    int startPage;
    QList<int> deltas;  // angle deltas, up positive
    bool sideways;
    int modifiers;
    QString range;
} const kWheel[] = {
    {"one notch down", false, 0, {-120}, false, kNone, "00100-001FF"},
    {"one notch up", false, 5, {120}, false, kNone, "00400-004FF"},
    {"three notches down", false, 0, {-120, -120, -120}, false, kNone, "00300-003FF"},
    {"a fast turn: two notches at once", false, 0, {-240}, false, kNone, "00200-002FF"},
    {"down, then up", false, 4, {-120, 120}, false, kNone, "00400-004FF"},
    {"half a notch: not yet", false, 0, {-60}, false, kNone, "00000-000FF"},
    {"a fine wheel's steps add up to a notch", false, 0, kFine, false, kNone, "00100-001FF"},
    {"half a notch back and forth does not add up",
     false,
     0,
     {-60, 60, -60},
     false,
     kNone,
     "00000-000FF"},
    {"up on page 0", false, 0, {120}, false, kNone, "00000-000FF"},
    {"down on the last page", false, 31, {-120}, false, kNone, "01F00-01FFF"},
    {"with Ctrl: a page, not a zoom", false, 0, {-120}, false, kCtrl, "00100-001FF"},
    {"sideways: nothing", false, 2, {-120}, true, kNone, "00200-002FF"},
    {"over the scroll bar: the same", true, 0, kFine, false, kNone, "00100-001FF"},
};

struct BackRow {
    const char* name;
    QString from;
    QString typed;  // into the field first
    int key, modifiers;
    QStringList boxes;
    QString range;
    QList<quint32> model;
} const kBack[] = {
    {"Page Down in the start field",
     "BufferStart",
     "",
     Qt::Key_PageDown,
     kNone,
     {},
     "00400-004FF",
     kWhole},
    {"Page Up in the fill value",
     "FillValue",
     "",
     Qt::Key_PageUp,
     kNone,
     {},
     "00200-002FF",
     kWhole},
    {"Ctrl+Page Down", "BufferEnd", "", Qt::Key_PageDown, kCtrl, {}, "00400-004FF", kWhole},
    {"from a read-only field", "HexBase", "", Qt::Key_PageDown, kNone, {}, "00400-004FF", kWhole},
    {"from the check box", "AutoVerify", "", Qt::Key_PageUp, kNone, {}, "00200-002FF", kWhole},
    {"a good value is committed on the way",
     "BufferEnd",
     "FFF",
     Qt::Key_PageDown,
     kNone,
     {},
     "00400-004FF",
     {0, 0xFFF, 0xFF}},
    {"a bad value is refused on the way, as by Tab",
     "BufferEnd",
     "FFFFF",
     Qt::Key_PageDown,
     kNone,
     {kBadEnd},
     "00000-000FF",
     kWhole},
};

}  // namespace

class OptionsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QVERIFY(UseOwnDirectories()); }

    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void opening_data() { AddRows(kOpening); }

    // Opens on page 0 with the model's values; the main window waits until it closes.
    void opening() {
        const auto& row = TheRow(kOpening);
        WindowRig rig(row.io);
        OptionsDriver options(rig, row.typeItem, 0, 0, [](auto& buffer) {
            std::copy_n("\x41\x20\x7F\xE9\x30", 5, buffer.begin());  // only 41h and 30h show
        });
        QCOMPARE(options.window.isVisible(), row.opens);
        QCOMPARE(rig.main->isEnabled(), !row.opens);
        QCOMPARE(options.Fields(), row.fields);
        if (!row.opens) {
            return;
        }
        QCOMPARE(options.Text("EmulatorStart") + options.Text("HexBase"), "0000000000");
        QCOMPARE(options.Range(), "00000-000FF");
        const QStringList lines = options.Dump().split('\n');
        QCOMPARE(lines.value(0),
                 "00000 : 41 20 7F E9 30 FF FF FF FF FF FF FF FF FF FF FF   A...0...........");
        QCOMPARE(lines.value(15), "000F0 :" + kErased);
        QCOMPARE(lines.size(), 16);
        QCOMPARE(options.Caret(), 9);
        QCOMPARE(options.FocusName(), "REdit");
        QCOMPARE(options.Bar()->maximum(), row.lastPage);
        QVERIFY(options.window.close());
        QVERIFY(!options.window.isVisible() && rig.main->isEnabled());
        QCOMPARE(rig.main->focusWidget()->objectName(), "SetOptions");
    }

    void paging_data() { AddRows(kPaging); }

    // A page is drawn only when the page really changes; the dump then applies the key to
    // its caret as usual. The pages are the EPROM's, whatever the range.
    void paging() {
        const auto& row = TheRow(kPaging);
        WindowRig rig("sim");
        OptionsDriver options(rig, row.typeItem, row.end, row.startPage,
                              [](auto& buffer) { buffer[0x1FFFF] = 0x4B; });
        const QString before = options.Range();
        auto* dump = options.Find<QPlainTextEdit>("REdit");
        dump->setPlainText(QString(74, 'x') + '\n' + QString(74, 'x'));  // gone when redrawn
        QStringList drawn;
        connect(options.Bar(), &QScrollBar::valueChanged, [&] { drawn << options.Range(); });
        if (row.action == "bar:step") {
            options.Bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        } else if (row.action == "bar:page") {
            options.Bar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        } else if (row.action == "bar:drag") {
            options.Bar()->setSliderDown(true);
            for (const int position : {1, 2, 511}) {
                options.Bar()->setSliderPosition(position);
            }
            options.Bar()->setSliderDown(false);
            QCOMPARE(drawn, (QStringList{"00100-001FF", "00200-002FF", "1FF00-1FFFF"}));
        } else {
            const QString name = QString(row.action).remove("Ctrl+");
            const Qt::Key key = name == "PgDown" ? Qt::Key_PageDown
                                : name == "PgUp" ? Qt::Key_PageUp
                                : name == "End"  ? Qt::Key_End
                                : name == "Home" ? Qt::Key_Home
                                                 : Qt::Key_Down;
            QTest::keyClick(dump, key, Qt::KeyboardModifiers(row.action != name ? kCtrl : kNone));
        }
        QCOMPARE(options.Range(), row.range.isEmpty() ? before : row.range);
        QCOMPARE(options.Dump().startsWith("xxx"), row.range.isEmpty());
        if (row.caret >= 0) {
            QCOMPARE(options.Caret(), row.caret);
        }
        if (row.range == "1FF00-1FFFF") {
            QVERIFY(options.Dump().endsWith(" 4B   ...............K"));
        }
    }

    void editing_data() { AddRows(kEditing); }

    // A bad value is refused with its message and the field shows its old text; the window
    // is then loaded anew. A good one is committed and shown in full, and nothing is redrawn.
    void editing() {
        const auto& row = TheRow(kEditing);
        WindowRig rig("sim");
        OptionsDriver options(rig);
        const QString page0 = options.Dump();
        options.Bar()->setValue(3);
        const QString page3 = options.Dump();
        Modals modals;
        for (const QString& edit : row.edits) {
            options.Edit(edit);
        }
        QCOMPARE(modals.boxes, row.boxes);
        QCOMPARE(options.Fields(), row.fields);
        QCOMPARE(options.Model(), row.model);
        QCOMPARE(options.Range(), row.reloaded ? "00000-000FF" : "00300-003FF");
        QCOMPARE(options.Dump(), row.reloaded ? page0 : page3);
        const auto& buffer = rig.main->Model().DataBuffer;
        QVERIFY(std::all_of(buffer.begin(), buffer.begin() + 0x2000,
                            [](std::uint8_t byte) { return byte == 0xFF; }));
        if (row.reloaded) {
            QCOMPARE(options.FocusName(), "REdit");
        }
    }

    void keys_data() { AddRows(kKeys); }

    // Only hex digits and Backspace reach a field; Enter and Escape vanish; anything else
    // warns, and the window is loaded anew, dropping what was typed.
    void keys() {
        const auto& row = TheRow(kKeys);
        WindowRig rig("sim");
        OptionsDriver options(rig);
        QApplication::clipboard()->setText("ABC");
        Modals modals;
        options.Activate();
        auto* field = options.Enter("BufferEnd");
        options.Type("1F");
        options.Key(Qt::Key(row.key), Qt::KeyboardModifiers(row.modifiers));
        QCOMPARE(modals.boxes, row.boxes);
        QCOMPARE(field->text(), row.shown);
        QVERIFY(options.window.isVisible());
        QCOMPARE(options.FocusName(), row.boxes.isEmpty() ? "BufferEnd" : "REdit");
        QCOMPARE(rig.main->Model().BufferEnd, 0x1FFFu);  // nothing committed before leaving
    }

    void closingCommitsTheFieldInUse_data() { AddRows(kClosing); }

    // Closing with the close box while a field holds a new value commits it, as leaving does;
    // a bad value is dropped without a box, now or when the window opens again.
    void closingCommitsTheFieldInUse() {
        const auto& row = TheRow(kClosing);
        WindowRig rig("sim");
        OptionsDriver options(rig);
        Modals modals;
        options.Enter(row.field);
        options.Key(Qt::Key_Backspace);  // the selected text goes
        options.Type(row.typed);
        QVERIFY(options.window.close());
        QVERIFY(!options.window.isVisible() && rig.main->isEnabled());
        QCOMPARE(options.Fields(), row.fields);
        QCOMPARE(options.Model(), row.model);
        // Opened again, the focus leaves the field it was in: still no box.
        options.Open();
        QCoreApplication::processEvents();
        QCOMPARE(options.Fields(), row.fields);
        QCOMPARE(options.Model(), row.model);
        QCOMPARE(modals.boxes, QStringList());
        QVERIFY(options.window.close());
    }

    void wheel_data() { AddRows(kWheel); }

    // The wheel turns the pages one a notch, over the dump as over the scroll bar.
    void wheel() {
        const auto& row = TheRow(kWheel);
        WindowRig rig("sim");
        OptionsDriver options(rig, k2764, 0, row.startPage);  // pages 0 to 31
        auto* dump = options.Find<QPlainTextEdit>("REdit");
        const int fontPixels = dump->font().pixelSize();
        QWidget* surface = row.overBar ? options.Bar() : dump->viewport();
        const QPoint middle = surface->rect().center();
        for (const int delta : row.deltas) {
            QWheelEvent notch(middle, surface->mapToGlobal(middle), {},
                              row.sideways ? QPoint(delta, 0) : QPoint(0, delta), Qt::NoButton,
                              Qt::KeyboardModifiers(row.modifiers), Qt::NoScrollPhase, false);
            QApplication::sendEvent(surface, &notch);
        }
        QCOMPARE(options.Range(), row.range);
        QCOMPARE(options.Dump().left(5), options.Range().left(5));
        QCOMPARE(dump->font().pixelSize(), fontPixels);
    }

    void backToTheDump_data() { AddRows(kBack); }

    // Page Up and Page Down bring the keyboard back from the fields to the dump, and page.
    void backToTheDump() {
        const auto& row = TheRow(kBack);
        WindowRig rig("sim");
        OptionsDriver options(rig, k2764, 0, 3);
        Modals modals;
        auto* from = options.Find(row.from);
        from->setFocus(Qt::MouseFocusReason);
        if (auto* field = qobject_cast<QLineEdit*>(from); field && !field->isReadOnly()) {
            field->selectAll();
        }
        options.Type(row.typed);
        options.Key(Qt::Key(row.key), Qt::KeyboardModifiers(row.modifiers));
        QCoreApplication::processEvents();  // leaving the field is handled after the move
        QCOMPARE(modals.boxes, row.boxes);
        QCOMPARE(options.Range(), row.range);
        QCOMPARE(options.FocusName(), "REdit");
        QCOMPARE(options.Model(), row.model);
    }

    // The check box is what the main window's Write reads; it lasts until the program ends.
    void writeAndVerify() {
        for (const bool checked : {false, true}) {
            WindowRig rig("sim:0x378/bad=0x100");
            OptionsDriver options(rig, -1);
            if (checked) {
                options.Key(Qt::Key_W, Qt::AltModifier);
                QTRY_VERIFY(rig.main->Model().AutoVerify);  // the box clicks itself a moment later
            }
            options.window.close();
            options.Open();
            QCOMPARE(options.Find<QCheckBox>("AutoVerify")->isChecked(), checked);
            options.window.close();
            rig.Click("TarvexWrite");  // only the verify finds the bad cell
            QCOMPARE(rig.LampState("LastResult"), checked ? Lamp::Red : Lamp::Green);
        }
    }

    // Tab goes through the fields in their order; a label's letter moves to its field.
    void keyboardNavigation() {
        WindowRig rig("sim");
        OptionsDriver options(rig, -1);
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
