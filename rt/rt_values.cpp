// The values, lists and texts of the controls.
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

// ---- control values ----------------------------------------------------------------------
int SetCtrlVal(int panel, int control, int value) {
    return SetCtrlVal(panel, control, static_cast<double>(value));
}
int SetCtrlVal(int panel, int control, unsigned value) {
    return SetCtrlVal(panel, control, static_cast<double>(value));
}
int SetCtrlVal(int panel, int control, double value) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    return SetNum(c, value);
}
int SetCtrlVal(int panel, int control, const char *value) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    if (!value) return RT_UIE_BAD_VALUE;
    return SetText(c, FromC(value));
}

// A numeric control's value converted for the caller's variable.
template <typename T, typename Convert>
static int GetConverted(int panel, int control, T *value, Convert convert) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    if (!value) return RT_UIE_BAD_VALUE;
    double v = 0;
    int rc = GetNum(c, &v);
    *value = convert(v);
    return rc;
}

int GetCtrlVal(int panel, int control, uint16_t *value) {
    return GetConverted(panel, control, value, Wrap16);
}
int GetCtrlVal(int panel, int control, int *value) {
    return GetConverted(panel, control, value, ClampInt);
}
int GetCtrlVal(int panel, int control, unsigned *value) {
    return GetConverted(panel, control, value, Wrap32);
}
int GetCtrlVal(int panel, int control, float *value) {
    return GetConverted(panel, control, value, ClampFloat);
}
int GetCtrlVal(int panel, int control, double *value) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    if (!value) return RT_UIE_BAD_VALUE;
    return GetNum(c, value);
}
int GetCtrlVal(int panel, int control, char *value, int bufSize) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) {
        CopyOut(QString(), value, bufSize);
        return Bad(panel);
    }
    if (!value || bufSize <= 0) return RT_UIE_BAD_VALUE;
    CopyOut(TextOf(c), value, bufSize);
    return 0;
}

// ---- rings ----------------------------------------------------------------------------
QComboBox *rtui::Ring(int panel, int control, int *rc) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) {
        *rc = Bad(panel);
        return nullptr;
    }
    auto *cb = qobject_cast<QComboBox *>(c->w);
    *rc = cb ? 0 : RT_UIE_BAD_TYPE;
    return cb;
}

int ClearListCtrl(int panel, int control) {
    int rc;
    QComboBox *cb = Ring(panel, control, &rc);
    if (!cb) return rc;
    QSignalBlocker block(cb);
    cb->clear();
    return 0;
}

int InsertListItem(int panel, int control, int index, const char *label, int value) {
    int rc;
    QComboBox *cb = Ring(panel, control, &rc);
    if (!cb) return rc;
    if (index < -1 || index > cb->count()) return RT_UIE_BAD_VALUE;
    QSignalBlocker block(cb);
    // items from the file carry their index as value; give them explicit values first
    for (int i = 0; i < cb->count(); ++i)
        if (!cb->itemData(i).isValid()) cb->setItemData(i, i);
    cb->insertItem(index < 0 ? cb->count() : index, FromC(label), value);
    if (cb->currentIndex() < 0) cb->setCurrentIndex(0);
    return 0;
}

int DeleteListItem(int panel, int control, int index, int count) {
    int rc;
    QComboBox *cb = Ring(panel, control, &rc);
    if (!cb) return rc;
    if (index < 0 || index >= cb->count() || count < -1) return RT_UIE_BAD_VALUE;
    const int n = count < 0 ? cb->count() - index : std::min(count, cb->count() - index);
    QSignalBlocker block(cb);
    for (int i = 0; i < n; ++i) cb->removeItem(index);
    return 0;
}

int GetNumListItems(int panel, int control, int *count) {
    int rc;
    QComboBox *cb = Ring(panel, control, &rc);
    if (!cb) return rc;
    if (!count) return RT_UIE_BAD_VALUE;
    *count = cb->count();
    return 0;
}

int GetLabelFromIndex(int panel, int control, int index, char *label, int bufSize) {
    int rc;
    QComboBox *cb = Ring(panel, control, &rc);
    if (!cb) return rc;
    if (!label || bufSize <= 0) return RT_UIE_BAD_VALUE;
    if (index < 0 || index >= cb->count()) {
        label[0] = '\0';
        return RT_UIE_BAD_VALUE;
    }
    CopyOut(cb->itemText(index), label, bufSize);
    return 0;
}

// ---- text boxes -------------------------------------------------------------------------
int ResetTextBox(int panel, int control, const char *text) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    return SetText(c, FromC(text));
}

int ReplaceTextBoxLine(int panel, int control, int line, const char *text) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    if (line < 0 || line > 100000) return RT_UIE_BAD_VALUE;
    if (c->kind != K_TEXTBOX) return RT_UIE_BAD_TYPE;
    QString all = TextOf(c);
    QStringList lines = all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
    while (lines.size() <= line) lines.append(QString());
    lines[line] = FromC(text);
    return SetText(c, lines.join(QLatin1Char('\n')));
}

int DisplayImageFile(int panel, int control, const char *file) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return Bad(panel);
    auto *l = qobject_cast<QLabel *>(c->w);
    if (!l) return RT_UIE_BAD_TYPE;
    QPixmap pm;
    if (!file || !pm.load(QString::fromLocal8Bit(file))) {
        l->clear();
        return RT_UIE_FILE;
    }
    l->setPixmap(pm);
    return 0;
}
