// Periodic timers, keyboard shortcuts and context menus of controls, with
// the hooks tests use to press keys and pick menu items.
#include "rt/rt_ui_internal.h"
#include "rt/rt_testing.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPalette>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>

#include <cmath>
#include <map>
#include <utility>

// What QTest uses too: offers a key press to the shortcut map of the
// application as if it came from the window system.
bool qt_sendShortcutOverrideEvent(QObject *o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                  const QString &text, bool autorep, ushort count);

using namespace rtui;

namespace {

std::map<int, QTimer *> g_timers;
int g_nextTimer = 1;

struct MenuItem {
    QString label;
    std::function<void()> fn;
};
std::map<std::pair<int, int>, std::vector<MenuItem>> g_menus;

QWidget *WidgetOf(int panel, int control) {
    Panel *p = FindPanel(panel);
    if (!p) return nullptr;
    if (control == 0) return p->w;
    Ctrl *c = FindCtrl(panel, control);
    return c ? c->w.data() : nullptr;
}

// The operator reaches a control's menu only where he can see it.
bool Reachable(int panel, int control) {
    Panel *p = FindPanel(panel);
    Ctrl *c = FindCtrl(panel, control);
    return p && c && c->w->isEnabled() && c->w->isVisibleTo(p->w);
}

void ShowMenu(int panel, int control, const QPoint &pos) {
    auto it = g_menus.find({panel, control});
    QWidget *w = WidgetOf(panel, control);
    if (it == g_menus.end() || !w) return;
    QMenu menu(w);
    std::vector<std::pair<QAction *, std::function<void()>>> acts;
    for (const MenuItem &m : it->second) acts.push_back({menu.addAction(m.label), m.fn});
    QAction *chosen = menu.exec(w->mapToGlobal(pos));
    // the choice runs once the menu is gone, never inside its event loop
    for (auto &a : acts)
        if (a.first == chosen && a.second) {
            a.second();
            break;
        }
}

}   // namespace

int rt_NewTimer(double seconds, std::function<void()> fn) {
    if (!qApp) return RT_UIE_BAD_PANEL;
    if (!fn || !std::isfinite(seconds) || seconds <= 0.0 || seconds > 1e6) return RT_UIE_BAD_VALUE;
    auto *t = new QTimer(qApp);
    t->setInterval(static_cast<int>(seconds * 1000.0 + 0.5));
    QObject::connect(t, &QTimer::timeout, t, std::move(fn));
    t->start();
    const int id = g_nextTimer++;
    g_timers[id] = t;
    return id;
}

int rt_DiscardTimer(int timerId) {
    auto it = g_timers.find(timerId);
    if (it == g_timers.end()) return RT_UIE_BAD_VALUE;
    it->second->stop();
    it->second->deleteLater();
    g_timers.erase(it);
    return 0;
}

int rt_SetShortcut(int panel, const char *keys, std::function<void()> fn) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    QKeySequence seq(FromC(keys));
    if (seq.isEmpty() || !fn) return RT_UIE_BAD_VALUE;
    // a second shortcut with the same keys would make both ambiguous
    for (QShortcut *old : p->w->findChildren<QShortcut *>(QString(), Qt::FindDirectChildrenOnly))
        if (old->key() == seq) delete old;
    auto *s = new QShortcut(seq, p->w);
    s->setContext(Qt::WindowShortcut);
    s->setAutoRepeat(false);
    QObject::connect(s, &QShortcut::activated, s, std::move(fn));
    return 0;
}

int rt_SetCloseKey(int panel) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    QPointer<QWidget> w = p->w;
    return rt_SetShortcut(panel, "Esc", [w] {
        if (!w) return;
        QCloseEvent e;
        QApplication::sendEvent(w, &e);
    });
}

int rt_AddMenuItem(int panel, int control, const char *label, std::function<void()> fn) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return RT_UIE_BAD_CTRL;
    if (!label || !*label || !fn) return RT_UIE_BAD_VALUE;
    std::vector<MenuItem> &items = g_menus[{panel, control}];
    if (items.empty()) {
        c->w->setContextMenuPolicy(Qt::CustomContextMenu);
        // Tab reaches it, so its menu opens from the keyboard too; a click
        // leaves the focus where the operator was typing
        if (c->w->focusPolicy() == Qt::NoFocus) c->w->setFocusPolicy(Qt::TabFocus);
        QObject::connect(c->w, &QWidget::customContextMenuRequested, c->w,
                         [panel, control](const QPoint &pos) { ShowMenu(panel, control, pos); });
    }
    items.push_back({FromC(label), std::move(fn)});
    return 0;
}

void rt_UserKey(int panel, const char *keys) {
    Panel *p = FindPanel(panel);
    if (!p || !qApp) return;
    QKeySequence seq(FromC(keys));
    if (seq.isEmpty()) return;
    // keys go to the active window; make the panel that window first
    if (QApplication::activeWindow() != p->w) {
        p->w->activateWindow();
        QElapsedTimer t;
        t.start();
        while (QApplication::activeWindow() != p->w && t.elapsed() < 500)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const QKeyCombination kc = seq[0];
    QWidget *target = p->w->focusWidget() ? p->w->focusWidget() : p->w.data();
    if (qt_sendShortcutOverrideEvent(target, 0, kc.key(), kc.keyboardModifiers(), QString(), false,
                                     1))
        return;
    QKeyEvent press(QEvent::KeyPress, kc.key(), kc.keyboardModifiers());
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, kc.key(), kc.keyboardModifiers());
    QApplication::sendEvent(target, &release);
}

int rt_UserMenuItem(int panel, int control, const char *label) {
    if (!Reachable(panel, control)) return RT_UIE_BAD_CTRL;
    auto it = g_menus.find({panel, control});
    if (it == g_menus.end()) return RT_UIE_BAD_VALUE;
    const QString want = FromC(label);
    for (const MenuItem &m : it->second) {
        if (m.label != want) continue;
        std::function<void()> fn = m.fn;   // the item may add items
        fn();
        return 0;
    }
    return RT_UIE_BAD_VALUE;
}

std::vector<std::string> rt_GetMenuItems(int panel, int control) {
    std::vector<std::string> out;
    if (!FindCtrl(panel, control)) return out;
    auto it = g_menus.find({panel, control});
    if (it == g_menus.end()) return out;
    for (const MenuItem &m : it->second) out.push_back(m.label.toStdString());
    return out;
}

QWidget *rt_Widget(int panel, int control) { return WidgetOf(panel, control); }

std::string rt_GetToolTip(int panel, int control) {
    QWidget *w = WidgetOf(panel, control);
    return w ? w->toolTip().toStdString() : std::string();
}

int rt_SetToolTip(int panel, int control, const char *text) {
    QWidget *w = WidgetOf(panel, control);
    if (!w) return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
    const QString t = QString::fromUtf8(text ? text : "");
    if (w->toolTip() == t) return 0;
    w->setToolTip(t);
    // a screen reader reads what the tooltip shows
    w->setAccessibleDescription(t);
    return 0;
}

int rt_GetCtrlSize(int panel, int control, int *width, int *height) {
    QWidget *w = WidgetOf(panel, control);
    if (!w) return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
    if (width) *width = w->width();
    if (height) *height = w->height();
    return 0;
}

int rt_ReadImageSize(const char *file, int *width, int *height) {
    if (!file) return RT_UIE_BAD_VALUE;
    QImageReader reader(QString::fromLocal8Bit(file));
    QImage img;
    if (!reader.read(&img) || img.isNull()) return RT_UIE_FILE;
    if (width) *width = img.width();
    if (height) *height = img.height();
    return 0;
}

// ---- marks ------------------------------------------------------------------

static QColor Tint(const QColor &c) {
    // amber over the field's own colour: light fields turn pale amber, dark
    // ones dark amber, so the text colour of either palette stays readable
    const QColor amber(255, 170, 0);
    const double a = 0.45;
    return QColor(static_cast<int>(c.red() * (1 - a) + amber.red() * a),
                  static_cast<int>(c.green() * (1 - a) + amber.green() * a),
                  static_cast<int>(c.blue() * (1 - a) + amber.blue() * a));
}

int rt_SetCtrlMark(int panel, int control, int on) {
    QWidget *w = WidgetOf(panel, control);
    if (!w || control <= 0) return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
    const bool was = w->property("rtMark").toBool();
    if (was == (on != 0)) return 0;
    QPalette pal = w->palette();
    if (on) {
        w->setProperty("rtMarkPalette", QVariant::fromValue(pal));
        for (auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            pal.setColor(g, QPalette::Base, Tint(pal.color(g, QPalette::Base)));
            pal.setColor(g, QPalette::Button, Tint(pal.color(g, QPalette::Button)));
        }
    } else {
        pal = w->property("rtMarkPalette").value<QPalette>();
    }
    w->setPalette(pal);
    w->setProperty("rtMark", on != 0);
    return 0;
}

int rt_GetCtrlMark(int panel, int control) {
    QWidget *w = WidgetOf(panel, control);
    if (!w || control <= 0) return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
    return w->property("rtMark").toBool() ? 1 : 0;
}

// ---- tables -----------------------------------------------------------------

static QTableWidget *TableOf(int panel, int control, int *err) {
    QWidget *w = WidgetOf(panel, control);
    *err = !w ? (FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL) : RT_UIE_BAD_TYPE;
    return qobject_cast<QTableWidget *>(w);
}

static QTableWidgetItem *CellOf(int panel, int control, int row, int column, int *err) {
    QTableWidget *t = TableOf(panel, control, err);
    if (!t) return nullptr;
    *err = RT_UIE_BAD_VALUE;
    if (row < 0 || column < 0 || row >= t->rowCount() || column >= t->columnCount()) return nullptr;
    QTableWidgetItem *it = t->item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        it->setFlags(Qt::ItemIsEnabled);
        t->setItem(row, column, it);
    }
    return it;
}

int rt_SetTableSize(int panel, int control, int rows, int columns) {
    int err = 0;
    QTableWidget *t = TableOf(panel, control, &err);
    if (!t) return err;
    if (rows < 0 || columns < 0 || rows > 100000 || columns > 1000) return RT_UIE_BAD_VALUE;
    t->setRowCount(rows);
    t->setColumnCount(columns);
    t->verticalHeader()->setVisible(false);
    return 0;
}

int rt_SetTableHeader(int panel, int control, int column, const char *text) {
    int err = 0;
    QTableWidget *t = TableOf(panel, control, &err);
    if (!t) return err;
    if (column < 0 || column >= t->columnCount()) return RT_UIE_BAD_VALUE;
    t->setHorizontalHeaderItem(column, new QTableWidgetItem(QString::fromUtf8(text ? text : "")));
    t->horizontalHeader()->setSectionResizeMode(column, column + 1 == t->columnCount()
                                                            ? QHeaderView::Stretch
                                                            : QHeaderView::ResizeToContents);
    return 0;
}

int rt_SetTableCell(int panel, int control, int row, int column, const char *text) {
    int err = 0;
    QTableWidgetItem *it = CellOf(panel, control, row, column, &err);
    if (!it) return err;
    const QString t = QString::fromUtf8(text ? text : "");
    if (it->text() != t) it->setText(t);
    return 0;
}

int rt_SetTableCellMark(int panel, int control, int row, int column, int on) {
    int err = 0;
    QTableWidgetItem *it = CellOf(panel, control, row, column, &err);
    if (!it) return err;
    if (it->data(Qt::UserRole).toBool() == (on != 0)) return 0;
    it->setData(Qt::UserRole, on != 0);
    QFont f = it->font();
    f.setBold(on != 0);
    it->setFont(f);
    if (on) it->setBackground(Tint(it->tableWidget()->palette().color(QPalette::Base)));
    else it->setData(Qt::BackgroundRole, QVariant());
    return 0;
}

int rt_SetTableRowHidden(int panel, int control, int row, int hidden) {
    int err = 0;
    QTableWidget *t = TableOf(panel, control, &err);
    if (!t) return err;
    if (row < 0 || row >= t->rowCount()) return RT_UIE_BAD_VALUE;
    t->setRowHidden(row, hidden != 0);
    return 0;
}

std::string rt_GetTableCell(int panel, int control, int row, int column) {
    int err = 0;
    QTableWidget *t = TableOf(panel, control, &err);
    if (!t || row < 0 || column < 0 || row >= t->rowCount() || column >= t->columnCount())
        return std::string();
    const QTableWidgetItem *it = t->item(row, column);
    return it ? it->text().toStdString() : std::string();
}

int rt_GetTableCellMark(int panel, int control, int row, int column) {
    int err = 0;
    QTableWidget *t = TableOf(panel, control, &err);
    if (!t) return err;
    if (row < 0 || column < 0 || row >= t->rowCount() || column >= t->columnCount())
        return RT_UIE_BAD_VALUE;
    const QTableWidgetItem *it = t->item(row, column);
    return it && it->data(Qt::UserRole).toBool() ? 1 : 0;
}

int rt_GetTableRowHidden(int panel, int control, int row) {
    int err = 0;
    QTableWidget *t = TableOf(panel, control, &err);
    if (!t) return err;
    if (row < 0 || row >= t->rowCount()) return RT_UIE_BAD_VALUE;
    return t->isRowHidden(row) ? 1 : 0;
}

// ---- labels -------------------------------------------------------------------

std::string rt_GetCtrlLabel(int panel, int control) {
    QWidget *w = WidgetOf(panel, control);
    Panel *p = FindPanel(panel);
    if (!w || !p || control <= 0) return std::string();
    QString heading, box;
    const QLabel *l = LabelOf(p->w, w, &heading, &box);
    return (l ? StripMnemonic(l->text()) : heading.isEmpty() ? box : heading).toStdString();
}
