// User-interface half of the run-time layer: start-up, the event loop, the
// widgets behind the controls and their events, loading and showing panels.
// Values are in rt_values.cpp, attributes in rt_attrs.cpp, operator actions
// in rt_operator.cpp.
#include "rt/rt_ui_internal.h"
#include "rt/rt_testing.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QDeadlineTimer>
#include <QTimer>
#include <QUiLoader>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <qcustomplot.h>

#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rtui {

static std::map<int, std::unique_ptr<Panel>> g_panels;
static int g_nextPanel = 1;
static std::map<std::string, CtrlCallbackPtr> g_callbacks;
static QTimer *g_wake = nullptr;
static std::vector<QEventLoop *> g_loops;
static bool g_quitPending = false;
static int g_quitCode = 0;

Panel *FindPanel(int handle) {
    auto it = g_panels.find(handle);
    if (it == g_panels.end() || !it->second->w) return nullptr;
    return it->second.get();
}

Ctrl *FindCtrl(int panel, int control) {
    Panel *p = FindPanel(panel);
    if (!p) return nullptr;
    auto it = p->ctrls.find(control);
    if (it == p->ctrls.end() || !it->second->w) return nullptr;
    return it->second.get();
}

QColor ToColor(int rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }
int FromColor(const QColor &c) { return (c.red() << 16) | (c.green() << 8) | c.blue(); }

// ---- conversions without undefined behaviour ---------------------------------
uint16_t Wrap16(double v) {
    if (!std::isfinite(v)) return 0;
    double m = std::fmod(std::trunc(v), 65536.0);
    if (m < 0) m += 65536.0;
    return static_cast<uint16_t>(m);
}
unsigned Wrap32(double v) {
    if (!std::isfinite(v)) return 0;
    double m = std::fmod(std::trunc(v), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return static_cast<unsigned>(m);
}
int ClampInt(double v) {
    if (!std::isfinite(v)) return 0;
    double t = std::trunc(v);
    if (t >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (t <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(t);
}
float ClampFloat(double v) {
    if (std::isnan(v)) return 0.0f;
    if (v > FLT_MAX) return FLT_MAX;
    if (v < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(v);
}

QString FromC(const char *s) { return s ? QString::fromLocal8Bit(s) : QString(); }

void CopyOut(const QString &s, char *buf, int bufSize) {
    if (!buf || bufSize <= 0) return;
    QByteArray b = s.toLocal8Bit();
    size_t n = std::min(static_cast<size_t>(b.size()), static_cast<size_t>(bufSize - 1));
    std::memcpy(buf, b.constData(), n);
    buf[n] = '\0';
}

// ---- events --------------------------------------------------------------------
static int g_callbackDepth = 0;
static int g_pumpDepth = 0;
// Set by anything that concerns the program during a pass of the pump.
static bool g_pumpNoted = false;
static long g_pumpPasses = 0, g_pumpReturns = 0;

void NoteSerialDelivery() { g_pumpNoted = true; }

namespace {
// Sees every event the application delivers: all but the serial port's own
// socket activity and the pump's wake-up timer concern the program.
class PumpWatch : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *e) override {
        switch (e->type()) {
        case QEvent::SockAct:
        case QEvent::SockClose: break;
        case QEvent::MetaCall:   // the serial layer's checks note their own deliveries
            if (!rtui::IsSerialHub(watched)) g_pumpNoted = true;
            break;
        case QEvent::Timer:
            if (watched != g_wake) g_pumpNoted = true;
            break;
        default: g_pumpNoted = true;
        }
        return false;
    }
};
}   // namespace

int CallbackDepth() { return g_callbackDepth; }

static std::function<void(int, int, int)> g_eventHook;

void Raise(int panel, int control, int event) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return;
    ++g_callbackDepth;
    if (c->cb) c->cb(panel, control, event, nullptr, 0, 0);
    // after the callback, so the hook sees what the callback corrected
    if (g_eventHook) g_eventHook(panel, control, event);
    --g_callbackDepth;
}

static void RaisePanel(int panel, int event) {
    Panel *p = FindPanel(panel);
    if (!p || !p->cb) return;
    ++g_callbackDepth;
    p->cb(panel, 0, event, nullptr, 0, 0);
    --g_callbackDepth;
}

// The panel's close box asks the program; the window stays as it is.
class PanelFilter : public QObject {
public:
    PanelFilter(int handle, QObject *parent) : QObject(parent), handle_(handle) {}
    bool eventFilter(QObject *obj, QEvent *ev) override {
        if (ev->type() == QEvent::Close) {
            ev->ignore();
            RaisePanel(handle_, EVENT_CLOSE);
            return true;
        }
        return QObject::eventFilter(obj, ev);
    }

private:
    int handle_;
};

// Spin boxes that report an arrow or step as a committed value and tell an
// Enter from a focus change.
template <class Base>
class RtSpin : public Base {
public:
    explicit RtSpin(QWidget *parent) : Base(parent) {}
    std::function<void()> onStep;
    bool enter = false;
    void stepBy(int steps) override {
        Base::stepBy(steps);
        if (onStep) onStep();
    }

protected:
    void keyPressEvent(QKeyEvent *e) override {
        enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        Base::keyPressEvent(e);
        enter = false;
    }
};
class RtSpinBox : public RtSpin<QSpinBox> {
public:
    explicit RtSpinBox(QWidget *parent) : RtSpin<QSpinBox>(parent) { setRange(0, 65535); }
};
class RtDoubleSpinBox : public RtSpin<QDoubleSpinBox> {
public:
    explicit RtDoubleSpinBox(QWidget *parent) : RtSpin<QDoubleSpinBox>(parent) {
        setRange(-1e12, 1e12);
    }
};

static bool EnterPressed(QWidget *w) {
    if (auto *s = dynamic_cast<RtSpinBox *>(w)) return s->enter;
    if (auto *d = dynamic_cast<RtDoubleSpinBox *>(w)) return d->enter;
    return w->hasFocus();
}

// A ring that tells the program when its list is about to open, and that
// may be changed by a choice from that list only.
class RtComboBox : public QComboBox {
public:
    explicit RtComboBox(QWidget *parent) : QComboBox(parent) {}
    void (*onOpen)(void) = nullptr;
    bool choiceOnly = false;
    void showPopup() override {
        if (onOpen) onOpen();
        QComboBox::showPopup();
    }

protected:
    void wheelEvent(QWheelEvent *e) override {
        if (choiceOnly) e->ignore();
        else QComboBox::wheelEvent(e);
    }
    void keyPressEvent(QKeyEvent *e) override {
        if (!choiceOnly || (e->modifiers() & Qt::AltModifier)) {
            QComboBox::keyPressEvent(e);
            return;
        }
        switch (e->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down: showPopup(); return;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End: e->ignore(); return;
        case Qt::Key_F4:
        case Qt::Key_Space: QComboBox::keyPressEvent(e); return;
        default:
            // typed letters would pick an item by its name
            if (!e->text().isEmpty() && e->text().at(0).isPrint()) e->ignore();
            else QComboBox::keyPressEvent(e);
            return;
        }
    }
};

class Loader : public QUiLoader {
public:
    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override {
        QWidget *w = nullptr;
        if (className == QLatin1String("QCustomPlot")) w = NewPlotWidget(parent);
        else if (className == QLatin1String("QSpinBox")) w = new RtSpinBox(parent);
        else if (className == QLatin1String("QDoubleSpinBox")) w = new RtDoubleSpinBox(parent);
        else if (className == QLatin1String("QComboBox")) w = new RtComboBox(parent);
        if (!w) w = QUiLoader::createWidget(className, parent, name);
        else w->setObjectName(name);
        // Numbers and texts change with every frame. Filled, they are opaque,
        // so their group box or panel beneath is not painted again each time.
        if (qobject_cast<QAbstractSpinBox *>(w) || qobject_cast<QLineEdit *>(w))
            w->setAutoFillBackground(true);
        return w;
    }
};

static int Classify(QWidget *w, int *numType) {
    QString kind = w->property("ctrlKind").toString();
    QString dt = w->property("dataType").toString();
    if (qobject_cast<QCustomPlot *>(w)) {
        if (kind == QLatin1String("chart")) return K_CHART;
        return kind == QLatin1String("strip") ? K_STRIP : K_GRAPH;
    }
    if (qobject_cast<QDoubleSpinBox *>(w)) {
        *numType = dt == QLatin1String("float") ? NT_FLOAT : NT_DOUBLE;
        return K_DBL_NUM;
    }
    if (qobject_cast<QSpinBox *>(w)) {
        *numType = dt == QLatin1String("int") ? NT_INT : NT_U16;
        return K_INT_NUM;
    }
    if (qobject_cast<QComboBox *>(w)) return K_RING;
    if (auto *r = qobject_cast<QRadioButton *>(w)) {
        r->setAutoExclusive(false);
        return K_RADIO;
    }
    if (qobject_cast<QCheckBox *>(w)) return K_CHECK;
    if (auto *b = qobject_cast<QPushButton *>(w)) {
        if (kind == QLatin1String("switch")) {
            b->setCheckable(true);
            return K_SWITCH;
        }
        return b->isCheckable() ? K_TOGGLE : K_BUTTON;
    }
    if (qobject_cast<QPlainTextEdit *>(w) || qobject_cast<QTextEdit *>(w)) return K_TEXTBOX;
    if (qobject_cast<QLineEdit *>(w)) return K_STRING;
    if (qobject_cast<QLabel *>(w)) return K_LABEL;
    return K_CONTAINER;
}

bool IsToggleKind(int k) { return k == K_RADIO || k == K_TOGGLE || k == K_CHECK || k == K_SWITCH; }

void ShowSwitchText(Ctrl *c) {
    auto *b = qobject_cast<QAbstractButton *>(c->w);
    if (!b || c->kind != K_SWITCH) return;
    const QString &t = b->isChecked() ? c->onText : c->offText;
    if (b->text() != t) b->setText(t);
}

double NumValue(Ctrl *c) {
    if (auto *d = qobject_cast<QDoubleSpinBox *>(c->w)) {
        if (c->haveExact && d->value() == c->exactShown) return c->exact;
        return d->value();
    }
    if (auto *s = qobject_cast<QSpinBox *>(c->w)) return s->value();
    return 0;
}

static void Bind(int h, Ctrl *c) {
    const int id = c->id;
    QWidget *w = c->w;
    switch (c->kind) {
    case K_BUTTON: {
        auto *b = qobject_cast<QAbstractButton *>(w);
        QObject::connect(b, &QAbstractButton::pressed, w,
                         [h, id] { Raise(h, id, EVENT_LEFT_CLICK); });
        QObject::connect(b, &QAbstractButton::clicked, w, [h, id] { Raise(h, id, EVENT_COMMIT); });
        break;
    }
    case K_RADIO:
    case K_TOGGLE:
    case K_CHECK:
    case K_SWITCH: {
        auto *b = qobject_cast<QAbstractButton *>(w);
        if (c->kind == K_SWITCH) {
            // texts may come with the resource file; the program can change them
            c->onText = w->property("onText").toString();
            c->offText = w->property("offText").toString();
            if (c->onText.isEmpty()) c->onText = QStringLiteral("ON");
            if (c->offText.isEmpty()) c->offText = QStringLiteral("OFF");
            QObject::connect(b, &QAbstractButton::toggled, w, [h, id] {
                if (Ctrl *cc = FindCtrl(h, id)) ShowSwitchText(cc);
            });
            ShowSwitchText(c);
        }
        QObject::connect(b, &QAbstractButton::clicked, w, [h, id] {
            Raise(h, id, EVENT_VAL_CHANGED);
            Raise(h, id, EVENT_COMMIT);
        });
        break;
    }
    case K_INT_NUM:
    case K_DBL_NUM: {
        auto *sb = qobject_cast<QAbstractSpinBox *>(w);
        c->committed = c->seen = NumValue(c);
        auto commit = [h, id] {
            Ctrl *cc = FindCtrl(h, id);
            if (!cc) return;
            cc->committed = NumValue(cc);
            Raise(h, id, EVENT_COMMIT);
        };
        auto changed = [h, id] {
            Ctrl *cc = FindCtrl(h, id);
            if (!cc) return;
            // Enter re-announces an unchanged value; that is no change
            double v = NumValue(cc);
            if (v == cc->seen && !cc->haveExact) return;
            cc->seen = v;
            cc->haveExact = false;
            Raise(h, id, EVENT_VAL_CHANGED);
        };
        if (auto *s = dynamic_cast<RtSpinBox *>(sb)) {
            s->onStep = commit;
            QObject::connect(s, &QSpinBox::valueChanged, w, changed);
        } else if (auto *d = dynamic_cast<RtDoubleSpinBox *>(sb)) {
            d->onStep = commit;
            QObject::connect(d, &QDoubleSpinBox::valueChanged, w, changed);
        } else if (auto *s2 = qobject_cast<QSpinBox *>(sb)) {
            QObject::connect(s2, &QSpinBox::valueChanged, w, changed);
        } else if (auto *d2 = qobject_cast<QDoubleSpinBox *>(sb)) {
            QObject::connect(d2, &QDoubleSpinBox::valueChanged, w, changed);
        }
        // Enter commits always; losing the focus only with a changed value
        QObject::connect(sb, &QAbstractSpinBox::editingFinished, w, [h, id, commit] {
            Ctrl *cc = FindCtrl(h, id);
            if (!cc) return;
            if (EnterPressed(cc->w) || NumValue(cc) != cc->committed) commit();
        });
        break;
    }
    case K_RING: {
        auto *cb = qobject_cast<QComboBox *>(w);
        QObject::connect(cb, &QComboBox::activated, w, [h, id] {
            Raise(h, id, EVENT_VAL_CHANGED);
            Raise(h, id, EVENT_COMMIT);
        });
        break;
    }
    case K_STRING: {
        auto *le = qobject_cast<QLineEdit *>(w);
        QObject::connect(le, &QLineEdit::textEdited, w,
                         [h, id] { Raise(h, id, EVENT_VAL_CHANGED); });
        QObject::connect(le, &QLineEdit::returnPressed, w, [h, id] { Raise(h, id, EVENT_COMMIT); });
        break;
    }
    case K_GRAPH: SetupGraph(c); break;
    case K_STRIP: SetupStrip(c); break;
    case K_CHART: SetupChart(c); break;
    default: break;
    }
}

static CtrlCallbackPtr LookupCallback(const QString &name) {
    auto it = g_callbacks.find("CC_" + name.toStdString());
    return it == g_callbacks.end() ? nullptr : it->second;
}

// ---- value access ----------------------------------------------------------------
// True when the program set this very value last time and the spin box
// still shows what it showed then (no typing since). Qt repaints a spin
// box on every setValue, even an unchanged one, and a loop that shows the
// same numbers on each pass would then keep the event pump from sleeping.
static bool StillShown(Ctrl *c, QAbstractSpinBox *sb, double v, double shown) {
    return c->lastSetValid && c->lastSet == v && c->lastSetShown == shown &&
           sb->text() == c->lastSetText;
}

static void NoteShown(Ctrl *c, QAbstractSpinBox *sb, double v, double shown) {
    c->lastSetValid = true;
    c->lastSet = v;
    c->lastSetShown = shown;
    c->lastSetText = sb->text();
}

int SetNum(Ctrl *c, double v) {
    QSignalBlocker block(c->w);
    switch (c->kind) {
    case K_INT_NUM: {
        auto *s = qobject_cast<QSpinBox *>(c->w);
        const int nv = c->numType == NT_U16 ? static_cast<int>(Wrap16(v)) : ClampInt(v);
        if (!StillShown(c, s, nv, s->value())) {
            s->setValue(nv);
            NoteShown(c, s, nv, s->value());
        }
        c->committed = c->seen = s->value();
        return 0;
    }
    case K_DBL_NUM: {
        auto *d = qobject_cast<QDoubleSpinBox *>(c->w);
        double x = std::isfinite(v) ? v : 0.0;
        if (c->numType == NT_FLOAT) x = ClampFloat(x);
        x = std::min(std::max(x, d->minimum()), d->maximum());
        if (!StillShown(c, d, x, d->value())) {
            d->setValue(x);
            NoteShown(c, d, x, d->value());
        }
        c->exact = x;
        c->exactShown = d->value();
        c->haveExact = true;
        c->committed = x;
        c->seen = d->value();
        return 0;
    }
    case K_RING: {
        auto *cb = qobject_cast<QComboBox *>(c->w);
        int want = ClampInt(v);
        for (int i = 0; i < cb->count(); ++i) {
            QVariant d = cb->itemData(i);
            int iv = d.isValid() ? d.toInt() : i;
            if (iv == want) {
                cb->setCurrentIndex(i);
                return 0;
            }
        }
        return RT_UIE_BAD_VALUE;
    }
    case K_RADIO:
    case K_TOGGLE:
    case K_CHECK:
    case K_SWITCH: {
        auto *b = qobject_cast<QAbstractButton *>(c->w);
        b->setChecked(std::isfinite(v) ? v != 0.0 : false);
        ShowSwitchText(c);
        return 0;
    }
    default: return RT_UIE_BAD_TYPE;
    }
}

int GetNum(Ctrl *c, double *out) {
    switch (c->kind) {
    case K_INT_NUM:
    case K_DBL_NUM: *out = NumValue(c); return 0;
    case K_RING: {
        auto *cb = qobject_cast<QComboBox *>(c->w);
        int i = cb->currentIndex();
        if (i < 0) {
            *out = 0;
            return RT_UIE_BAD_VALUE;
        }
        QVariant d = cb->itemData(i);
        *out = d.isValid() ? d.toInt() : i;
        return 0;
    }
    case K_RADIO:
    case K_TOGGLE:
    case K_CHECK:
    case K_SWITCH: *out = qobject_cast<QAbstractButton *>(c->w)->isChecked() ? 1 : 0; return 0;
    default: *out = 0; return RT_UIE_BAD_TYPE;
    }
}

QString TextOf(Ctrl *c) {
    QWidget *w = c->w;
    if (auto *le = qobject_cast<QLineEdit *>(w)) return le->text();
    if (auto *pe = qobject_cast<QPlainTextEdit *>(w)) return pe->toPlainText();
    if (auto *te = qobject_cast<QTextEdit *>(w)) return te->toPlainText();
    if (auto *l = qobject_cast<QLabel *>(w)) return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w)) return b->text();
    if (auto *sb = qobject_cast<QAbstractSpinBox *>(w)) return sb->text();
    if (auto *cb = qobject_cast<QComboBox *>(w)) return cb->currentText();
    if (auto *g = qobject_cast<QGroupBox *>(w)) return g->title();
    return QString();
}

int SetText(Ctrl *c, const QString &t) {
    QSignalBlocker block(c->w);
    QWidget *w = c->w;
    if (auto *le = qobject_cast<QLineEdit *>(w)) {
        // Qt lays out and repaints a line edit on every setText, even an
        // unchanged one; live figures are set on every frame, most of them
        // unchanged. An operator's edit still in progress is replaced.
        if (le->text() != t || le->isModified()) le->setText(t);
    } else if (auto *pe = qobject_cast<QPlainTextEdit *>(w)) pe->setPlainText(t);
    else if (auto *te = qobject_cast<QTextEdit *>(w)) te->setPlainText(t);
    else if (auto *l = qobject_cast<QLabel *>(w)) {
        l->setText(t);
        if (l->property("rtCreated").toBool()) l->adjustSize();
    } else return RT_UIE_BAD_TYPE;
    return 0;
}

}   // namespace rtui

using namespace rtui;

void rt_SetEventHook(std::function<void(int panel, int control, int event)> hook) {
    g_eventHook = std::move(hook);
}

void rt_PumpCounts(long *passes, long *returns) {
    if (passes) *passes = g_pumpPasses;
    if (returns) *returns = g_pumpReturns;
}

// ---- start and event loop -----------------------------------------------------------
// Without a display the platform plugin would abort the process; callers
// report it instead. Platforms that need none (offscreen, vnc, ...) pass.
int rt_HaveDisplay(void) {
    const char *plat = std::getenv("QT_QPA_PLATFORM");
    const char *disp = std::getenv("DISPLAY"), *way = std::getenv("WAYLAND_DISPLAY");
    const bool x11 = disp && *disp, wayland = way && *way;
    if (!plat || !*plat) return x11 || wayland;
    if (std::strchr(plat, ';')) return 1;   // a list: Qt falls back by itself
    if (std::strncmp(plat, "xcb", 3) == 0) return x11;
    if (std::strncmp(plat, "wayland", 7) == 0) return wayland;
    return 1;
}

// The palette of a dark desktop, for RIDAR_PALETTE=dark: Fusion follows no
// desktop colour scheme here.
static QPalette DarkPalette(void) {
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230), dim(130, 130, 130);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(80, 160, 255));
    p.setColor(QPalette::Highlight, QColor(60, 120, 200));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, dim);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim);
    return p;
}

int InitCVIRTE(int argc, char **argv) {
    if (qApp) return 1;
    if (!rt_HaveDisplay()) return 0;
    static int s_argc = 1;
    static char s_arg0[] = "kvex-ridar";
    static char *s_argv[] = {s_arg0, nullptr};
    static std::vector<char *> keep;
    if (argc > 0 && argv && argv[0]) {
        keep.assign(argv, argv + argc);
        keep.push_back(nullptr);
        s_argc = argc;
        new QApplication(s_argc, keep.data());
    } else {
        new QApplication(s_argc, s_argv);
    }
    if (!qApp) return 0;
    // Qt took the whole locale from the environment. Files, the wire and
    // whatever the program parses must not change with the desktop's
    // language (a decimal comma in the recorder file), so numbers in the C
    // library stay C; the panels format through QLocale and still follow it.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    if (QStyle *st = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(st);
    const char *palette = std::getenv("RIDAR_PALETTE");
    if (palette && std::strcmp(palette, "dark") == 0) QApplication::setPalette(DarkPalette());
    g_wake = new QTimer(qApp);
    g_wake->setSingleShot(true);
    g_wake->setTimerType(Qt::PreciseTimer);
    qApp->installEventFilter(new PumpWatch());
    return 1;
}

void RegisterCallbacks(const RtCallbackEntry *table, int count) {
    if (!table) return;
    for (int i = 0; i < count; ++i)
        if (table[i].name) g_callbacks[table[i].name] = table[i].fn;
}

int RunUserInterface(void) {
    if (!qApp) return -1;
    if (g_quitPending) {
        // quit asked for before the loop started (e.g. during a start-up wait)
        g_quitPending = false;
        return g_quitCode;
    }
    QEventLoop loop;
    g_loops.push_back(&loop);
    int rc = loop.exec();
    g_loops.pop_back();
    g_quitPending = false;
    return rc;
}

int QuitUserInterface(int code) {
    if (!g_loops.empty()) {
        g_loops.back()->exit(code);
    } else {
        g_quitPending = true;
        g_quitCode = code;
    }
    return 0;
}

bool rtui::IdleInEventLoop() {
    return !g_loops.empty() && g_pumpDepth == 0 && g_callbackDepth == 0;
}

int rt_BusyPump(void) {
#ifdef RIDAR_BUSY_PUMP
    return 1;
#else
    return 0;
#endif
}

int ProcessSystemEvents(void) {
    if (!qApp) return 0;
    QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance();
    if (!d) return 0;
    struct PumpDepth {
        PumpDepth() { ++g_pumpDepth; }
        ~PumpDepth() { --g_pumpDepth; }
    } depth;
#ifndef RIDAR_BUSY_PUMP
    // Runs what is pending; with nothing pending it sleeps until the next
    // event, but never long. One pass: a separate look without waiting
    // first would cost a poll of every source per call. 8 ms is less than a
    // screen frame and far inside a time-out's allowance, yet few wake-ups.
    //
    // While the program waits for a receive callback, a pass that only moved
    // the bytes of an incomplete frame in is not worth a return: the pump
    // goes on sleeping until the callback ran, any other event came, or
    // kAwaitMs passed. At line speed a reply then costs one return instead of
    // one per chunk, and a time-out is still seen within kAwaitMs.
    //
    // Once the frame has begun, the rest of it is waited for on the line
    // alone, which hands it over itself: one pass a frame instead of one per
    // chunk. Other events wait meanwhile, at most for the rest of the
    // frame's line time or kAwaitMs.
    constexpr int kIdleMs = 8, kAwaitMs = 25;
    const QDeadlineTimer bound(kAwaitMs, Qt::PreciseTimer);
    // awaiting a frame, the first pass may sleep as long as the whole wait
    int ms = rtui::SerialAwaitingNotify() ? kAwaitMs : kIdleMs;
    for (;;) {
        g_pumpNoted = false;
        g_wake->start(ms);
        d->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        g_wake->stop();
        ++g_pumpPasses;
        if (g_pumpNoted || !rtui::SerialAwaitingNotify()) break;
        ms = static_cast<int>(bound.remainingTime());
        if (ms <= 0) break;
        if (rtui::SerialFrameUnderWay()) {
            rtui::SerialAwaitLine(bound.remainingTimeNSecs());
            if (g_pumpNoted) break;   // the frame was handed over
            ms = 0;                   // whatever the wait brought, or events that came meanwhile
        }
    }
    ++g_pumpReturns;
#else
    d->processEvents(QEventLoop::AllEvents);
#endif
    return 0;
}

// ---- panels -----------------------------------------------------------------------------
// A panel's controls go into a scroll area that fills the window: on a
// screen smaller than the panel (1366x768 less a task bar, or a scale factor
// of 2) the rest is scrolled to, not cut off. Without frame, focus or fill
// of its own, the area leaves the panel's look on a larger screen as it was.
static QWidget *IntoScrollArea(QWidget *pw) {
    QLayout *lay = pw->layout();
    if (!lay) return pw;
    const auto kids = pw->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    auto *area = new QScrollArea(pw);
    area->setObjectName(pw->objectName() + QLatin1String("_scroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidgetResizable(true);
    auto *content = new QWidget;
    content->setObjectName(pw->objectName() + QLatin1String("_content"));
    // inside the window first, so the Tab order stays as the form made it
    area->setWidget(content);
    // takes the layout and the controls in it from the panel
    content->setLayout(lay);
    for (QWidget *ch : kids) {
        if (ch->isWindow()) continue;
        if (ch->parentWidget() != content) {   // outside the layout: the logo strip
            const QRect geo = ch->geometry();
            const bool hidden = ch->isHidden();
            ch->setParent(content);
            ch->setGeometry(geo);
            if (!hidden) ch->show();
        }
        // back into the form's order: the order a reader meets them, and
        // the stacking
        ch->raise();
    }
    auto *outer = new QVBoxLayout(pw);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(area);
    area->setProperty("rtPanelScroll", true);
    // Tab scrolls to the field by itself; an Alt+letter or the program's
    // choice of field must too
    static bool followFocus = false;
    if (!followFocus) {
        followFocus = true;
        QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget *, QWidget *now) {
            for (QWidget *up = now; up; up = up->parentWidget())
                if (auto *a = qobject_cast<QScrollArea *>(up);
                    a && a->property("rtPanelScroll").toBool()) {
                    a->ensureWidgetVisible(now);
                    return;
                }
        });
    }
    return content;
}

// A panel is no smaller than its controls need, as the panel's own layout
// kept it, unless the screen's free area is smaller. At the size its form
// gives it, it is fitted into that area, frame included, and the scroll area
// shows the rest; a size the program or the operator chose is kept.
static void FitToScreen(QWidget *w, QWidget *content) {
    QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect free = screen->availableGeometry();
    QSize frame = w->frameGeometry().size() - w->size();
    // before the window manager framed it: room for a title bar
    if (frame.isEmpty() && QGuiApplication::platformName() == QLatin1String("xcb"))
        frame = QSize(0, 32);
    const QSize room = (free.size() - frame).expandedTo(QSize(50, 50));
    if (content != w) w->setMinimumSize(content->minimumSizeHint().boundedTo(room));
    if (w->size() != w->property("rtFormSize").toSize()) return;
    const QSize want = w->size().boundedTo(room);
    if (want != w->size()) w->resize(want);
    w->setProperty("rtFormSize", w->size());
    QRect f(w->pos(), w->size() + frame);
    if (!free.contains(f))
        w->move(std::max(free.left(), std::min(f.left(), free.right() + 1 - f.width())),
                std::max(free.top(), std::min(f.top(), free.bottom() + 1 - f.height())));
}

static void RaiseWindow(QWidget *w) {
    // the headless platform cannot stack windows and says so on every call
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) w->raise();
}

int LoadPanel(int parent, const char *file, int id) {
    (void)parent;
    if (!qApp || !file) return RT_UIE_FILE;
    QFile f(QString::fromLocal8Bit(file));
    if (!f.open(QIODevice::ReadOnly)) return RT_UIE_FILE;
    // before any widget exists, so none is described the default way first
    InstallAccessibleRoles();
    Loader loader;
    QWidget *root = loader.load(&f, nullptr);
    if (!root) return RT_UIE_FILE;
    QWidget *pw = nullptr;
    for (QWidget *ch : root->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        bool ok = false;
        int pid = ch->property("panelId").toInt(&ok);
        if (ok && pid == id) {
            pw = ch;
            break;
        }
    }
    if (!pw) {
        delete root;
        return RT_UIE_NO_PANEL;
    }
    QString title = pw->windowTitle();
    QRect geo = pw->geometry();
    pw->setParent(nullptr);
    delete root;
    pw->setWindowTitle(title);
    pw->resize(geo.size().expandedTo(QSize(50, 50)));
    pw->setProperty("rtFormSize", pw->size());
    pw->hide();

    auto p = std::make_unique<Panel>();
    p->handle = g_nextPanel++;
    p->w = pw;
    p->content = IntoScrollArea(pw);
    p->name = pw->objectName();
    p->cb = LookupCallback(p->name);
    pw->installEventFilter(new PanelFilter(p->handle, pw));
    for (QWidget *w : pw->findChildren<QWidget *>()) {
        bool ok = false;
        int cid = w->property("ctrlId").toInt(&ok);
        if (!ok || cid <= 0 || p->ctrls.count(cid)) continue;
        auto c = std::make_unique<Ctrl>();
        c->id = cid;
        c->w = w;
        c->kind = Classify(w, &c->numType);
        c->cb = LookupCallback(w->objectName());
        c->dimmed = !w->isEnabled();
        c->visible = !w->isHidden();
        p->ctrls[cid] = std::move(c);
    }
    int h = p->handle;
    Panel *raw = p.get();
    g_panels[h] = std::move(p);
    for (auto &kv : raw->ctrls) Bind(h, kv.second.get());
    MakeAccessible(raw);
    return h;
}

int DisplayPanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    QWidget *content = p->content ? p->content.data() : p->w.data();
    FitToScreen(p->w, content);
    p->w->show();
    // once shown, the frame may be known
    FitToScreen(p->w, content);
    RaiseWindow(p->w);
    return 0;
}

int HidePanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    p->w->hide();
    return 0;
}

int DiscardPanel(int panel) {
    auto it = g_panels.find(panel);
    if (it == g_panels.end()) return RT_UIE_BAD_PANEL;
    std::unique_ptr<Panel> p = std::move(it->second);
    g_panels.erase(it);
    if (p->w) {
        p->w->hide();
        // the discard may come from one of the panel's own callbacks
        p->w->deleteLater();
    }
    return 0;
}

int SetActivePanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    RaiseWindow(p->w);
    p->w->activateWindow();
    return 0;
}

int SetActiveCtrl(int panel, int control) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
    c->w->setFocus(Qt::OtherFocusReason);
    return 0;
}

int rtui::Bad(int panel) { return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL; }

void rt_SetRingOpenHook(int panel, int control, void (*hook)(void)) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return;
    if (auto *rc = dynamic_cast<RtComboBox *>(c->w.data())) rc->onOpen = hook;
}

int rt_SetRingChoiceOnly(int panel, int control, int on) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    auto *rc = dynamic_cast<RtComboBox *>(c->w.data());
    if (!rc) return RT_UIE_BAD_TYPE;
    rc->choiceOnly = on != 0;
    return 0;
}

int rt_IsShown(int panel) {
    Panel *p = FindPanel(panel);
    return p && p->w->isVisible() ? 1 : 0;
}

int rt_Find(int panel, const char *name) {
    Panel *p = FindPanel(panel);
    if (!p || !name) return -1;
    QString n = QString::fromLocal8Bit(name);
    for (auto &kv : p->ctrls)
        if (kv.second->w && kv.second->w->objectName() == n) return kv.first;
    return -1;
}

int rt_SavePanelImage(int panel, int control, const char *file) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    if (!file) return RT_UIE_BAD_VALUE;
    QWidget *w = p->w;
    if (control > 0) {
        Ctrl *c = FindCtrl(panel, control);
        if (!c) return RT_UIE_BAD_CTRL;
        w = c->w;
    }
    if (auto *plot = qobject_cast<QCustomPlot *>(w)) plot->replot(QCustomPlot::rpImmediateRefresh);
    QPixmap pm = w->grab();
    return pm.save(QString::fromLocal8Bit(file), "PNG") ? 0 : RT_UIE_FILE;
}

#if defined(__SANITIZE_ADDRESS__)
// Font lookup keeps caches for the life of the process; not ours to free.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
