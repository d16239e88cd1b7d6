// The panels as a screen reader and a keyboard reach them: names, roles,
// label buddies and their Alt+letters, the Tab order, Esc and the Close
// buttons of the secondary windows, the graphs' picture menu from the keys.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "analysisui/analysisui.h"
#include "app/app.h"
#include "params/vars.h"

namespace {

// What a screen reader says a control is. A ring's name on Linux is its
// value (Qt); the reader takes its name from the label relation, which
// carries the name set on the widget.
QString Name(QWidget *w) {
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
    if (!a) return QString();
    return a->role() == QAccessible::ComboBox ? w->accessibleName() : a->text(QAccessible::Name);
}

// What the form file says each label shows, read here on its own.
std::map<QString, QString> FormLabels(const QString &file) {
    std::map<QString, QString> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return out;
    QXmlStreamReader x(&f);
    QString label;
    while (!x.atEnd()) {
        x.readNext();
        if (!x.isStartElement()) continue;
        if (x.name() == QLatin1String("widget"))
            label = x.attributes().value("class") == QLatin1String("QLabel")
                        ? x.attributes().value("name").toString()
                        : QString();
        if (x.name() == QLatin1String("property") && !label.isEmpty() &&
            x.attributes().value("name") == QLatin1String("text")) {
            x.readNextStartElement();
            out[label] = x.readElementText();
        }
    }
    return out;
}

struct Window {
    const char *what;
    int *panel;
    const char *form;   // under the source tree
};

std::vector<Window> Windows() {
    CompareShow();
    HidePanel(pCompare);
    AnalysisLoadPanel();
    return {{"main panel", &pHandle, "ui/K-VEX-XCRidarV252.uir"},
            {"calibration", &pPopup, "ui/K-VEX-XCRidarV252.uir"},
            {"recorder", &pRecord, "ui/K-VEX-XCRidarV252.uir"},
            {"analysis", &pAnalysis, "ui/K-VEX-XCRidarAnalysis.ui"},
            {"compare", &pCompare, "ui/K-VEX-XCRidarCompare.ui"}};
}

// the controls Tab can reach, in the panel's focus chain
std::vector<QWidget *> TabChain(QWidget *panel) {
    std::vector<QWidget *> out;
    std::set<QWidget *> seen;
    for (QWidget *w = panel->nextInFocusChain(); w != panel && !seen.count(w);
         w = w->nextInFocusChain()) {
        seen.insert(w);
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(panel) && w->isEnabled() &&
            w->property("ctrlId").isValid())
            out.push_back(w);
    }
    return out;
}

class Access : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();   // the keys, as start-up sets them
    }
};

}   // namespace

TEST_F(Access, EveryControlIsNamedByItsLabelAndNoTwoShareAName) {
    for (const Window &win : Windows()) {
        QWidget *panel = rt_Widget(*win.panel, 0);
        ASSERT_NE(panel, nullptr) << win.what;
        const std::map<QString, QString> form =
            FormLabels(QStringLiteral(KVEX_SOURCE_DIR "/") + QLatin1String(win.form));
        ASSERT_FALSE(form.empty()) << win.form;
        std::map<QString, QString> names;   // name -> control
        for (QWidget *w : panel->findChildren<QWidget *>()) {
            if (!w->property("ctrlId").isValid() || !(w->focusPolicy() & Qt::TabFocus)) continue;
            const QString name = Name(w);
            EXPECT_FALSE(name.isEmpty()) << win.what << " " << w->objectName().toStdString();
            EXPECT_FALSE(names.count(name))
                << win.what << ": " << name.toStdString() << " for " << names[name].toStdString()
                << " and " << w->objectName().toStdString();
            names[name] = w->objectName();
        }
        std::set<QChar> letters;
        for (QLabel *l : panel->findChildren<QLabel *>()) {
            // what shows stays as the form has it, an underline apart
            if (form.count(l->objectName())) {
                EXPECT_EQ(QString(l->text()).remove(QRegularExpression("&(?!&)")),
                          form.at(l->objectName()))
                    << l->objectName().toStdString();
            }
            const int amp = l->text().indexOf(QLatin1Char('&'));
            if (amp < 0) continue;
            ASSERT_NE(l->buddy(), nullptr) << l->text().toStdString();
            const QChar letter = l->text().at(amp + 1).toLower();
            EXPECT_TRUE(letters.insert(letter).second)
                << win.what << ": Alt+" << QString(letter).toStdString() << " twice";
            // one label for two fields: each is named in the form
            if (l->objectName() == QLatin1String("label_21")) continue;
            // the same words twice on a panel add their group's title
            EXPECT_TRUE(Name(l->buddy()).startsWith(form.at(l->objectName())))
                << Name(l->buddy()).toStdString();
        }
    }
}

TEST_F(Access, NamesRolesAndDescriptionsAScreenReaderSays) {
    Windows();
    // clang-format off
    struct Case { int *panel; const char *control; const char *name; QAccessible::Role role; const char *description; };
    const Case cases[] = {
        {&pHandle, "NUMPower",          "Light power",           QAccessible::SpinBox,     "Range 0 to 1000"},
        {&pHandle, "NUMAverage",        "Averaging",             QAccessible::SpinBox,     "Range 0 to 1024"},
        {&pHandle, "NUMDeltaTol",       "Delta tolerance",       QAccessible::SpinBox,     "Delta tolerance"},
        {&pHandle, "NEDITEdgeLeft",     "Window left [pixel]",   QAccessible::SpinBox,     "in pixels"},
        {&pHandle, "NUMSetpoint",       "Set-point [pixel]",     QAccessible::SpinBox,     "Set-point"},
        {&pHandle, "NUMLedge",          "Left edge [pixel]",     QAccessible::SpinBox,     ""},
        {&pHandle, "NUMMvalueMm",       "Value [mm]",            QAccessible::SpinBox,     ""},
        {&pHandle, "SWITCHOpMode",      "Gain / mode",           QAccessible::Button,      "Operating mode"},
        {&pHandle, "RINGanaMode",       "Analog output",         QAccessible::ComboBox,    "Analog output mode"},
        {&pHandle, "DropDCom",          "COM port",               QAccessible::ComboBox,    "Serial port"},
        {&pHandle, "TEXTStatWinPxMean", "Mean (Last 100 [pixel])", QAccessible::EditableText, "Arithmetic mean"},
        {&pHandle, "TEXTStatus",        "Status",                QAccessible::EditableText, "Result of the last"},
        {&pHandle, "TEXTLinkHealth",    "Link health",           QAccessible::EditableText, "Link health"},
        {&pHandle, "RBTRam",            "Sensor RAM",            QAccessible::RadioButton, ""},
        {&pHandle, "RBTFile",           "File",                  QAccessible::RadioButton, ""},
        {&pHandle, "TOGGBTN_Recorder",  "Recorder...",           QAccessible::Button,      "recorder"},
        {&pHandle, "GRAPHBar",          "Bar graph",             QAccessible::Client,      ""},
        {&pPopup,  "NUMCalSlope",       "Slope [\u00b5m/pixel] (Calibration in the sensor)", QAccessible::SpinBox, "Calibration slope"},
        {&pPopup,  "NUMFitSlope",       "Slope [\u00b5m/pixel] (Calibration with two objects)", QAccessible::SpinBox, ""},
        {&pPopup,  "NUMPixelObject2",   "Measured [pixel] (Object 2)", QAccessible::SpinBox, ""},
        {&pPopup,  "ButtonAcceptObject1", "Accept object 1",     QAccessible::Button,      ""},
        {&pRecord, "NUMRecMinutes",     "Minutes",               QAccessible::SpinBox,     ""},
        {&pCompare, "BTNCmpFileToPanel", "File into the panel",  QAccessible::Button,      "file column"},
        {&pCompare, "STRINGCmpFile",    "File",                  QAccessible::EditableText, "parameter file"},
    };
    // clang-format on
    for (const Case &c : cases) {
        QWidget *w = drive::Widget(*c.panel, c.control);
        ASSERT_NE(w, nullptr) << c.control;
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr) << c.control;
        EXPECT_EQ(Name(w).toStdString(), c.name) << c.control;
        EXPECT_EQ(a->role(), c.role) << c.control;
        EXPECT_TRUE(a->text(QAccessible::Description).contains(QString::fromUtf8(c.description)))
            << c.control << ": " << a->text(QAccessible::Description).toStdString();
    }
    // a toggle says whether it is down, a radio button whether it is chosen
    QWidget *ram = drive::Widget(pHandle, "RBTRam");
    QWidget *zoom = drive::Widget(pHandle, "TOGGLEZoom");
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(ram)->state().checkable);
    QAccessibleInterface *z = QAccessible::queryAccessibleInterface(zoom);
    EXPECT_TRUE(z->state().checkable);
    EXPECT_EQ(z->state().checked, static_cast<QAbstractButton *>(zoom)->isChecked());
}

TEST_F(Access, AltLetterReachesTheFieldAndTabFollowsTheRows) {
    ASSERT_TRUE(drive::Activate(pHandle));
    // the label's underlined letter, as a keyboard user finds it
    const struct {
        const char *keys, *control;
    } mnemonics[] = {
        {"Alt+L", "NUMPower"}, {"Alt+A", "NUMAverage"}, {"Alt+V", "NUMVideoThreshold"}};
    for (const auto &m : mnemonics) {
        drive::Focus(pHandle, "BTNRun");
        drive::PanelKey(pHandle, m.keys);
        ProcessSystemEvents();
        ASSERT_NE(QApplication::focusWidget(), nullptr) << m.keys;
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), m.control) << m.keys;
    }
    // Tab in a group goes row by row, left to right, and leaves a group
    // only when its fields are done
    for (const Window &win : Windows()) {
        QWidget *panel = rt_Widget(*win.panel, 0);
        // laid out only once shown
        const bool shown = rt_IsShown(*win.panel);
        DisplayPanel(*win.panel);
        ProcessSystemEvents();
        std::vector<QWidget *> chain = TabChain(panel);
        if (!shown) HidePanel(*win.panel);
        ASSERT_FALSE(chain.empty()) << win.what;
        std::set<QWidget *> doneGroups;
        QWidget *group = nullptr;
        QPoint last;
        for (QWidget *w : chain) {
            QWidget *g = w->parentWidget();
            while (g != panel && !qobject_cast<QGroupBox *>(g)) g = g->parentWidget();
            const QPoint at = w->mapTo(panel, QPoint(0, w->height() / 2));
            if (g != group) {
                EXPECT_FALSE(doneGroups.count(g)) << win.what << ": Tab comes back into a group at "
                                                  << w->objectName().toStdString();
                if (group) doneGroups.insert(group);
                group = g;
            } else if (g != panel) {
                const bool sameRow = std::abs(at.y() - last.y()) < w->height() / 2 + 2;
                EXPECT_TRUE(sameRow ? at.x() > last.x() : at.y() > last.y())
                    << win.what << ": " << w->objectName().toStdString() << " out of order";
            }
            last = at;
        }
    }
}

TEST_F(Access, EscAndCloseButtonsCloseEverySecondaryWindow) {
    Windows();
    // clang-format off
    const struct { int *panel; const char *how; int toggle; } cases[] = {
        {&pPopup,    "Esc",         PANEL_TOGGBTN_ParaII},
        {&pPopup,    "BTNCalClose", PANEL_TOGGBTN_ParaII},
        {&pRecord,   "Esc",         PANEL_TOGGBTN_Recorder},
        {&pRecord,   "BTNRecClose", PANEL_TOGGBTN_Recorder},
        {&pAnalysis, "Esc",         0},
        {&pCompare,  "Esc",         0},
        {&pCompare,  "BTNCmpClose", 0},
    };
    // clang-format on
    for (const auto &c : cases) {
        if (c.toggle)
            drive::Click(pHandle,
                         c.toggle == PANEL_TOGGBTN_ParaII ? "TOGGBTN_ParaII" : "TOGGBTN_Recorder");
        else DisplayPanel(*c.panel);
        ProcessSystemEvents();
        ASSERT_EQ(rt_IsShown(*c.panel), 1) << c.how;
        if (std::string(c.how) == "Esc") {
            drive::Activate(*c.panel);
            drive::PanelKey(*c.panel, "Esc");
        } else {
            drive::Click(*c.panel, c.how);
        }
        ProcessSystemEvents();
        EXPECT_EQ(rt_IsShown(*c.panel), 0) << c.how;
        if (c.toggle) { EXPECT_EQ(IntVal(pHandle, c.toggle), 0) << c.how; }
        EXPECT_EQ(rt_IsShown(pHandle), 1) << c.how;
    }
}

TEST_F(Access, MenuKeyAndShiftF10OpenTheGraphsPictureMenu) {
    ASSERT_TRUE(drive::Activate(pHandle));
    for (const char *key : {"Menu", "Shift+F10"}) {
        ASSERT_TRUE(drive::Focus(pHandle, "GRAPHBar"));
        QStringList seen;
        QTimer::singleShot(200, [&seen] {
            if (auto *m = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *a : m->actions()) seen << a->text();
                m->close();
            }
        });
        drive::PanelKey(pHandle, key);
        ProcessSystemEvents();
        EXPECT_EQ(seen, QStringList({"Save this graph as PNG...",
                                     "Save the whole panel as PNG...  (Ctrl+P)"}))
            << key;
        QTest::qWait(600);   // the same press is not taken twice
    }
}

// Shown on the screen of this run, each window lies inside the screen's free
// area, every control in it can be scrolled to, nothing is squeezed below
// what its layout needs, and no text is cut short.
TEST_F(Access, EveryWindowFitsTheScreenWithNothingCut) {
    for (const Window &win : Windows()) {
        QWidget *panel = rt_Widget(*win.panel, 0);
        DisplayPanel(*win.panel);
        ProcessSystemEvents();
        const QRect free = panel->screen()->availableGeometry();
        EXPECT_TRUE(free.contains(panel->frameGeometry()))
            << win.what << " " << panel->frameGeometry().x() << "," << panel->frameGeometry().y()
            << " " << panel->frameGeometry().width() << "x" << panel->frameGeometry().height()
            << " in " << free.width() << "x" << free.height();
        auto *area = panel->findChild<QScrollArea *>();
        ASSERT_NE(area, nullptr) << win.what;
        QWidget *content = area->widget();
        const QSize need = content->minimumSizeHint();
        EXPECT_GE(content->width(), need.width()) << win.what;
        EXPECT_GE(content->height(), need.height()) << win.what;
        // what the window does not show, a scroll bar reaches
        EXPECT_EQ(area->verticalScrollBar()->isVisible(),
                  content->height() > area->viewport()->height())
            << win.what;
        EXPECT_EQ(area->horizontalScrollBar()->isVisible(),
                  content->width() > area->viewport()->width())
            << win.what;
        for (QWidget *w : content->findChildren<QWidget *>()) {
            if (!w->isVisibleTo(panel) || w->size().isEmpty()) continue;
            const std::string what = win.what + (" " + w->objectName().toStdString());
            // the logo strip is drawn wider than any screen on purpose
            const bool decoration = QLatin1String(w->metaObject()->className()) == "QFrame";
            if (w->property("ctrlId").isValid() && !decoration) {
                EXPECT_TRUE(content->rect().contains(QRect(w->mapTo(content, QPoint()), w->size())))
                    << what;
            }
            const QFontMetrics fm = w->fontMetrics();
            if (auto *l = qobject_cast<QLabel *>(w)) {
                if (l->text().isEmpty() || l->objectName().startsWith("qt_")) continue;
                if (l->wordWrap()) EXPECT_GE(l->height(), l->heightForWidth(l->width())) << what;
                else EXPECT_GE(l->width(), l->sizeHint().width()) << what;
            } else if (auto *b = qobject_cast<QAbstractButton *>(w)) {
                if (!b->text().isEmpty()) { EXPECT_GE(b->width(), b->sizeHint().width()) << what; }
            } else if (auto *le = qobject_cast<QLineEdit *>(w)) {
                // the field's text with the frame and the edit's margins
                EXPECT_LE(fm.horizontalAdvance(le->text()) + 8, le->width())
                    << what << " \"" << le->text().toStdString() << "\"";
            }
            if (auto *g = qobject_cast<QGroupBox *>(w)) {
                EXPECT_GE(g->width(), fm.horizontalAdvance(g->title()) + 8) << what;
            }
        }
        // the lowest field, when out of sight, comes into sight with the focus
        const std::vector<QWidget *> chain = TabChain(panel);
        ASSERT_FALSE(chain.empty()) << win.what;
        QWidget *low =
            *std::max_element(chain.begin(), chain.end(), [content](QWidget *a, QWidget *b) {
                return a->mapTo(content, QPoint(0, a->height())).y() <
                       b->mapTo(content, QPoint(0, b->height())).y();
            });
        low->setFocus(Qt::ShortcutFocusReason);
        ProcessSystemEvents();
        const QRect seen(low->mapTo(area->viewport(), QPoint()), low->size());
        EXPECT_TRUE(area->viewport()->rect().contains(seen))
            << win.what << " " << low->objectName().toStdString();
        if (win.panel != &pHandle) HidePanel(*win.panel);
    }
}

// The same on a laptop's 1366x768 screen less a task bar, and at the scale
// factors 1.5 and 2 on screens as much larger.
TEST(ScreenFit, At1366x720AndScaleFactors) {
    const struct {
        const char *factor;
        int width, height;
    } screens[] = {{"1", 1366, 720}, {"1.5", 2049, 1080}, {"2", 2732, 1440}};
    for (const auto &s : screens) {
        const std::string config = ::testing::TempDir() + "screen-" + s.factor + ".json";
        FILE *f = std::fopen(config.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f,
                     "{\"screens\": [{\"name\": \"S\", \"x\": 0, \"y\": 0, \"width\": %d, "
                     "\"height\": %d, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}\n",
                     s.width, s.height);
        std::fclose(f);
        ChildProcess child;
        ASSERT_TRUE(child.Start("/proc/self/exe",
                                {"--gtest_filter=Access.EveryWindowFitsTheScreenWithNothingCut"},
                                {"QT_QPA_PLATFORM=offscreen:configfile=" + config,
                                 std::string("QT_SCALE_FACTOR=") + s.factor}));
        ASSERT_TRUE(child.Wait(90)) << s.factor;
        EXPECT_EQ(child.rc, 0) << "scale " << s.factor << "\n" << child.out;
        // the child saw the screen meant: 1366x720 whatever the factor
        EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
    }
}
