// What a screen reader and a keyboard find on a loaded panel: each control
// named by the label an operator reads it by, described by its tooltip, the
// label its buddy with an Alt+letter of its own, and the program's
// choice-of-one buttons said as radio buttons, its toggles as toggles.
#include "rt/rt_ui_internal.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QBoxLayout>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTextDocument>

#include <map>

namespace rtui {

QString StripMnemonic(const QString &s) {
    QString out;
    out.reserve(s.size());
    for (int i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('&') && i + 1 < s.size()) ++i;
        out += s[i];
    }
    return out;
}

static bool LayoutHolds(QLayout *lay, QWidget *w) {
    for (int i = 0; i < lay->count(); ++i) {
        QLayoutItem *it = lay->itemAt(i);
        if (it->widget() == w) return true;
        if (it->layout() && LayoutHolds(it->layout(), w)) return true;
    }
    return false;
}

static QString ButtonText(QWidget *w) {
    auto *b = qobject_cast<QAbstractButton *>(w);
    return b ? StripMnemonic(b->text()) : QString();
}

// A button names itself, except a switch, whose text is its state.
static bool NamesItself(QWidget *w) {
    return qobject_cast<QAbstractButton *>(w) &&
           w->property("ctrlKind").toString() != QLatin1String("switch");
}

// The label left of w's cell (or above it) in a grid somewhere inside lay;
// in a table-like grid the column's heading and the row's title instead.
static QLabel *GridLabel(QLayout *lay, QWidget *w, QString *heading) {
    if (auto *g = qobject_cast<QGridLayout *>(lay)) {
        for (int i = 0; i < g->count(); ++i) {
            QLayoutItem *it = g->itemAt(i);
            if (it->widget() != w && !(it->layout() && LayoutHolds(it->layout(), w))) continue;
            int row = 0, col = 0, rs = 0, cs = 0;
            g->getItemPosition(i, &row, &col, &rs, &cs);
            QLayoutItem *top = row > 0 && col > 0 ? g->itemAtPosition(0, col) : nullptr;
            QLayoutItem *first = col > 0 ? g->itemAtPosition(row, 0) : nullptr;
            auto *head = top ? qobject_cast<QLabel *>(top->widget()) : nullptr;
            QWidget *title = first ? first->widget() : nullptr;
            const QString rowText = qobject_cast<QLabel *>(title)
                                        ? StripMnemonic(static_cast<QLabel *>(title)->text())
                                        : ButtonText(title);
            if (head && !rowText.isEmpty()) {
                if (heading)
                    *heading = StripMnemonic(head->text()) + QStringLiteral(" (") + rowText +
                               QLatin1Char(')');
                return nullptr;
            }
            QLayoutItem *left = col > 0 ? g->itemAtPosition(row, col - 1) : nullptr;
            if (auto *l = left ? qobject_cast<QLabel *>(left->widget()) : nullptr) return l;
            // a label above its field
            QLayoutItem *above = row > 0 ? g->itemAtPosition(row - 1, col) : nullptr;
            return above ? qobject_cast<QLabel *>(above->widget()) : nullptr;
        }
    }
    for (int i = 0; i < lay->count(); ++i) {
        QLayoutItem *it = lay->itemAt(i);
        if (!it->layout()) continue;
        if (QLabel *l = GridLabel(it->layout(), w, heading)) return l;
        if (heading && !heading->isEmpty()) return nullptr;
    }
    return nullptr;
}

// The label just before w in a row or column of its own.
static QLabel *BoxLabel(QLayout *lay, QWidget *w) {
    if (qobject_cast<QBoxLayout *>(lay)) {
        for (int i = 1; i < lay->count(); ++i)
            if (lay->itemAt(i)->widget() == w)
                return qobject_cast<QLabel *>(lay->itemAt(i - 1)->widget());
    }
    for (int i = 0; i < lay->count(); ++i) {
        QLayoutItem *it = lay->itemAt(i);
        if (!it->layout()) continue;
        if (QLabel *l = BoxLabel(it->layout(), w)) return l;
    }
    return nullptr;
}

QLabel *LabelOf(QWidget *panel, QWidget *w, QString *heading, QString *boxTitle) {
    for (QLabel *l : panel->findChildren<QLabel *>())
        if (l->buddy() == w) return l;
    // branch: the child of `up` that w lies in
    QWidget *branch = w;
    for (QWidget *up = w->parentWidget(); up; branch = up, up = up->parentWidget()) {
        if (QLayout *lay = up->layout()) {
            QString head;
            if (QLabel *l = GridLabel(lay, branch, &head)) return l;
            if (!head.isEmpty()) {
                if (heading) *heading = head;
                return nullptr;
            }
            if (branch == w && !qobject_cast<QAbstractButton *>(w))
                if (QLabel *l = BoxLabel(lay, w)) return l;
        }
        if (auto *box = qobject_cast<QGroupBox *>(up)) {
            if (boxTitle && !box->title().isEmpty()) *boxTitle = StripMnemonic(box->title());
            if (!box->title().isEmpty()) return nullptr;
        }
        if (up == panel) break;
    }
    return nullptr;
}

// The title of the nearest titled group box around w.
static QString BoxTitle(QWidget *panel, QWidget *w) {
    for (QWidget *up = w->parentWidget(); up && up != panel; up = up->parentWidget())
        if (auto *box = qobject_cast<QGroupBox *>(up))
            if (!box->title().isEmpty()) return StripMnemonic(box->title());
    return QString();
}

static bool IsInput(QWidget *w) {
    return qobject_cast<QAbstractSpinBox *>(w) || qobject_cast<QComboBox *>(w) ||
           qobject_cast<QLineEdit *>(w) || qobject_cast<QPlainTextEdit *>(w) ||
           qobject_cast<QAbstractButton *>(w) || w->focusPolicy() != Qt::NoFocus;
}

static bool Editable(QWidget *w) {
    if (auto *s = qobject_cast<QAbstractSpinBox *>(w)) return !s->isReadOnly();
    if (auto *e = qobject_cast<QLineEdit *>(w)) return !e->isReadOnly();
    if (auto *e = qobject_cast<QPlainTextEdit *>(w)) return !e->isReadOnly();
    return w->focusPolicy() != Qt::NoFocus;
}

// Alt+letter for each label that names an input an operator types into:
// the first letter of one of its words, else any letter, not yet taken on
// the panel. The text shown stays the same apart from the underline.
static void GiveMnemonics(const std::vector<QLabel *> &labels) {
    QSet<QChar> taken;
    for (QLabel *l : labels) {
        const QString text = l->text();
        if (Qt::mightBeRichText(text) || text.contains(QLatin1Char('&'))) continue;
        int pick = -1;
        for (int pass = 0; pass < 2 && pick < 0; ++pass)
            for (int i = 0; i < text.size() && pick < 0; ++i) {
                const QChar ch = text[i];
                const bool wordStart = i == 0 || !text[i - 1].isLetterOrNumber();
                if (ch.unicode() < 128 && ch.isLetter() && (pass == 1 || wordStart) &&
                    !taken.contains(ch.toLower()))
                    pick = i;
            }
        if (pick < 0) continue;
        taken.insert(text[pick].toLower());
        QString marked = text;
        marked.insert(pick, QLatin1Char('&'));
        l->setText(marked);
    }
}

void MakeAccessible(Panel *p) {
    QWidget *panel = p->w;
    std::vector<QWidget *> inputs;
    std::vector<QLabel *> mnemonic;
    std::map<QWidget *, QString> boxOf;
    // in the form's order, which is the order a reader meets them: the
    // first field of a label is its buddy, the first label keeps its initial
    for (QWidget *w : panel->findChildren<QWidget *>()) {
        bool ok = false;
        const int id = w->property("ctrlId").toInt(&ok);
        if (!ok || !p->ctrls.count(id) || p->ctrls[id]->w != w || !IsInput(w)) continue;
        if (w->accessibleDescription().isEmpty() && !w->toolTip().isEmpty())
            w->setAccessibleDescription(w->toolTip());
        QString heading, box;
        QLabel *label = NamesItself(w) ? nullptr : LabelOf(panel, w, &heading, &box);
        if (label && !label->buddy()) {
            label->setBuddy(w);
            if (Editable(w) && w->isEnabled()) mnemonic.push_back(label);
        }
        boxOf[w] = BoxTitle(panel, w);
        inputs.push_back(w);
        if (!w->accessibleName().isEmpty()) continue;   // named in the form
        QString name = label ? StripMnemonic(label->text()) : heading;
        if (name.isEmpty()) name = NamesItself(w) ? ButtonText(w) : box;
        w->setAccessibleName(name);
    }
    // The same words twice on a panel (a slope in the sensor, a fitted
    // slope) are told apart by their group boxes.
    std::map<QString, int> uses;
    for (QWidget *w : inputs) ++uses[w->accessibleName()];
    for (QWidget *w : inputs)
        if (uses[w->accessibleName()] > 1 && !boxOf[w].isEmpty())
            w->setAccessibleName(w->accessibleName() + QStringLiteral(" (") + boxOf[w] +
                                 QLatin1Char(')'));
    GiveMnemonics(mnemonic);
}

// ---- roles -------------------------------------------------------------------------------

namespace {

// The program's radio buttons are not exclusive among themselves (it checks
// and clears each one), and its toggles are checkable push buttons: Qt
// would announce both as check boxes.
class ChoiceAccessible : public QAccessibleWidget {
public:
    ChoiceAccessible(QAbstractButton *b, QAccessible::Role r) : QAccessibleWidget(b, r) {}
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(object()); }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return StripMnemonic(button()->text());
        return QAccessibleWidget::text(t);
    }
    // a button may become a toggle after Qt first described it
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = button()->isCheckable();
        s.checked = s.checkable && button()->isChecked();
        if (role() == QAccessible::Button) s.pressed = button()->isDown() || s.checked;
        return s;
    }
    QStringList actionNames() const override {
        if (role() == QAccessible::Button && button()->isCheckable()) return {toggleAction()};
        return {pressAction()};
    }
    void doAction(const QString &name) override {
        if (name == pressAction() || name == toggleAction()) button()->click();
    }
};

QAccessibleInterface *RoleFactory(const QString &, QObject *o) {
    if (auto *r = qobject_cast<QRadioButton *>(o))
        return new ChoiceAccessible(r, QAccessible::RadioButton);
    if (auto *b = qobject_cast<QPushButton *>(o))
        if (!b->menu()) return new ChoiceAccessible(b, QAccessible::Button);
    return nullptr;
}

}   // namespace

void InstallAccessibleRoles() {
    static bool done = false;
    if (done) return;
    done = true;
    QAccessible::installFactory(RoleFactory);
}

}   // namespace rtui
