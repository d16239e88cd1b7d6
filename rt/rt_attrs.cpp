// Control attributes: dimming, visibility, colours, fonts, labels.
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

// ---- attributes ---------------------------------------------------------------------------
static void SetRole(QWidget *w, std::initializer_list<QPalette::ColorRole> roles,
                    const QColor &col) {
    QPalette pal = w->palette();
    for (auto r : roles) pal.setColor(r, col);
    w->setPalette(pal);
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    QWidget *w = c->w;
    switch (attribute) {
    case ATTR_DIMMED:
        c->dimmed = value != 0;
        if (w->isEnabled() == c->dimmed || w->testAttribute(Qt::WA_ForceDisabled) != c->dimmed)
            w->setEnabled(!c->dimmed);
        return 0;
    case ATTR_VISIBLE:
        c->visible = value != 0;
        if (w->isHidden() == c->visible) w->setVisible(c->visible);
        return 0;
    case ATTR_TEXT_COLOR:
        if (c->textColor != value || !w->property("rtFg").isValid()) {
            c->textColor = value;
            w->setProperty("rtFg", value);
            SetRole(w, {QPalette::Text, QPalette::WindowText, QPalette::ButtonText},
                    ToColor(value));
        }
        return 0;
    case ATTR_TEXT_BGCOLOR:
        if (c->textBg != value || !w->property("rtBg").isValid()) {
            c->textBg = value;
            w->setProperty("rtBg", value);
            if (c->kind == K_LABEL || c->kind == K_CONTAINER || c->kind == K_DECO) {
                w->setAutoFillBackground(true);
                SetRole(w, {QPalette::Window}, ToColor(value));
            } else {
                SetRole(w, {QPalette::Base, QPalette::Button}, ToColor(value));
            }
        }
        return 0;
    case ATTR_TEXT_BOLD: {
        c->bold = value != 0;
        QFont f = w->font();
        if (f.bold() != c->bold) {
            f.setBold(c->bold);
            w->setFont(f);
            if (w->property("rtCreated").toBool()) w->adjustSize();
        }
        return 0;
    }
    case ATTR_TEXT_POINT_SIZE: {
        if (value <= 0 || value > 500) return RT_UIE_BAD_VALUE;
        c->pointSize = value;
        QFont f = w->font();
        // the run-time's text sizes are screen pixels; the panels are laid out for that
        f.setPixelSize(value);
        w->setFont(f);
        if (w->property("rtCreated").toBool()) w->adjustSize();
        return 0;
    }
    case ATTR_LEFT: w->move(value, w->y()); return 0;
    case ATTR_TOP: w->move(w->x(), value); return 0;
    case ATTR_FRAME_COLOR:
        c->frameColor = value;
        w->setAutoFillBackground(true);
        SetRole(w, {QPalette::Window}, ToColor(value));
        return 0;
    case ATTR_NUM_TRACES:
    case ATTR_POINTS_PER_SCREEN:
    case ATTR_SCROLL_MODE:
        if (c->kind != K_STRIP) return RT_UIE_BAD_ATTR;
        return SetStripAttribute(c, attribute, value);
    default: return RT_UIE_BAD_ATTR;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *value) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    if (!value) return RT_UIE_BAD_VALUE;
    QString s = FromC(value);
    switch (attribute) {
    case ATTR_ON_TEXT:
    case ATTR_OFF_TEXT:
        if (!IsToggleKind(c->kind)) return RT_UIE_BAD_ATTR;
        (attribute == ATTR_ON_TEXT ? c->onText : c->offText) = s;
        ShowSwitchText(c);
        return 0;
    case ATTR_TEXT_FONT: {
        QFont f = c->w->font();
        // the platform's application font stands for the run-time's own
        if (s == QLatin1String("NIApp") || s.isEmpty()) f.setFamily(QApplication::font().family());
        else f.setFamily(s);
        c->w->setFont(f);
        if (c->w->property("rtCreated").toBool()) c->w->adjustSize();
        return 0;
    }
    default: return RT_UIE_BAD_ATTR;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    if (!value) return RT_UIE_BAD_VALUE;
    switch (attribute) {
    case ATTR_DIMMED: *value = c->dimmed ? 1 : 0; return 0;
    case ATTR_VISIBLE: *value = c->visible ? 1 : 0; return 0;
    case ATTR_TEXT_COLOR: *value = c->textColor; return 0;
    case ATTR_TEXT_BGCOLOR: *value = c->textBg; return 0;
    case ATTR_TEXT_BOLD: *value = c->w->font().bold() ? 1 : 0; return 0;
    case ATTR_TEXT_POINT_SIZE:
        *value = c->w->font().pixelSize() > 0 ? c->w->font().pixelSize() : c->w->font().pointSize();
        return 0;
    case ATTR_LEFT: *value = c->w->x(); return 0;
    case ATTR_TOP: *value = c->w->y(); return 0;
    case ATTR_FRAME_COLOR: *value = c->frameColor; return 0;
    case ATTR_NUM_TRACES:
    case ATTR_POINTS_PER_SCREEN:
    case ATTR_SCROLL_MODE:
        if (c->kind != K_STRIP) return RT_UIE_BAD_ATTR;
        return GetStripAttribute(c, attribute, value);
    default: return RT_UIE_BAD_ATTR;
    }
}

int NewCtrl(int panel, int style, const char *label, int top, int left) {
    Panel *p = FindPanel(panel);
    if (!p) return RT_UIE_BAD_PANEL;
    if (style != CTRL_TEXT_MSG) return RT_UIE_BAD_VALUE;
    auto *l = new QLabel(FromC(label), p->content ? p->content.data() : p->w.data());
    l->setProperty("rtCreated", true);
    l->move(left, top);
    l->adjustSize();
    l->show();
    while (p->ctrls.count(p->nextNewId)) ++p->nextNewId;
    auto c = std::make_unique<Ctrl>();
    c->id = p->nextNewId++;
    c->w = l;
    c->kind = K_LABEL;
    int id = c->id;
    p->ctrls[id] = std::move(c);
    return id;
}
