// Charts drawn whole from a description, and reports written as PDF, on
// QCustomPlot, QPdfWriter and QPainter. Long series stay cheap: QCustomPlot
// draws a line of a million points from at most a few per pixel column.
#include "rt/rt_ui_internal.h"

#include <QFont>
#include <QFontMetrics>
#include <QPageSize>
#include <QPdfWriter>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace rtui {

static const char kTitleName[] = "rtChartTitle";

void SetupChart(Ctrl *c) {
    auto *p = qobject_cast<QCustomPlot *>(c->w);
    if (!p) return;
    p->setBackground(QBrush(Qt::white));
    p->setAutoAddPlottableToLegend(false);
    p->setAntialiasedElements(QCP::aeNone);
    p->setAntialiasedElement(QCP::aeItems, true);
    p->setPlottingHint(QCP::phCacheLabels, true);
    p->plotLayout()->insertRow(0);
    auto *title = new QCPTextElement(p, QString(), QFont(p->font().family(), 10, QFont::Bold));
    title->setObjectName(QLatin1String(kTitleName));
    p->plotLayout()->addElement(0, 0, title);
    // the legend goes in a row of its own under the title, so it never hides data
    p->legend->setFont(QFont(p->font().family(), 8));
    p->legend->setBorderPen(Qt::NoPen);
    p->legend->setBrush(Qt::NoBrush);
    p->legend->setFillOrder(QCPLegend::foColumnsFirst);
    p->legend->setWrap(2);   // two a row: the page of a report is narrower than the window
    p->legend->setColumnSpacing(14);
    p->legend->setMargins(QMargins(4, 0, 4, 0));
    p->legend->setVisible(true);
    if (p->axisRect()->insetLayout()->take(p->legend)) {
        p->plotLayout()->insertRow(1);
        p->plotLayout()->addElement(1, 0, p->legend);
        p->plotLayout()->setRowStretchFactor(1, 0.001);
        p->plotLayout()->setRowSpacing(0);
    }
}

static QCPTextElement *TitleOf(QCustomPlot *p) {
    if (p->plotLayout()->rowCount() < 2) return nullptr;
    auto *t = qobject_cast<QCPTextElement *>(p->plotLayout()->element(0, 0));
    return t && t->objectName() == QLatin1String(kTitleName) ? t : nullptr;
}

static Qt::PenStyle PenStyleOf(int style) {
    switch (style) {
    case RT_LINE_DASHED: return Qt::DashLine;
    case RT_LINE_DOTTED: return Qt::DotLine;
    default: return Qt::SolidLine;
    }
}

static double Finite(double v, double def) { return std::isfinite(v) ? v : def; }

static double XOf(const RtChartSeries &s, size_t i) {
    return s.x.empty() ? s.xStart + static_cast<double>(i) * s.xStep : s.x[i];
}

static void AddSeries(QCustomPlot *p, const RtChartSeries &s) {
    const size_t n = s.x.empty() ? s.y.size() : std::min(s.x.size(), s.y.size());
    QPen pen(ToColor(s.color));
    pen.setWidthF(s.kind == RT_SERIES_POINTS ? 1.0 : std::max(0.0, s.width));
    QCPAbstractPlottable *pl = nullptr;
    if (s.kind == RT_SERIES_BARS) {
        auto *b = new QCPBars(p->xAxis, p->yAxis);
        QVector<QCPBarsData> d(static_cast<int>(n));
        for (size_t i = 0; i < n; ++i) d[static_cast<int>(i)] = QCPBarsData(XOf(s, i), s.y[i]);
        b->data()->set(d, true);
        b->setWidth(s.barWidth);
        QColor fill = ToColor(s.color);
        fill.setAlpha(110);
        b->setBrush(fill);
        b->setPen(pen);
        pl = b;
    } else {
        QCPGraph *g = p->addGraph();
        QVector<QCPGraphData> d(static_cast<int>(n));
        for (size_t i = 0; i < n; ++i) d[static_cast<int>(i)] = QCPGraphData(XOf(s, i), s.y[i]);
        const bool sorted =
            s.x.empty() ? s.xStep >= 0.0
                        : std::is_sorted(s.x.begin(), s.x.begin() + static_cast<std::ptrdiff_t>(n));
        // shared with the graph, not copied
        g->data()->set(d, sorted);
        g->setPen(pen);
        g->setAdaptiveSampling(true);
        if (s.kind == RT_SERIES_POINTS) {
            g->setLineStyle(QCPGraph::lsNone);
            g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, ToColor(s.color),
                                               ToColor(s.color), std::max(2.0, s.width)));
        } else {
            g->setLineStyle(QCPGraph::lsLine);
        }
        pl = g;
    }
    if (!s.name.empty()) {
        pl->setName(QString::fromStdString(s.name));
        pl->addToLegend();
    }
}

static void AddLine(QCustomPlot *p, const RtChartLine &l) {
    QPen pen(ToColor(l.color));
    pen.setStyle(PenStyleOf(l.style));
    pen.setWidthF(std::max(0.0, l.width));
    auto *line = new QCPItemStraightLine(p);
    line->setPen(pen);
    if (l.vertical) {
        line->point1->setCoords(l.at, 0);
        line->point2->setCoords(l.at, 1);
    } else {
        line->point1->setCoords(0, l.at);
        line->point2->setCoords(1, l.at);
    }
    if (l.label.empty()) return;
    auto *t = new QCPItemText(p);
    t->setText(QString::fromStdString(l.label));
    t->setColor(ToColor(l.color));
    t->setFont(QFont(p->font().family(), 8));
    t->setClipToAxisRect(true);
    t->setBrush(QBrush(QColor(255, 255, 255, 200)));
    if (l.vertical) {
        t->position->setTypeX(QCPItemPosition::ptPlotCoords);
        t->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        t->position->setCoords(l.at, l.labelOtherEnd ? 1.0 : 0.0);
        t->setPositionAlignment(Qt::AlignLeft | (l.labelOtherEnd ? Qt::AlignBottom : Qt::AlignTop));
        t->setPadding(QMargins(3, 2, 0, 2));
    } else {
        t->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
        t->position->setTypeY(QCPItemPosition::ptPlotCoords);
        t->position->setCoords(l.labelOtherEnd ? 0.0 : 1.0, l.at);
        t->setPositionAlignment((l.labelOtherEnd ? Qt::AlignLeft : Qt::AlignRight) |
                                Qt::AlignBottom);
        t->setPadding(QMargins(0, 0, 3, 1));
    }
}

}   // namespace rtui

using namespace rtui;

int rt_DrawChart(int panel, int control, const RtChart &chart) {
    if (!FindPanel(panel)) return RT_UIE_BAD_PANEL;
    Ctrl *c = FindCtrl(panel, control);
    if (!c) return RT_UIE_BAD_CTRL;
    auto *p = qobject_cast<QCustomPlot *>(c->w);
    if (!p || c->kind != K_CHART) return RT_UIE_BAD_TYPE;
    p->clearPlottables();
    p->clearItems();
    p->legend->clearItems();
    if (QCPTextElement *t = TitleOf(p)) t->setText(QString::fromStdString(chart.title));
    p->xAxis->setLabel(QString::fromStdString(chart.xLabel));
    p->yAxis->setLabel(QString::fromStdString(chart.yLabel));
    for (const RtChartSeries &s : chart.series) AddSeries(p, s);
    for (const RtChartLine &l : chart.lines) AddLine(p, l);
    double x0 = Finite(chart.xMin, 0.0), x1 = Finite(chart.xMax, 1.0);
    double y0 = Finite(chart.yMin, 0.0), y1 = Finite(chart.yMax, 1.0);
    if (!(x1 > x0)) x1 = x0 + 1.0;
    if (!(y1 > y0)) y1 = y0 + 1.0;
    p->xAxis->setRange(x0, x1);
    p->yAxis->setRange(y0, y1);
    (void)chart.legend;   // the legend row shows whatever series have names
    p->replot(QCustomPlot::rpQueuedReplot);
    return 0;
}

namespace {

// A4 at 72 units per inch: one unit is one point.
const int kPdfDpi = 72;
const double kMargin = 40.0;

class PdfPage {
public:
    explicit PdfPage(QPdfWriter *w) : w_(w) {
        const QRect r = QRect(0, 0, w->width(), w->height());
        width_ = r.width();
        height_ = r.height();
        y_ = kMargin;
    }
    double left() const { return kMargin; }
    double usable() const { return width_ - 2 * kMargin; }
    // Room for h more units, on a new page when this one is full.
    double Take(double h) {
        if (y_ + h > height_ - kMargin && y_ > kMargin) {
            w_->newPage();
            y_ = kMargin;
        }
        const double at = y_;
        y_ += h;
        return at;
    }
    void Skip(double h) { y_ += h; }

private:
    QPdfWriter *w_;
    double width_ = 0, height_ = 0, y_ = 0;
};

// A paragraph, wrapped at the page width.
void TextLine(QCPPainter &p, PdfPage &page, const QString &text, const QFont &font) {
    p.setFont(font);
    const QFontMetricsF fm(font, p.device());
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    const QRectF need = fm.boundingRect(QRectF(0, 0, page.usable(), 10000), flags, text);
    const double h = std::max(fm.lineSpacing(), need.height());
    const double at = page.Take(h);
    p.drawText(QRectF(page.left(), at, page.usable(), h), flags, text);
}

}   // namespace

int rt_WritePdfReport(const char *file, const RtReport &report) {
    if (!file || !*file) return RT_UIE_BAD_VALUE;
    QPdfWriter writer(QString::fromLocal8Bit(file));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(kPdfDpi);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setTitle(QString::fromStdString(report.title));
    writer.setCreator(QStringLiteral("kvex-ridar"));
    QCPPainter painter;
    if (!painter.begin(&writer)) return RT_UIE_FILE;
    painter.setRenderHint(QPainter::Antialiasing, true);
    PdfPage page(&writer);
    const QString family = QFont().family();
    const QFont titleFont(family, 14, QFont::Bold), textFont(family, 8),
        boldFont(family, 8, QFont::Bold);

    TextLine(painter, page, QString::fromStdString(report.title), titleFont);
    page.Skip(4);
    for (const std::string &l : report.lines)
        TextLine(painter, page, QString::fromStdString(l), textFont);
    page.Skip(8);

    for (size_t i = 0; i < report.charts.size(); ++i) {
        Ctrl *c = FindCtrl(report.panel, report.charts[i]);
        auto *plot = c ? qobject_cast<QCustomPlot *>(c->w) : nullptr;
        if (!plot) continue;
        const int h = i < report.chartHeights.size() && report.chartHeights[i] > 0
                          ? report.chartHeights[i]
                          : 260;
        const double at = page.Take(h + 6);
        painter.save();
        painter.translate(page.left(), at);
        plot->toPainter(&painter, static_cast<int>(page.usable()), h);
        painter.restore();
    }

    if (!report.table.empty()) {
        const QFontMetricsF fm(textFont, painter.device());
        const double rowH = fm.lineSpacing() + 4;
        size_t cols = 0;
        for (const auto &r : report.table) cols = std::max(cols, r.size());
        const double firstW = std::min(page.usable() * 0.45, 230.0);
        const double otherW =
            cols > 1 ? std::min((page.usable() - firstW) / static_cast<double>(cols - 1), 120.0)
                     : 0;
        page.Skip(6);
        for (size_t r = 0; r < report.table.size(); ++r) {
            const double at = page.Take(rowH);
            painter.setFont(r == 0 ? boldFont : textFont);
            if (r % 2 == 1)
                painter.fillRect(QRectF(page.left(), at, firstW + otherW * (cols - 1), rowH),
                                 QColor(0xF0, 0xF0, 0xF0));
            double x = page.left();
            for (size_t k = 0; k < report.table[r].size(); ++k) {
                const double w = k == 0 ? firstW : otherW;
                painter.drawText(QRectF(x + 4, at, w - 8, rowH),
                                 (k == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                                 QString::fromStdString(report.table[r][k]));
                x += w;
            }
            if (r == 0)
                painter.drawLine(QPointF(page.left(), at + rowH),
                                 QPointF(page.left() + firstW + otherW * (cols - 1), at + rowH));
        }
    }
    page.Skip(6);
    for (const std::string &l : report.notes)
        TextLine(painter, page, QString::fromStdString(l), textFont);
    return painter.end() ? 0 : RT_UIE_FILE;
}
