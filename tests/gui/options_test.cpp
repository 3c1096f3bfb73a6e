// The options window on the simulated emulator: opening, paging, the three editors with their
// boxes, and the write-and-verify switch as the main window's Write sees it.
#include "WindowRig.h"

using tarvex::Lamp;
using namespace tarvex::testing;

namespace {

const QString kWarning = "Warning: Please use 0..9 and A..F keys only! [OK]";
const QString kBadStart = "Error: Incorrect buffer start selected! [Cancel]";
const QString kBadEnd = "Error: Incorrect buffer end selected! [Cancel]";
const QStringList kShown{"00000", "01FFF", "FF"};  // a 2764 just selected
const QStringList k1F{"00000", "1F", "FF"};        // 1F typed into the end, not yet left
const QList<quint32> kWhole{0, 0x1FFF, 0xFF};
const QString kPage0 = "00000-000FF", kPage3 = "00300-003FF";

// The options window of a rig, driven as a user would.
struct OptionsDriver {
    // Opens the window on a 2764 (or the type box's item `type`) on `page`, once `load` has
    // changed the model.
    explicit OptionsDriver(WindowRig& windows, int type = 0, int page = 0,
                           const std::function<void(tarvex::ImageModel&)>& load = {})
        : rig(windows), window(*windows.options) {
        if (type >= 0) {
            rig.main->EpromTypeChange(type);
        }
        if (load) {
            load(rig.main->Model());
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
    void Key(const QString& name) {  // "Ctrl+PgDown"
        const QKeyCombination key = QKeySequence(name)[0];
        QTest::keyClick(window.windowHandle(), key.key(), key.keyboardModifiers());
    }
    // "Field=text": clicks into the field, replaces its text and presses `leave` ("Tab"); a
    // bare "Field" only takes the focus there.
    void Edit(const QString& edit, const QString& leave) {
        Activate();
        auto* field = Find(edit.section('=', 0, 0));
        field->setFocus(Qt::MouseFocusReason);
        if (edit.contains('=')) {
            static_cast<QLineEdit*>(field)->selectAll();
            Key("Backspace");
            Type(edit.section('=', 1));
        }
        if (window.focusWidget() == field && leave != "close") {
            Key(leave);
        }
        QCoreApplication::processEvents();  // leaving is handled once the focus has moved
    }

    WindowRig& rig;
    tarvex::TOptions& window;
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
    {"27010 at start-up", "sim", -1, true, {"00000", "1FFFF", "FF"}, 511},
};

const int k2764 = 0, k27010 = 4;
const QString kFine = "-15,-15,-15,-15,-15,-15,-15,-15";  // a fine wheel's notch
struct PagingRow {
    const char* name;
    int typeItem;
    quint32 end;  // of the range; 0: as the type set it
    int startPage;
    QString action;
    QString range;  // empty: no redraw
    int caret;      // after the key, where the dump put it; -1: not checked
} const kPaging[] = {
    {"Page Up on page 0", k2764, 0, 0, "PgUp", "", -1},
    {"Page Down past a narrowed range's end", k2764, 0x1FF, 1, "PgDown", "00200-002FF", -1},
    {"End on a 27010", k27010, 0, 3, "End", "1FF00-1FFFF", 74},
    {"Home", k27010, 0, 300, "Home", "00000-000FF", 0},
    {"arrow key", k27010, 0, 2, "Down", "", -1},
    {"scroll bar arrow", k27010, 0, 7, "bar:step", "00800-008FF", -1},
    {"thumb dragged", k27010, 0, 0, "bar:drag", "1FF00-1FFFF", -1},
    // The wheel turns the pages one a notch (120), over the dump as over the scroll bar.
    {"wheel: a fast turn, two notches at once", k2764, 0, 0, "wheel:-240", "00200-002FF", -1},
    {"wheel: down, then up", k2764, 0, 4, "wheel:-120,120", "00400-004FF", -1},
    {"wheel: half a notch back and forth does not add up", k2764, 0, 0, "wheel:-60,60,-60", "", -1},
    {"wheel with Ctrl: a page, not a zoom", k2764, 0, 0, "Ctrl+wheel:-120", "00100-001FF", -1},
    {"wheel sideways: nothing", k2764, 0, 2, "sideways-wheel:-120", "", -1},
    {"wheel over the scroll bar: the same", k2764, 0, 0, "bar:wheel:" + kFine, "00100-001FF", -1},
};

// Each edit is "Field=text" (or just "Field"), left by Tab; the last one instead by the key
// `leave`, or by "close": the close box, then opened again.
struct EditingRow {
    const char* name;
    QStringList edits;
    QString leave;
    QStringList boxes, fields;  // the model holds what the fields show
    QString range;              // from page 3
} const kEditing[] = {
    // clang-format off
    {"end in lower case", {"BufferEnd=1ff"}, "Tab", {}, {"00000", "001FF", "FF"}, kPage3},
    {"start above the end", {"BufferEnd=FF", "BufferStart=100"}, "Tab", {kBadStart}, {"00000", "000FF", "FF"}, kPage0},
    {"fill 5", {"FillValue=5"}, "Tab", {}, {"00000", "01FFF", "05"}, kPage3},
    {"G typed", {"BufferEnd=1G0"}, "Tab", {kWarning}, kShown, kPage0},
    // Closing commits the field in use as leaving does; a bad value goes without a box, now
    // and when the window opens again.
    {"closed: good end", {"BufferEnd=FFF"}, "close", {}, {"00000", "00FFF", "FF"}, kPage0},
    {"closed: end beyond the 2764", {"BufferEnd=FFFFF"}, "close", {}, kShown, kPage0},
    {"Page Down commits a good value", {"BufferEnd=FFF"}, "PgDown", {}, {"00000", "00FFF", "FF"}, "00400-004FF"},
    {"Page Down refuses a bad value, as Tab", {"BufferEnd=FFFFF"}, "PgDown", {kBadEnd}, kShown, kPage0},
    // Only hex digits and Backspace reach a field; Enter and Escape vanish; anything else
    // warns, and the window is loaded anew, dropping what was typed.
    {"Enter dropped", {"BufferEnd=1F"}, "Return", {}, k1F, kPage3},
    {"Escape dropped", {"BufferEnd=1F"}, "Esc", {}, k1F, kPage3},
    {"Backspace edits", {"BufferEnd=1F"}, "Backspace", {}, {"00000", "1", "FF"}, kPage3},
    {"Delete edits", {"BufferEnd=1F"}, "Del", {}, k1F, kPage3},
    // Ctrl+Backspace types DEL (7Fh), no hex key: refused, not taken for Backspace.
    {"Ctrl+Backspace refused", {"BufferEnd=1F"}, "Ctrl+Backspace", {kWarning}, kShown, kPage0},
    {"Ctrl+V refused", {"BufferEnd=1F"}, "Ctrl+V", {kWarning}, kShown, kPage0},
    // Page Up and Page Down take the keyboard from any field back to the dump.
    {"from the check box", {"AutoVerify"}, "PgUp", {}, kShown, "00200-002FF"},
    // clang-format on
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
        OptionsDriver options(rig, row.typeItem);
        QCOMPARE(options.window.isVisible(), row.opens);
        QCOMPARE(rig.main->isEnabled(), !row.opens);
        QCOMPARE(options.Fields(), row.fields);
        if (!row.opens) {
            return;
        }
        QCOMPARE(options.Text("EmulatorStart") + options.Text("HexBase"), "0000000000");
        QCOMPARE(options.Range(), "00000-000FF");
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
        OptionsDriver options(rig, row.typeItem, row.startPage, [&](auto& model) {
            model.DataBuffer[0x1FFFF] = 0x4B;
            model.BufferEnd = row.end ? row.end : model.BufferEnd;
        });
        const QString before = options.Range();
        auto* dump = options.Find<QPlainTextEdit>("REdit");
        const int fontPixels = dump->font().pixelSize();
        dump->setPlainText(QString(74, 'x') + '\n' + QString(74, 'x'));  // gone when redrawn
        QStringList drawn;
        connect(options.Bar(), &QScrollBar::valueChanged, [&] { drawn << options.Range(); });
        const QString action = QString(row.action).remove("Ctrl+");
        const auto modifiers = row.action != action ? Qt::ControlModifier : Qt::NoModifier;
        if (action.contains("wheel:")) {
            QWidget* surface = action.startsWith("bar:") ? options.Bar() : dump->viewport();
            const QPoint middle = surface->rect().center();
            for (const QString& delta : action.section(':', -1).split(',')) {
                const QPoint angle = action.startsWith("sideways") ? QPoint(delta.toInt(), 0)
                                                                   : QPoint(0, delta.toInt());
                QWheelEvent notch(middle, surface->mapToGlobal(middle), {}, angle, Qt::NoButton,
                                  modifiers, Qt::NoScrollPhase, false);
                QApplication::sendEvent(surface, &notch);
            }
        } else if (action == "bar:step") {
            options.Bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        } else if (action == "bar:drag") {
            options.Bar()->setSliderDown(true);
            for (const int position : {1, 2, 511}) {
                options.Bar()->setSliderPosition(position);
            }
            options.Bar()->setSliderDown(false);
            QCOMPARE(drawn, (QStringList{"00100-001FF", "00200-002FF", "1FF00-1FFFF"}));
        } else {
            QTest::keyClick(dump, QKeySequence(action)[0].key(), modifiers);
        }
        QCOMPARE(options.Range(), row.range.isEmpty() ? before : row.range);
        QCOMPARE(options.Dump().left(5), row.range.isEmpty() ? "xxxxx" : row.range.left(5));
        QCOMPARE(dump->font().pixelSize(), fontPixels);
        if (row.caret >= 0) {
            QCOMPARE(options.Caret(), row.caret);
        }
        if (row.range == "1FF00-1FFFF") {
            QVERIFY(options.Dump().endsWith(" 4B   ...............K"));
        }
    }

    void editing_data() { AddRows(kEditing); }

    // A bad value is refused with its message and the field shows its old text; the window
    // is then loaded anew. A good one is committed and shown in full, on the same page.
    void editing() {
        const auto& row = TheRow(kEditing);
        WindowRig rig("sim");
        OptionsDriver options(rig, k2764, 3);
        QApplication::clipboard()->setText("ABC");
        Modals modals;
        for (const QString& edit : row.edits) {
            options.Edit(edit, edit == row.edits.last() ? row.leave : "Tab");
        }
        if (row.leave == "close") {
            QVERIFY(options.window.close());
            options.Open();  // the focus leaves the field it was in: still no box
            QCoreApplication::processEvents();
        }
        QVERIFY(options.window.isVisible());
        QCOMPARE(modals.boxes, row.boxes);
        QCOMPARE(options.Fields(), row.fields);
        QList<quint32> model = kWhole;  // a field still being typed into has committed nothing
        if (row.fields[1].size() == 5) {
            std::transform(row.fields.begin(), row.fields.end(), model.begin(),
                           [](const QString& field) { return field.toUInt(nullptr, 16); });
        }
        QCOMPARE(options.Model(), model);
        QCOMPARE(options.Range(), row.range);
        QCOMPARE(options.Dump().left(5), row.range.left(5));
        const auto& buffer = rig.main->Model().DataBuffer;
        QVERIFY(std::all_of(buffer.begin(), buffer.begin() + 0x2000,
                            [](std::uint8_t byte) { return byte == 0xFF; }));
        if (row.range != kPage3 || row.leave != "Tab") {
            QCOMPARE(options.FocusName(), row.range != kPage3 ? "REdit" : "BufferEnd");
        }
    }

    // The check box is what the main window's Write reads; it lasts until the program ends.
    void writeAndVerify() {
        for (const bool checked : {false, true}) {
            WindowRig rig("sim:0x378/bad=0x100");
            OptionsDriver options(rig, -1);
            if (checked) {
                options.Key("Alt+W");
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
        for (const char* key : {"Alt+F", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Alt+T", "Alt+I",
                                "Alt+E", "Alt+H"}) {
            options.Key(key);
            order << options.FocusName();
        }
        QCOMPARE(order, (QStringList{"BufferStart", "BufferEnd", "FillValue", "EmulatorStart",
                                     "HexBase", "AutoVerify", "BufferStart", "BufferEnd",
                                     "FillValue", "EmulatorStart", "HexBase"}));
    }
};

QTEST_MAIN(OptionsTest)
#include "options_test.moc"
