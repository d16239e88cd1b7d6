#include "tests/support/drive.h"
#include "rt/rt_testing.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>

#include "rt/rt.h"
#include "tests/support/peer.h"

namespace drive {

QWidget *Widget(int panel, const char *name) {
    if (!name || !*name) return rt_Widget(panel, 0);
    const int id = rt_Find(panel, name);
    return id > 0 ? rt_Widget(panel, id) : nullptr;
}

static QWidget *Reachable(int panel, const char *name) {
    QWidget *w = Widget(panel, name);
    QWidget *win = rt_Widget(panel, 0);
    if (!w || !win) return nullptr;
    if (w != win && (!w->isEnabled() || !w->isVisibleTo(win))) return nullptr;
    return w;
}

bool Activate(int panel) {
    QWidget *win = rt_Widget(panel, 0);
    if (!win) return false;
    if (!win->isVisible()) win->show();
    if (QApplication::activeWindow() != win) {
        win->activateWindow();
        if (!QTest::qWaitForWindowActive(win, 1000)) return false;
    }
    return true;
}

bool Focus(int panel, const char *name) {
    QWidget *w = Reachable(panel, name);
    if (!w || !Activate(panel)) return false;
    if (!w->hasFocus()) {
        w->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
    }
    return w->hasFocus();
}

static bool Press(QWidget *target, const char *keys) {
    QKeySequence seq(QString::fromLatin1(keys ? keys : ""));
    if (seq.isEmpty()) return false;
    // an open list (a popup) takes every key, wherever the focus was
    if (QWidget *pop = QApplication::activePopupWidget())
        target = pop->focusWidget() ? pop->focusWidget() : pop;
    for (int i = 0; i < seq.count(); ++i) {
        const QKeyCombination kc = seq[i];
        const Qt::KeyboardModifiers mods = kc.keyboardModifiers();
        // the text a printable key types (QTest's own table knows few keys)
        QString text;
        const int k = kc.key();
        if (k >= 0x20 && k < 0x7F &&
            !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            const QChar ch(k);
            text = (mods & Qt::ShiftModifier) ? QString(ch) : QString(ch.toLower());
        }
        // QTest offers the key to the shortcut map first, as the window
        // system's key press would
        QTest::sendKeyEvent(QTest::Click, target, kc.key(), text, mods);
    }
    return true;
}

bool Type(int panel, const char *name, const std::string &text) {
    if (!Focus(panel, name)) return false;
    QWidget *w = Widget(panel, name);
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);   // select all
    QTest::keyClicks(w, QString::fromStdString(text));
    return true;
}

bool Key(int panel, const char *name, const char *keys) {
    if (!QApplication::activePopupWidget() && !Focus(panel, name)) return false;
    return Press(Widget(panel, name), keys);
}

bool PanelKey(int panel, const char *keys) {
    if (!Activate(panel)) return false;
    QWidget *win = rt_Widget(panel, 0);
    QWidget *target = win->focusWidget() ? win->focusWidget() : win;
    return Press(target, keys);
}

bool Click(int panel, const char *name) {
    QWidget *w = Reachable(panel, name);
    if (!w || !Activate(panel)) return false;
    QPoint at = w->rect().center();
    // a radio button or check box reacts on its indicator and label only
    if (qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w))
        at = QPoint(std::min(7, w->width() / 2), w->height() / 2);
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

bool Wheel(int panel, const char *name, int notches) {
    QWidget *w = Reachable(panel, name);
    if (!w) return false;
    const QPointF at = QPointF(w->rect().center());
    QWheelEvent ev(at, QPointF(w->mapToGlobal(at.toPoint())), QPoint(), QPoint(0, 120 * notches),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &ev);
    return true;
}

static QComboBox *Ring(int panel, const char *name) {
    return qobject_cast<QComboBox *>(Widget(panel, name));
}

bool ListOpen(int panel, const char *name) {
    QComboBox *cb = Ring(panel, name);
    return cb && cb->view() && cb->view()->isVisible();
}

bool Choose(int panel, const char *name, const std::string &label) {
    QComboBox *cb = Ring(panel, name);
    if (!cb || !Click(panel, name)) return false;
    if (!ListOpen(panel, name)) return false;
    // the list may have been filled anew as it opened
    QAbstractItemView *view = cb->view();
    const QString want = QString::fromStdString(label);
    int row = -1;
    for (int i = 0; i < cb->count(); ++i)
        if (cb->itemText(i).startsWith(want)) {
            row = i;
            break;
        }
    if (row < 0) {
        QTest::keyClick(view, Qt::Key_Escape);
        return false;
    }
    int at = view->currentIndex().isValid() ? view->currentIndex().row() : cb->currentIndex();
    for (; at < row; ++at) QTest::keyClick(view, Qt::Key_Down);
    for (; at > row; --at) QTest::keyClick(view, Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_Return);
    return true;
}

std::string Shown(int panel, const char *name) {
    QWidget *w = Widget(panel, name);
    if (!w) return std::string();
    if (auto *sb = qobject_cast<QAbstractSpinBox *>(w)) return sb->text().toStdString();
    if (auto *cb = qobject_cast<QComboBox *>(w)) return cb->currentText().toStdString();
    if (auto *le = qobject_cast<QLineEdit *>(w)) return le->text().toStdString();
    if (auto *l = qobject_cast<QLabel *>(w)) return l->text().toStdString();
    if (auto *b = qobject_cast<QAbstractButton *>(w)) return b->text().toStdString();
    return std::string();
}

bool HasFocus(int panel, const char *name) {
    QWidget *w = Widget(panel, name);
    return w && w->hasFocus();
}

void SendKey(QWidget *w, int key, const QString &text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

void SendClick(QWidget *w) {
    QPointF c(w->width() / 2.0, w->height() / 2.0);
    QPointF g = w->mapToGlobal(c);
    QMouseEvent press(QEvent::MouseButtonPress, c, g, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, c, g, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

std::string ReadWire(PtyPeer &peer, size_t n, double seconds) {
    std::string got;
    const double t0 = Timer();
    while (got.size() < n && Timer() - t0 < seconds) {
        ProcessSystemEvents();
        got += peer.Read(n - got.size(), 0.01);
    }
    return got;
}

}   // namespace drive
