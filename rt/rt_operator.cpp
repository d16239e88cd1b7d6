// Operator actions (clicks, typed values, a closed panel) raising the
// events a real operator raises: the shortcuts use them, and the tests
// act and read back the controls through them.
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
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QDeadlineTimer>
#include <QTimer>
#include <QUiLoader>
#include <QWheelEvent>

#include <qcustomplot.h>

#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace rtui;

// A real operator cannot reach a dimmed or hidden control.
static Ctrl *Reachable(int panel, int control) {
    Ctrl *c = FindCtrl(panel, control);
    Panel *p = FindPanel(panel);
    if (!c || !p) return nullptr;
    if (!c->w->isEnabled() || !c->w->isVisibleTo(p->w)) return nullptr;
    return c;
}

void rt_UserClick(int panel, int control) {
    Ctrl *c = Reachable(panel, control);
    if (!c) return;
    // A mouse click takes the focus first, which finishes the edit in the
    // field that had it; the button must not act on the old value.
    if (c->w->focusPolicy() & Qt::ClickFocus) c->w->setFocus(Qt::MouseFocusReason);
    c = Reachable(panel, control);   // the edit's callback may have dimmed or removed it
    if (!c) return;
    if (auto *b = qobject_cast<QAbstractButton *>(c->w)) b->click();
}

void rt_UserSetVal(int panel, int control, double value) {
    Ctrl *c = Reachable(panel, control);
    if (!c) return;
    switch (c->kind) {
    case K_INT_NUM:
    case K_DBL_NUM: {
        // what the widget accepts, as if typed
        QSignalBlocker block(c->w);
        if (auto *s = qobject_cast<QSpinBox *>(c->w)) s->setValue(ClampInt(value));
        else if (auto *d = qobject_cast<QDoubleSpinBox *>(c->w))
            d->setValue(std::isfinite(value) ? value : 0.0);
        c->haveExact = false;
        c->committed = c->seen = NumValue(c);
        break;
    }
    case K_RING:
    case K_RADIO:
    case K_TOGGLE:
    case K_CHECK:
    case K_SWITCH:
        if (SetNum(c, value) != 0) return;
        break;
    default: return;
    }
    Raise(panel, control, EVENT_VAL_CHANGED);
    Raise(panel, control, EVENT_COMMIT);
}

void rt_UserSetText(int panel, int control, const char *text) {
    Ctrl *c = Reachable(panel, control);
    if (!c || SetText(c, FromC(text)) != 0) return;
    Raise(panel, control, EVENT_VAL_CHANGED);
    Raise(panel, control, EVENT_COMMIT);
}

void rt_UserClosePanel(int panel) {
    Panel *p = FindPanel(panel);
    if (!p) return;
    QCloseEvent e;
    QApplication::sendEvent(p->w, &e);
}

void rt_After(double seconds, std::function<void()> fn) {
    if (!qApp || !fn) return;
    int ms = std::isfinite(seconds) && seconds > 0
                 ? static_cast<int>(std::min(seconds * 1000.0 + 0.5, 1e9))
                 : 0;
    QTimer::singleShot(ms, Qt::PreciseTimer, qApp, std::move(fn));
}

std::string rt_GetCtrlText(int panel, int control) {
    Ctrl *c = FindCtrl(panel, control);
    return c ? TextOf(c).toStdString() : std::string();
}

void rt_UserOpenRing(int panel, int control) {
    Ctrl *c = Reachable(panel, control);
    if (!c) return;
    auto *cb = qobject_cast<QComboBox *>(c->w);
    if (!cb) return;
    cb->showPopup();
    cb->hidePopup();
}

std::vector<std::string> rt_GetListItems(int panel, int control) {
    std::vector<std::string> out;
    int rc;
    QComboBox *cb = Ring(panel, control, &rc);
    if (!cb) return out;
    for (int i = 0; i < cb->count(); ++i) out.push_back(cb->itemText(i).toStdString());
    return out;
}
