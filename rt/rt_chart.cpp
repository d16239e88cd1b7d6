// Charts drawn whole from a description, and reports written as PDF, on
// QCustomPlot, QPdfWriter and QPainter. Long series stay cheap: QCustomPlot
// draws a line of a million points from at most a few per pixel column.
#include "rt/rt_ui_internal.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPageSize>
#include <QPdfWriter>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "fileio/fileio.h"

namespace rtui {

static const char kTitleName[] = "rtChartTitle";
static const char kFullTitle[] = "rtFullTitle";

static void FitTitle(QCustomPlot *p, int width);

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
    // the title follows the chart's width: wrapped, never cut
    QObject::connect(p, &QCustomPlot::beforeReplot, p, [p] { FitTitle(p, p->width()); });
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

static void FitTitle(QCustomPlot *p, int width) {
    QCPTextElement *t = p ? TitleOf(p) : nullptr;
    if (!t) return;
    const QString full = t->property(kFullTitle).toString();
    const QFontMetrics fm(t->font());
    const int room = std::max(20, width - 12);
    // whole words a line; a word longer than the line is shortened
    QStringList lines;
    QString line;
    for (const QString &word : full.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString wider = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (fm.horizontalAdvance(wider) <= room || line.isEmpty()) {
            line = wider;
        } else {
            lines << line;
            line = word;
        }
        if (fm.horizontalAdvance(line) > room) line = fm.elidedText(line, Qt::ElideRight, room);
    }
    if (!line.isEmpty()) lines << line;
    const QString text = lines.join(QLatin1Char('\n'));
    if (text != t->text()) t->setText(text);
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
            const QCPScatterStyle::ScatterShape shapes[] = {
                QCPScatterStyle::ssDisc, QCPScatterStyle::ssSquare, QCPScatterStyle::ssTriangle,
                QCPScatterStyle::ssDiamond};
            const bool known = s.mark >= RT_MARK_DISC && s.mark <= RT_MARK_DIAMOND;
            g->setScatterStyle(QCPScatterStyle(shapes[known ? s.mark : 0], ToColor(s.color),
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
    if (QCPTextElement *t = TitleOf(p)) {
        t->setProperty(kFullTitle, QString::fromStdString(chart.title));
        FitTitle(p, p->width());
    }
    p->xAxis->setLabel(QString::fromStdString(chart.xLabel));
    p->yAxis->setLabel(QString::fromStdString(chart.yLabel));
    for (const RtChartSeries &s : chart.series) AddSeries(p, s);
    for (const RtChartLine &l : chart.lines) AddLine(p, l);
    // the legend's row only while it has something to say: empty, it would
    // hold the column, and the axes with it, to its own nil width
    QCPLayoutGrid *grid = p->plotLayout();
    const bool inGrid = grid->rowCount() > 2 && grid->element(1, 0) == p->legend;
    if (p->legend->itemCount() == 0 && inGrid) {
        grid->take(p->legend);
        grid->simplify();
    } else if (p->legend->itemCount() > 0 && !inGrid && grid->rowCount() == 2) {
        grid->insertRow(1);
        grid->addElement(1, 0, p->legend);
        grid->setRowStretchFactor(1, 0.001);
    }
    if (!chart.empty.empty()) {
        auto *t = new QCPItemText(p);
        t->setText(QString::fromStdString(chart.empty));
        t->setFont(QFont(p->font().family(), 10));
        t->setColor(QColor(0x60, 0x60, 0x60));
        t->position->setType(QCPItemPosition::ptAxisRectRatio);
        t->position->setCoords(0.5, 0.5);
        t->setPositionAlignment(Qt::AlignCenter);
    }
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
const double kMargin = 36.0;
const double kGap = 6.0;
// below this a chart's axes and labels crowd each other: the charts go on
// to further pages instead
const double kLeastChart = 110.0;

const int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

double TextHeight(const QFont &font, QPaintDevice *dev, double width, const QString &text) {
    const QFontMetricsF fm(font, dev);
    const QRectF need = fm.boundingRect(QRectF(0, 0, width, 10000), kTextFlags, text);
    return std::max(fm.lineSpacing(), need.height());
}

class PdfPage {
public:
    PdfPage(QPdfWriter *w, QCPPainter *p) : w_(w), p_(p) {
        width_ = w->width();
        height_ = w->height();
        y_ = kMargin;
    }
    double left() const { return kMargin; }
    double usable() const { return width_ - 2 * kMargin; }
    double room() const { return height_ - 2 * kMargin; }
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
    // A paragraph, wrapped at the page width.
    void Text(const QString &text, const QFont &font) {
        const double h = TextHeight(font, p_->device(), usable(), text);
        const double at = Take(h);
        p_->setFont(font);
        p_->drawText(QRectF(left(), at, usable(), h), kTextFlags, text);
    }

private:
    QPdfWriter *w_;
    QCPPainter *p_;
    double width_ = 0, height_ = 0, y_ = 0;
};

void DrawTable(QCPPainter &p, const std::vector<std::vector<std::string>> &table, double x0,
               double y0, double width, double rowH, const QFont &textFont, const QFont &boldFont) {
    size_t cols = 0;
    for (const auto &r : table) cols = std::max(cols, r.size());
    if (cols == 0) return;
    const double firstW = cols > 1 ? std::min(width * 0.62, 230.0) : width;
    const double otherW =
        cols > 1 ? std::min((width - firstW) / static_cast<double>(cols - 1), 120.0) : 0;
    const double all = firstW + otherW * static_cast<double>(cols - 1);
    for (size_t r = 0; r < table.size(); ++r) {
        const double at = y0 + rowH * static_cast<double>(r);
        p.setFont(r == 0 ? boldFont : textFont);
        if (r % 2 == 1) p.fillRect(QRectF(x0, at, all, rowH), QColor(0xF0, 0xF0, 0xF0));
        double x = x0;
        for (size_t k = 0; k < table[r].size(); ++k) {
            const double w = k == 0 ? firstW : otherW;
            p.drawText(QRectF(x + 4, at, w - 8, rowH),
                       (k == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                       QString::fromStdString(table[r][k]));
            x += w;
        }
        if (r == 0) p.drawLine(QPointF(x0, at + rowH), QPointF(x0 + all, at + rowH));
    }
}

}   // namespace

int rt_WritePdfReport(const char *file, const RtReport &report, std::string *why) {
    if (why) why->clear();
    if (!file || !*file) {
        if (why) *why = "no file name";
        return RT_UIE_BAD_VALUE;
    }
    // drawn in memory first: a file that cannot be written is told by the
    // system's reason, and a failed write keeps what was there
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    QPdfWriter writer(&bytes);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(kPdfDpi);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setTitle(QString::fromStdString(report.title));
    writer.setCreator(QStringLiteral("kvex-ridar"));
    QCPPainter painter;
    if (!painter.begin(&writer)) {
        if (why) *why = "the PDF could not be started";
        return RT_UIE_FILE;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    PdfPage page(&writer, &painter);
    QPaintDevice *dev = painter.device();
    const QString family = QFont().family();
    const QFont titleFont(family, 14, QFont::Bold), textFont(family, 8),
        boldFont(family, 8, QFont::Bold);
    const double rowH = QFontMetricsF(textFont, dev).lineSpacing() + 3;
    const double tableH = rowH * static_cast<double>(report.table.size());

    std::vector<QCustomPlot *> plots;
    std::vector<double> weights;
    for (size_t i = 0; i < report.charts.size(); ++i) {
        Ctrl *c = FindCtrl(report.panel, report.charts[i]);
        auto *plot = c ? qobject_cast<QCustomPlot *>(c->w) : nullptr;
        if (!plot) continue;
        plots.push_back(plot);
        weights.push_back(i < report.chartHeights.size() && report.chartHeights[i] > 0
                              ? report.chartHeights[i]
                              : 1.0);
    }
    const bool beside = report.tableBesideLastChart && !plots.empty() && !report.table.empty();

    // The text takes what it needs; the charts share the rest by weight, the
    // last one at least as high as a table beside it.
    double text = TextHeight(titleFont, dev, page.usable(), QString::fromStdString(report.title));
    text += 4 + 8 + kGap;
    for (const std::string &l : report.lines)
        text += TextHeight(textFont, dev, page.usable(), QString::fromStdString(l));
    for (const std::string &l : report.notes)
        text += TextHeight(textFont, dev, page.usable(), QString::fromStdString(l));
    if (!beside && !report.table.empty()) text += tableH + kGap;
    double room = page.room() - text - kGap * static_cast<double>(plots.size());
    std::vector<double> heights(plots.size(), 0.0);
    double total = 0;
    for (double w : weights) total += w;
    for (size_t i = 0; i < plots.size(); ++i) heights[i] = room * weights[i] / total;
    if (beside && heights.back() < tableH) {
        heights.back() = tableH;
        const double rest = total - weights.back();
        for (size_t i = 0; i + 1 < plots.size(); ++i)
            heights[i] = rest > 0 ? (room - tableH) * weights[i] / rest : 0.0;
    }
    for (double &h : heights) h = std::max(h, kLeastChart);

    page.Text(QString::fromStdString(report.title), titleFont);
    page.Skip(4);
    for (const std::string &l : report.lines) page.Text(QString::fromStdString(l), textFont);
    page.Skip(8);
    for (size_t i = 0; i < plots.size(); ++i) {
        const bool last = i + 1 == plots.size();
        const double w = beside && last ? std::floor(page.usable() * 0.56) : page.usable();
        const double at = page.Take(heights[i] + kGap);
        painter.save();
        painter.translate(page.left(), at);
        FitTitle(plots[i], static_cast<int>(w));
        plots[i]->toPainter(&painter, static_cast<int>(w), static_cast<int>(heights[i]));
        FitTitle(plots[i], plots[i]->width());
        painter.restore();
        if (beside && last) {
            const double x = page.left() + w + 2 * kGap;
            DrawTable(painter, report.table, x, at + std::max(0.0, (heights[i] - tableH) / 2),
                      page.left() + page.usable() - x, rowH, textFont, boldFont);
        }
    }
    if (!beside && !report.table.empty()) {
        page.Skip(kGap);
        const double at = page.Take(tableH);
        DrawTable(painter, report.table, page.left(), at, page.usable(), rowH, textFont, boldFont);
    }
    page.Skip(kGap);
    for (const std::string &l : report.notes) page.Text(QString::fromStdString(l), textFont);
    if (!painter.end()) {
        if (why) *why = "the PDF could not be finished";
        return RT_UIE_FILE;
    }
    const QByteArray &pdf = bytes.data();
    const int err =
        fileio::ReplaceFile(file, std::string(pdf.constData(), static_cast<size_t>(pdf.size())));
    if (err != 0) {
        if (why) *why = std::strerror(err);
        return RT_UIE_FILE;
    }
    return 0;
}

namespace {
QtMessageHandler g_prevHandler = nullptr;

// What the platform layer says about running without a screen: true of
// every report made without one, and nothing a user can act on.
void QuietPlatform(QtMsgType type, const QMessageLogContext &ctx, const QString &msg) {
    if (type == QtWarningMsg || type == QtInfoMsg || type == QtDebugMsg) {
        if (msg.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
            msg.startsWith(QLatin1String("This plugin does not support")))
            return;
    }
    if (g_prevHandler) g_prevHandler(type, ctx, msg);
    else std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, ctx, msg)));
}
}   // namespace

void rt_QuietPlatformNotices(void) {
    static bool installed = false;
    if (installed) return;
    installed = true;
    g_prevHandler = qInstallMessageHandler(QuietPlatform);
}
