// Graphs with three cursors, rectangles and xy plots, and the strip chart,
// on QCustomPlot. Every change asks for one repaint, so the several calls of
// a frame cost a single one.
#include "rt/rt_ui_internal.h"
#include "rt/rt_testing.h"

#include <qcustomplot.h>

#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>

namespace rtui {

static const int kDefaultTraceColors[] = {0xFF0000, 0x00FF00, 0x0080FF,
                                          0x000000, 0xFF00FF, 0x808080};
static const int kCursorColors[3] = {0x000000, 0x0080FF, 0x0080FF};

static QCustomPlot *PlotOf(Ctrl *c) { return qobject_cast<QCustomPlot *>(c->w); }

static double Prop(QWidget *w, const char *name, double def) {
    bool ok = false;
    double v = w->property(name).toDouble(&ok);
    return ok && std::isfinite(v) ? v : def;
}

// A plot with a plain opaque background draws itself straight into the
// window when the window repaints. QCustomPlot would clear a buffer of its
// own, draw into it on the replot, then fill the widget and blend the buffer
// over it: two fills and a blend of the whole plot more, for every frame.
// Changes made in one pass of the event loop are painted once; a replot
// asked for outright (a picture of the panel) still draws as QCustomPlot does.
static void PaletteChanged(QCustomPlot *p);

class PlotWidget : public QCustomPlot {
public:
    using QCustomPlot::QCustomPlot;

    void UseDirectPaint() {
        if (!OpaqueBackground()) return;
        for (QCPLayer *l : mLayers) l->setMode(QCPLayer::lmLogical);
        m_direct = true;
    }
    void Refresh() {
        if (m_direct) update();
        else replot(QCustomPlot::rpQueuedReplot);
    }

protected:
    // The picture menu from the keyboard: the Menu key or Shift+F10 on a
    // graph that has focus. Some platforms send both a key press and a
    // context-menu event for the Menu key; the second within a moment is
    // the same press.
    bool event(QEvent *e) override {
        if (e->type() == QEvent::ContextMenu &&
            static_cast<QContextMenuEvent *>(e)->reason() == QContextMenuEvent::Keyboard) {
            OpenMenuByKey();
            return true;
        }
        return QCustomPlot::event(e);
    }
    void keyPressEvent(QKeyEvent *e) override {
        if (e->key() == Qt::Key_Menu ||
            (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier)) {
            OpenMenuByKey();
            return;
        }
        QCustomPlot::keyPressEvent(e);
    }
    void focusInEvent(QFocusEvent *e) override {
        update();
        QCustomPlot::focusInEvent(e);
    }
    void focusOutEvent(QFocusEvent *e) override {
        update();
        QCustomPlot::focusOutEvent(e);
    }
    // The layout (ticks, margins, places) is worked out again only when
    // something it depends on changed: a live graph keeps its axes from one
    // frame to the next, and working them out is a good part of a frame.
    void updateLayout() override {
        LayoutKey key = CurrentLayoutKey();
        if (m_layoutValid && key == m_layoutKey) return;
        QCustomPlot::updateLayout();
        m_layoutKey = std::move(key);
        m_layoutValid = true;
    }
    void changeEvent(QEvent *event) override {
        m_layoutValid = false;   // fonts, style, palette
        if (event->type() == QEvent::PaletteChange && m_direct) PaletteChanged(this);
        QCustomPlot::changeEvent(event);
    }

    void paintEvent(QPaintEvent *event) override {
        if (!m_direct || !OpaqueBackground()) {
            QCustomPlot::paintEvent(event);
            PaintFocus();
            return;
        }
        QCPPainter painter(this);
        if (!painter.isActive()) return;
        painter.fillRect(rect(), mBackgroundBrush);
        draw(&painter);
        painter.end();
        PaintFocus();
        emit afterReplot();
    }

private:
    struct AxisKey {
        double lower = 0, upper = 0, rotation = 0;
        const void *ticker = nullptr;
        int tickCount = 0, scaleType = 0, padding = 0, offset = 0, lengthIn = 0, lengthOut = 0;
        int labelPadding = 0, tickLabelPadding = 0, precision = 0;
        bool visible = false, ticks = false, tickLabels = false;
        QString label, format;
        QFont labelFont, tickLabelFont;
        bool operator==(const AxisKey &o) const {
            return lower == o.lower && upper == o.upper && rotation == o.rotation &&
                   ticker == o.ticker && tickCount == o.tickCount && scaleType == o.scaleType &&
                   padding == o.padding && offset == o.offset && lengthIn == o.lengthIn &&
                   lengthOut == o.lengthOut && labelPadding == o.labelPadding &&
                   tickLabelPadding == o.tickLabelPadding && precision == o.precision &&
                   visible == o.visible && ticks == o.ticks && tickLabels == o.tickLabels &&
                   label == o.label && format == o.format && labelFont == o.labelFont &&
                   tickLabelFont == o.tickLabelFont;
        }
    };
    struct LayoutKey {
        QRect viewport;
        int elements = 0;
        std::vector<QMargins> margins;
        std::vector<AxisKey> axes;
        bool operator==(const LayoutKey &o) const {
            return viewport == o.viewport && elements == o.elements && margins == o.margins &&
                   axes == o.axes;
        }
    };
    LayoutKey CurrentLayoutKey() const {
        LayoutKey k;
        k.viewport = viewport();
        k.elements = plotLayout() ? plotLayout()->elementCount() : 0;
        for (QCPAxisRect *r : axisRects()) {
            k.margins.push_back(r->margins());
            k.margins.push_back(r->minimumMargins());
            for (QCPAxis *a : r->axes()) {
                AxisKey x;
                x.lower = a->range().lower;
                x.upper = a->range().upper;
                x.rotation = a->tickLabelRotation();
                x.ticker = a->ticker().data();
                x.tickCount = a->ticker() ? a->ticker()->tickCount() : 0;
                x.scaleType = static_cast<int>(a->scaleType());
                x.padding = a->padding();
                x.offset = a->offset();
                x.lengthIn = a->tickLengthIn();
                x.lengthOut = a->tickLengthOut();
                x.labelPadding = a->labelPadding();
                x.tickLabelPadding = a->tickLabelPadding();
                x.precision = a->numberPrecision();
                x.visible = a->visible();
                x.ticks = a->ticks();
                x.tickLabels = a->tickLabels();
                x.label = a->label();
                x.format = a->numberFormat();
                x.labelFont = a->labelFont();
                x.tickLabelFont = a->tickLabelFont();
                k.axes.push_back(std::move(x));
            }
        }
        return k;
    }
    LayoutKey m_layoutKey;
    bool m_layoutValid = false;

    bool OpaqueBackground() const {
        return mBackgroundBrush.style() == Qt::SolidPattern &&
               mBackgroundBrush.color().alpha() == 255;
    }
    bool m_direct = false;

    // a graph reached by Tab shows it has the keyboard
    void PaintFocus() {
        if (!hasFocus()) return;
        QPainter p(this);
        QPen pen(palette().color(QPalette::Highlight), 2, Qt::DashLine);
        p.setPen(pen);
        p.drawRect(rect().adjusted(1, 1, -2, -2));
    }
    void OpenMenuByKey() {
        if (contextMenuPolicy() != Qt::CustomContextMenu) return;
        if (m_lastKeyMenu.isValid() && m_lastKeyMenu.elapsed() < 500) return;
        emit customContextMenuRequested(rect().center());
        m_lastKeyMenu.start();
    }
    QElapsedTimer m_lastKeyMenu;
};

QCustomPlot *NewPlotWidget(QWidget *parent) { return new PlotWidget(parent); }

static void Queue(QCustomPlot *p) {
    if (auto *w = dynamic_cast<PlotWidget *>(p)) w->Refresh();
    else p->replot(QCustomPlot::rpQueuedReplot);
}

static double Luminance(const QColor &c) {
    auto lin = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

static double Contrast(const QColor &a, const QColor &b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A line's colour, unless it would vanish on the plot's background (black
// on a dark palette): then the palette's text colour. The colour asked for
// is kept on the line, so a change of palette inks it again.
static QPen Ink(QCustomPlot *p, QObject *line, int rgb, Qt::PenStyle style = Qt::SolidLine) {
    line->setProperty("rtColor", rgb);
    const QPalette pal = p->palette();
    QColor c = ToColor(rgb);
    if (Contrast(c, pal.color(QPalette::Base)) < 3.0) c = pal.color(QPalette::Text);
    return QPen(c, 1, style);
}

static void InkAgain(QCustomPlot *p, QObject *o) {
    bool ok = false;
    const int rgb = o->property("rtColor").toInt(&ok);
    if (!ok) return;
    if (auto *g = qobject_cast<QCPGraph *>(o)) g->setPen(Ink(p, g, rgb, g->pen().style()));
    else if (auto *l = qobject_cast<QCPItemStraightLine *>(o)) l->setPen(Ink(p, l, rgb));
    else if (auto *t = qobject_cast<QCPItemTracer *>(o)) {
        t->setPen(Ink(p, t, rgb));
        t->setBrush(t->pen().color());
    }
}

// Background, axes and their texts in the desktop's colours, so a dark or
// high-contrast palette keeps the graphs readable; the traces keep theirs
// unless they would vanish.
static void UsePalette(QCustomPlot *p) {
    const QPalette pal = p->palette();
    p->setBackground(QBrush(pal.color(QPalette::Base)));
    const QColor text = pal.color(QPalette::Text);
    for (QCPAxisRect *r : p->axisRects())
        for (QCPAxis *a : r->axes()) {
            a->setBasePen(QPen(text));
            a->setTickPen(QPen(text));
            a->setSubTickPen(QPen(text));
            a->setTickLabelColor(text);
            a->setLabelColor(text);
        }
    for (int i = 0; i < p->graphCount(); ++i) InkAgain(p, p->graph(i));
    for (int i = 0; i < p->itemCount(); ++i) {
        QCPAbstractItem *it = p->item(i);
        InkAgain(p, it);
        if (auto *t = qobject_cast<QCPItemText *>(it)) {
            t->setColor(text);
            t->setPen(QPen(text));
            t->setBrush(pal.color(QPalette::Base));
        }
    }
}

static void PaletteChanged(QCustomPlot *p) {
    UsePalette(p);
    p->update();
}

static void CommonSetup(QCustomPlot *p) {
    // data plots are redrawn for every frame; keep them cheap
    p->setAntialiasedElements(QCP::aeNone);
    p->setNotAntialiasedElements(QCP::aeAll);
    p->setPlottingHint(QCP::phFastPolylines, true);
    p->setPlottingHint(QCP::phCacheLabels, true);
    // A replot repaints through the window's next update, with whatever
    // else changed in the same frame (numbers, the other graph): one paint
    // and one flush a frame instead of one per graph.
    p->setPlottingHint(QCP::phImmediateRefresh, false);
    // The legend is never shown, but its items would still be measured
    // (text layout) on every replot.
    p->setAutoAddPlottableToLegend(false);
    // Nothing is drawn on the overlay, so it need not have a buffer of its
    // own: one buffer fewer to clear and blend on every replot.
    if (QCPLayer *overlay = p->layer(QStringLiteral("overlay")))
        overlay->setMode(QCPLayer::lmLogical);
    // The plot fills its whole area with an opaque background, so the panel
    // beneath it need not be painted first on each repaint.
    UsePalette(p);
    p->setAttribute(Qt::WA_OpaquePaintEvent);
    if (auto *w = dynamic_cast<PlotWidget *>(p)) w->UseDirectPaint();
    p->xAxis->setRange(Prop(p, "xMin", 0.0), Prop(p, "xMax", 1.0));
    p->yAxis->setRange(Prop(p, "yMin", 0.0), Prop(p, "yMax", 1.0));
}

void SetupGraph(Ctrl *c) {
    QCustomPlot *p = PlotOf(c);
    if (!p) return;
    c->graph = std::make_unique<GraphState>();
    CommonSetup(p);
    p->addLayer(QStringLiteral("rtcursors"), p->layer(QStringLiteral("main")),
                QCustomPlot::limAbove);
    for (int i = 0; i < 3; ++i) {
        Cursor &k = c->graph->cursors[i];
        k.line = new QCPItemStraightLine(p);
        k.line->setLayer(QStringLiteral("rtcursors"));
        k.line->setPen(Ink(p, k.line, kCursorColors[i]));
        k.line->point1->setCoords(0, 0);
        k.line->point2->setCoords(0, 1);
        k.line->setVisible(false);
        k.marker = new QCPItemTracer(p);
        k.marker->setLayer(QStringLiteral("rtcursors"));
        k.marker->setStyle(QCPItemTracer::tsSquare);
        k.marker->setSize(7);
        k.marker->setPen(Ink(p, k.marker, kCursorColors[i]));
        k.marker->setBrush(k.marker->pen().color());
        k.marker->position->setCoords(0, 0);
        k.marker->setVisible(false);
    }
}

static Qt::PenStyle LineStyle(int style) {
    return style == VAL_DASH ? Qt::DashLine : style == VAL_DOT ? Qt::DotLine : Qt::SolidLine;
}

static void ApplyStripGraphs(QCustomPlot *p, StripState *s) {
    while (static_cast<int>(s->graphs.size()) < s->traces) s->graphs.push_back(p->addGraph());
    for (size_t i = 0; i < s->graphs.size(); ++i) {
        QCPGraph *g = s->graphs[i];
        bool used = static_cast<int>(i) < s->traces;
        g->setVisible(used);
        if (!used) g->data()->clear();
        else g->setPen(Ink(p, g, s->colors[i], LineStyle(s->styles[i])));
    }
}

static void ApplyStripWindow(QCustomPlot *p, StripState *s) {
    int shown = s->pointsPerScreen - 1;
    p->xAxis->setRange(0, std::max(1, shown - 1));
}

void SetupStrip(Ctrl *c) {
    QCustomPlot *p = PlotOf(c);
    if (!p) return;
    c->strip = std::make_unique<StripState>();
    StripState *s = c->strip.get();
    CommonSetup(p);
    s->colors.assign(1, kDefaultTraceColors[0]);
    s->styles.assign(1, VAL_SOLID);
    s->points.assign(1, {});
    ApplyStripGraphs(p, s);
    ApplyStripWindow(p, s);
}

int SetStripAttribute(Ctrl *c, int attribute, int value) {
    StripState *s = c->strip.get();
    QCustomPlot *p = PlotOf(c);
    if (!s || !p) return RT_UIE_BAD_TYPE;
    switch (attribute) {
    case ATTR_NUM_TRACES:
        if (value < 1 || value > 64) return RT_UIE_BAD_VALUE;
        if (value != s->traces) {
            // a different trace layout starts an empty chart
            s->traces = value;
            s->points.assign(value, {});
            for (int i = static_cast<int>(s->colors.size()); i < value; ++i)
                s->colors.push_back(kDefaultTraceColors[i % 6]);
            s->colors.resize(value);
            s->styles.resize(value, VAL_SOLID);
            ApplyStripGraphs(p, s);
            for (int i = 0; i < s->traces; ++i) s->graphs[i]->data()->clear();
            Queue(p);
        }
        return 0;
    case ATTR_POINTS_PER_SCREEN:
        if (value < 2 || value > 100000) return RT_UIE_BAD_VALUE;
        if (value != s->pointsPerScreen) {
            s->pointsPerScreen = value;
            ApplyStripWindow(p, s);
            size_t shown = static_cast<size_t>(value - 1);
            for (auto &d : s->points)
                while (d.size() > shown) d.pop_front();
            Queue(p);
        }
        return 0;
    case ATTR_SCROLL_MODE: s->scrollMode = value; return 0;
    default: return RT_UIE_BAD_ATTR;
    }
}

int GetStripAttribute(Ctrl *c, int attribute, int *value) {
    StripState *s = c->strip.get();
    if (!s) return RT_UIE_BAD_TYPE;
    switch (attribute) {
    case ATTR_NUM_TRACES: *value = s->traces; return 0;
    case ATTR_POINTS_PER_SCREEN: *value = s->pointsPerScreen; return 0;
    case ATTR_SCROLL_MODE: *value = s->scrollMode; return 0;
    default: return RT_UIE_BAD_ATTR;
    }
}

static bool ReadValue(const void *data, int type, long index, double *out) {
    switch (type) {
    case VAL_DOUBLE: *out = static_cast<const double *>(data)[index]; return true;
    case VAL_UNSIGNED_SHORT_INTEGER: *out = static_cast<const uint16_t *>(data)[index]; return true;
    case VAL_INTEGER: *out = static_cast<const int *>(data)[index]; return true;
    default: return false;
    }
}

static bool KnownType(int type) {
    return type == VAL_DOUBLE || type == VAL_UNSIGNED_SHORT_INTEGER || type == VAL_INTEGER;
}

// Lookup helpers that tell a bad handle from a control of another kind.
static Ctrl *GraphCtrl(int panel, int control, int *rc) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) {
        *rc = FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
        return nullptr;
    }
    if (!c->graph || !PlotOf(c)) {
        *rc = RT_UIE_BAD_TYPE;
        return nullptr;
    }
    *rc = 0;
    return c;
}

static Ctrl *StripCtrl(int panel, int control, int *rc) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) {
        *rc = FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
        return nullptr;
    }
    if (!c->strip || !PlotOf(c)) {
        *rc = RT_UIE_BAD_TYPE;
        return nullptr;
    }
    *rc = 0;
    return c;
}

static void Autoscale(Ctrl *c) {
    QCustomPlot *p = PlotOf(c);
    if (c->graph && c->graph->autoscale[0]) p->xAxis->rescale(true);
    if (c->graph && c->graph->autoscale[1]) p->yAxis->rescale(true);
}

static void ReleasePlot(GraphState *g, GraphPlot &gp) {
    if (gp.rect) {
        gp.rect->setVisible(false);
        g->freeRects.push_back(gp.rect);
    }
    if (gp.graph) {
        gp.graph->data()->clear();
        gp.graph->setVisible(false);
        g->freeGraphs.push_back(gp.graph);
    }
}

}   // namespace rtui

using namespace rtui;

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
    QCustomPlot *p = PlotOf(c);
    if (!p) return RT_UIE_BAD_TYPE;
    if (axis != VAL_XAXIS && axis != VAL_LEFT_YAXIS) return RT_UIE_BAD_VALUE;
    QCPAxis *ax = axis == VAL_XAXIS ? p->xAxis : p->yAxis;
    if (mode == VAL_MANUAL) {
        // an empty or reversed range would leave the graph unreadable
        if (!std::isfinite(min) || !std::isfinite(max) || !(min < max)) return RT_UIE_BAD_VALUE;
        if (c->graph) c->graph->autoscale[axis] = false;
        if (ax->range().lower != min || ax->range().upper != max) {
            ax->setRange(min, max);
            Queue(p);
        }
        return 0;
    }
    if (mode == VAL_AUTOSCALE) {
        if (c->graph) c->graph->autoscale[axis] = true;
        Autoscale(c);
        Queue(p);
        return 0;
    }
    return RT_UIE_BAD_VALUE;
}

int SetGraphCursor(int panel, int control, int cursor, double x, double y) {
    int rc;
    Ctrl *c = GraphCtrl(panel, control, &rc);
    if (!c) return rc;
    if (cursor < 1 || cursor > 3) return RT_UIE_BAD_VALUE;
    if (!std::isfinite(x) || !std::isfinite(y)) return RT_UIE_BAD_VALUE;
    Cursor &k = c->graph->cursors[cursor - 1];
    if (k.set && k.x == x && k.y == y) return 0;
    k.set = true;
    k.x = x;
    k.y = y;
    k.line->point1->setCoords(x, 0);
    k.line->point2->setCoords(x, 1);
    k.line->setVisible(true);
    k.marker->position->setCoords(x, y);
    k.marker->setVisible(true);
    Queue(PlotOf(c));
    return 0;
}

// Handles count up and start again at 1 instead of overflowing (a run of
// days draws billions of plots), never taking one still in use.
static int NextHandle(GraphState *g) {
    for (;;) {
        const int h = g->nextHandle;
        if (h >= INT_MAX) {
            g->nextHandle = 1;
            g->handlesWrapped = true;
        } else {
            g->nextHandle = h + 1;
        }
        if (!g->handlesWrapped) return h;
        if (std::none_of(g->plots.begin(), g->plots.end(),
                         [h](const GraphPlot &gp) { return gp.data.handle == h; }))
            return h;
    }
}

int DeleteGraphPlot(int panel, int control, int plot, int refresh) {
    (void)refresh;   // the replot is queued either way
    int rc;
    Ctrl *c = GraphCtrl(panel, control, &rc);
    if (!c) return rc;
    GraphState *g = c->graph.get();
    if (plot == VAL_DELETE_ALL) {
        for (auto &gp : g->plots) ReleasePlot(g, gp);
        g->plots.clear();
    } else {
        auto it = std::find_if(g->plots.begin(), g->plots.end(),
                               [plot](const GraphPlot &gp) { return gp.data.handle == plot; });
        if (it == g->plots.end()) return RT_UIE_BAD_VALUE;
        ReleasePlot(g, *it);
        g->plots.erase(it);
    }
    Queue(PlotOf(c));
    return 0;
}

int PlotRectangle(int panel, int control, double x1, double y1, double x2, double y2, int color,
                  int fillColor) {
    int rc;
    Ctrl *c = GraphCtrl(panel, control, &rc);
    if (!c) return rc;
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
        return RT_UIE_BAD_VALUE;
    GraphState *g = c->graph.get();
    QCustomPlot *p = PlotOf(c);
    QCPItemRect *r;
    if (!g->freeRects.empty()) {
        r = g->freeRects.back();
        g->freeRects.pop_back();
    } else {
        r = new QCPItemRect(p);
    }
    r->topLeft->setCoords(std::min(x1, x2), std::max(y1, y2));
    r->bottomRight->setCoords(std::max(x1, x2), std::min(y1, y2));
    r->setPen(QPen(ToColor(color)));
    // colours outside 24 bits (the run-time's "transparent") leave it unfilled
    if (fillColor >= 0 && fillColor <= 0xFFFFFF) r->setBrush(QBrush(ToColor(fillColor)));
    else r->setBrush(Qt::NoBrush);
    r->setVisible(true);
    GraphPlot gp;
    gp.rect = r;
    gp.data.handle = NextHandle(g);
    gp.data.kind = 1;
    gp.data.x1 = x1;
    gp.data.y1 = y1;
    gp.data.x2 = x2;
    gp.data.y2 = y2;
    gp.data.color = color;
    gp.data.fillColor = fillColor;
    g->plots.push_back(std::move(gp));
    Queue(p);
    return g->plots.back().data.handle;
}

int PlotXY(int panel, int control, const void *x, const void *y, int n, int xType, int yType,
           int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color) {
    (void)lineStyle;
    (void)pointFrequency;
    int rc;
    Ctrl *c = GraphCtrl(panel, control, &rc);
    if (!c) return rc;
    if (!x || !y || n <= 0 || !KnownType(xType) || !KnownType(yType)) return RT_UIE_BAD_VALUE;
    GraphState *g = c->graph.get();
    QCustomPlot *p = PlotOf(c);
    GraphPlot gp;
    gp.data.handle = NextHandle(g);
    gp.data.kind = 2;
    gp.data.color = color;
    gp.data.fillColor = color;
    gp.data.x.resize(n);
    gp.data.y.resize(n);
    QVector<double> kx(n), vy(n);
    bool sorted = true;
    for (int i = 0; i < n; ++i) {
        ReadValue(x, xType, i, &gp.data.x[i]);
        ReadValue(y, yType, i, &gp.data.y[i]);
        kx[i] = gp.data.x[i];
        vy[i] = gp.data.y[i];
        if (i > 0 && !(kx[i - 1] <= kx[i])) sorted = false;
    }
    QCPGraph *gr;
    if (!g->freeGraphs.empty()) {
        gr = g->freeGraphs.back();
        g->freeGraphs.pop_back();
    } else {
        gr = p->addGraph();
    }
    gr->setPen(Ink(p, gr, color));
    gr->setLineStyle(plotStyle == VAL_CONNECTED_POINTS || plotStyle == 0 ? QCPGraph::lsLine
                                                                         : QCPGraph::lsNone);
    if (plotStyle == VAL_CONNECTED_POINTS || plotStyle != 0)
        gr->setScatterStyle(QCPScatterStyle(
            pointStyle == VAL_SIMPLE_DOT ? QCPScatterStyle::ssDot : QCPScatterStyle::ssDisc, 3));
    else gr->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    gr->setData(kx, vy, sorted);
    gr->setVisible(true);
    gp.graph = gr;
    g->plots.push_back(std::move(gp));
    Autoscale(c);
    Queue(p);
    return g->plots.back().data.handle;
}

int PlotStripChart(int panel, int control, const void *data, int n, int start, int skip, int type) {
    int rc;
    Ctrl *c = StripCtrl(panel, control, &rc);
    if (!c) return rc;
    StripState *s = c->strip.get();
    if (!data || n <= 0 || start < 0 || skip < 0 || !KnownType(type)) return RT_UIE_BAD_VALUE;
    // values arrive interleaved, one per trace; a partial sample is refused
    if (n % s->traces != 0) return RT_UIE_BAD_VALUE;
    const size_t shown = static_cast<size_t>(s->pointsPerScreen - 1);
    const long step = static_cast<long>(skip) + 1;
    // only what stays in the window needs reading
    long samples = n / s->traces;
    long first = samples > static_cast<long>(shown) ? samples - static_cast<long>(shown) : 0;
    for (long k = first * s->traces; k < n; ++k) {
        double v = 0;
        ReadValue(data, type, start + k * step, &v);
        auto &d = s->points[k % s->traces];
        d.push_back(v);
        if (d.size() > shown) d.pop_front();
    }
    QCustomPlot *p = PlotOf(c);
    for (int t = 0; t < s->traces; ++t) {
        const auto &d = s->points[t];
        QSharedPointer<QCPGraphDataContainer> cont = s->graphs[t]->data();
        const double base = static_cast<double>(shown) - static_cast<double>(d.size());
        if (cont->size() == static_cast<int>(d.size())) {
            // same length: overwrite the values in place, no allocation
            auto it = cont->begin();
            for (size_t i = 0; i < d.size(); ++i, ++it) {
                it->key = base + static_cast<double>(i);
                it->value = d[i];
            }
        } else {
            QVector<QCPGraphData> v(static_cast<int>(d.size()));
            for (size_t i = 0; i < d.size(); ++i)
                v[static_cast<int>(i)] = QCPGraphData(base + i, d[i]);
            cont->set(v, true);
        }
    }
    Queue(p);
    return 0;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    int rc;
    Ctrl *c = StripCtrl(panel, control, &rc);
    if (!c) return rc;
    StripState *s = c->strip.get();
    if (attribute != ATTR_TRACE_COLOR && attribute != ATTR_TRACE_LINE_STYLE) return RT_UIE_BAD_ATTR;
    if (trace < 1 || trace > s->traces) return RT_UIE_BAD_VALUE;
    if (attribute == ATTR_TRACE_LINE_STYLE && value != VAL_SOLID && value != VAL_DASH &&
        value != VAL_DOT)
        return RT_UIE_BAD_VALUE;
    int &now = attribute == ATTR_TRACE_COLOR ? s->colors[trace - 1] : s->styles[trace - 1];
    if (now != value) {
        now = value;
        QCustomPlot *p = PlotOf(c);
        s->graphs[trace - 1]->setPen(
            Ink(p, s->graphs[trace - 1], s->colors[trace - 1], LineStyle(s->styles[trace - 1])));
        Queue(p);
    }
    return 0;
}

int rt_SetGraphNote(int panel, int control, const char *text) {
    int rc;
    Ctrl *c = GraphCtrl(panel, control, &rc);
    if (!c) return rc;
    QCustomPlot *p = PlotOf(c);
    QCPItemText *&note = c->graph->note;
    const QString t = FromC(text);
    if (!note) {
        if (t.isEmpty()) return 0;
        note = new QCPItemText(p);
        note->setLayer(QStringLiteral("rtcursors"));
        note->setClipToAxisRect(true);
        note->position->setType(QCPItemPosition::ptAxisRectRatio);
        note->position->setCoords(0.995, 0.03);
        note->setPositionAlignment(Qt::AlignRight | Qt::AlignTop);
        note->setPadding(QMargins(4, 1, 4, 1));
        UsePalette(p);
    }
    if (note->text() == t && note->visible() == !t.isEmpty()) return 0;
    note->setText(t);
    note->setVisible(!t.isEmpty());
    Queue(p);
    return 0;
}

std::vector<RtPlot> rt_GetPlots(int panel, int control) {
    std::vector<RtPlot> out;
    int rc;
    Ctrl *c = GraphCtrl(panel, control, &rc);
    if (!c) return out;
    for (const auto &gp : c->graph->plots) out.push_back(gp.data);
    return out;
}

int rt_GetCursor(int panel, int control, int cursor, double *x, double *y) {
    int rc;
    Ctrl *c = GraphCtrl(panel, control, &rc);
    if (!c) return rc;
    if (cursor < 1 || cursor > 3) return RT_UIE_BAD_VALUE;
    const Cursor &k = c->graph->cursors[cursor - 1];
    if (x) *x = k.x;
    if (y) *y = k.y;
    return 0;
}

int rt_GetAxisRange(int panel, int control, int axis, double *min, double *max) {
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return FindPanel(panel) ? RT_UIE_BAD_CTRL : RT_UIE_BAD_PANEL;
    QCustomPlot *p = PlotOf(c);
    if (!p) return RT_UIE_BAD_TYPE;
    if (axis != VAL_XAXIS && axis != VAL_LEFT_YAXIS) return RT_UIE_BAD_VALUE;
    QCPRange r = (axis == VAL_XAXIS ? p->xAxis : p->yAxis)->range();
    if (min) *min = r.lower;
    if (max) *max = r.upper;
    return 0;
}

RtStrip rt_GetStrip(int panel, int control) {
    RtStrip out;
    int rc;
    Ctrl *c = StripCtrl(panel, control, &rc);
    if (!c) return out;
    const StripState *s = c->strip.get();
    out.traces = s->traces;
    out.pointsPerScreen = s->pointsPerScreen;
    out.colors = s->colors;
    for (const auto &d : s->points) out.points.emplace_back(d.begin(), d.end());
    return out;
}
