// A chart's own history depth and its export to PNG and CSV, through the
// calls and through the context menu the user opens.
#include "platform/files/files.h"
#include "platform/ui/chart_view.h"
#include "platform/ui/ui_internal.h"
#include "tests/support/file_dialog.h"
#include "tests/support/full_disk.h"
#include "ui_testing.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace uitest;
using qvar::ui::ChartView;
using qvar::ui::Range;

namespace {

std::vector<std::string> g_messages;

void Note(const char *text) { g_messages.emplace_back(text); }

// Plots as the scope does: the whole history, shifted by one point a call.
class ChartToolsTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        g_messages.clear();
        SetChartMessageCallback(Note);
        qvar_test::Dialog().result = 2;
        history_.assign(20, 0.0);   // 10 points of 2 traces, as the test chart has
    }
    void TearDown() override
    {
        SetChartMessageCallback(nullptr);
        UiTest::TearDown();
    }
    void plot(int points)
    {
        for (int i = 0; i < points; ++i, ++n_) {
            history_.erase(history_.begin(), history_.begin() + 2);
            history_.insert(history_.end(), {n_ * 0.1 + 1e-9, -double(n_) / 3});
            ASSERT_EQ(PlotStripChart(main_, T_STRIP, history_.data(), 20, 0, 0), 0);
        }
    }
    std::vector<double> kept(int trace)
    {
        std::vector<double> y(20000);
        y.resize(size_t(std::max(0, GetChartHistory(main_, T_STRIP, trace, y.data(), int(y.size())))));
        return y;
    }
    ChartView *view(int control) { return W(control)->findChild<ChartView *>(); }
    void trigger(int control, const QString &text)
    {
        QMenu menu;
        view(control)->fillMenu(menu);
        for (QAction *a : menu.actions())
            if (a->text() == text)
                return a->trigger();
        ADD_FAILURE() << "no menu entry " << text.toStdString();
    }
    // The user picks the menu entry `text` and answers its dialog with `file`.
    void trigger(int control, const QString &text, const std::string &file)
    {
        qvar_test::Dialog().path = file;
        trigger(control, text);
    }
    std::string path(const char *name) const { return dir_.filePath(QString::fromLatin1(name)).toStdString(); }
    QStringList leftovers() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden); }

    qvar_test::AnsweredDialogs dialogs_;
    std::vector<double> history_;
    int n_ = 0;
};

std::vector<std::vector<std::string>> readCsv(const std::string &file)
{
    QFile f(QString::fromStdString(file));
    std::vector<std::vector<std::string>> rows;
    if (!f.open(QIODevice::ReadOnly))
        return rows;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        rows.emplace_back();
        for (const QByteArray &cell : line.split(','))
            rows.back().push_back(cell.toStdString());
    }
    return rows;
}

} // namespace

TEST_F(ChartToolsTest, HistoryDepthKeepsTheNewestPointsAndNoMore)
{
    EXPECT_EQ(GetChartHistoryDepth(main_, T_STRIP), 100);
    plot(1);   // the first plot keeps the whole history handed over
    EXPECT_EQ(kept(1).size(), 10u);
    plot(149);
    std::vector<double> k = kept(2);
    ASSERT_EQ(k.size(), 100u);
    EXPECT_EQ(k.front(), -50.0 / 3);
    EXPECT_EQ(k.back(), -149.0 / 3);

    EXPECT_EQ(SetChartHistoryDepth(main_, T_STRIP, 500), UI_ERR_VALUE);
    ASSERT_EQ(SetChartHistoryDepth(main_, T_STRIP, 10000), 0);
    EXPECT_EQ(kept(2), k);   // a deeper ring keeps what it had
    plot(10050);
    k = kept(2);
    ASSERT_EQ(k.size(), 10000u);
    EXPECT_EQ(k.front(), -double(n_ - 10000) / 3);
    EXPECT_EQ(k.back(), -double(n_ - 1) / 3);
    int err = 0;
    EXPECT_LE(qvar::ui::findCtrl(main_, T_STRIP, &err)->strip->kept.capacity(), 10000u * 2);

    ASSERT_EQ(SetChartHistoryDepth(main_, T_STRIP, 1000), 0);
    EXPECT_EQ(kept(2), std::vector<double>(k.end() - 1000, k.end()));
    EXPECT_EQ(GetStripChartTrace(main_, T_STRIP, 2, nullptr, 100), 10);   // the screen still shows 10
}

TEST_F(ChartToolsTest, PausedChartScrollsBackThroughTheWholeDepth)
{
    DisplayPanel(main_);
    SetChartHistoryDepth(main_, T_STRIP, 1000);
    plot(1500);
    ChartView *c = view(T_STRIP);
    c->setPaused(true);
    EXPECT_EQ(GetStripChartTrace(main_, T_STRIP, 1, nullptr, 2000), 10);   // read-back: the screen's span
    plot(5);   // the history moves on behind the paused picture
    const std::vector<double> k = kept(1);
    ASSERT_EQ(k.size(), 1000u);
    // Panned 900 points back: the values there are the kept ones.
    c->setView(Range{-900, -891}, std::nullopt);
    const auto r = c->readingAt(c->toPixel(QPointF(-895, 0)));
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.front().x, -895);
    EXPECT_EQ(r.front().y, k[size_t(-895 + 1000 - 10 - 5)]);   // 5 points arrived since the pause
    c->setPaused(false);
    EXPECT_EQ(GetStripChartTrace(main_, T_STRIP, 1, nullptr, 2000), 10);
    HidePanel(main_);
}

TEST_F(ChartToolsTest, CsvExportRoundTripsTheHistoryAndTheVisibleRange)
{
    SetChartHistoryDepth(main_, T_STRIP, 1000);
    plot(400);
    EXPECT_EQ(SetStripChartTraceName(main_, T_STRIP, 2, "channel B"), 0);
    EXPECT_EQ(SetStripChartTraceName(main_, T_STRIP, 3, "none"), UI_ERR_VALUE);
    ASSERT_EQ(SaveChartData(main_, T_STRIP, path("all.csv").c_str(), 0), 0);
    const auto rows = readCsv(path("all.csv"));
    ASSERT_EQ(rows.size(), 1 + 409u);   // 10 seeded + 399 newest
    EXPECT_EQ(rows[0], (std::vector<std::string>{"point", "Trace 1", "channel B"}));
    const std::vector<double> a = kept(1), b = kept(2);
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), 3u);
        EXPECT_EQ(std::strtod(rows[i + 1][1].c_str(), nullptr), a[i]) << i;
        EXPECT_EQ(std::strtod(rows[i + 1][2].c_str(), nullptr), b[i]) << i;
    }
    EXPECT_EQ(rows.back()[0], "9");   // the newest at the axis's right end

    view(T_STRIP)->setView(Range{5, 8}, std::nullopt);
    ASSERT_EQ(SaveChartData(main_, T_STRIP, path("shown.csv").c_str(), 1), 0);
    const auto shown = readCsv(path("shown.csv"));
    ASSERT_EQ(shown.size(), 1 + 4u);
    EXPECT_EQ(shown[1][0], "5");
    EXPECT_EQ(std::strtod(shown[4][2].c_str(), nullptr), b[b.size() - 2]);

    // The graph: its plots by name, one row per point.
    std::vector<unsigned short> x(128), up(128), lo(128);
    for (int i = 0; i < 128; ++i)
        x[size_t(i)] = i + 1, up[size_t(i)] = 600 + i, lo[size_t(i)] = 400 - i;
    SetGraphPlotName(main_, T_GRAPH, PlotXY(main_, T_GRAPH, x.data(), up.data(), 128, 0, 0, 0, 0), "maximum");
    SetGraphPlotName(main_, T_GRAPH, PlotXY(main_, T_GRAPH, x.data(), lo.data(), 128, 0, 0, 0, 0), "minimum, low");
    ASSERT_EQ(SaveChartData(main_, T_GRAPH, path("curve.csv").c_str(), 0), 0);
    const auto curve = readCsv(path("curve.csv"));
    ASSERT_EQ(curve.size(), 129u);
    EXPECT_EQ(curve[0], (std::vector<std::string>{"point", "maximum", "\"minimum", " low\""}));
    EXPECT_EQ(curve[128], (std::vector<std::string>{"128", "727", "273"}));
}

// Paused, the data saved is the frozen picture's, however far the history
// has moved on behind it.
TEST_F(ChartToolsTest, PausedChartSavesThePointsItShows)
{
    DisplayPanel(main_);
    plot(30);
    ChartView *c = view(T_STRIP);
    c->setPaused(true);
    const std::vector<double> frozen = kept(2);
    plot(7);
    trigger(T_STRIP, "Save data...", path("paused.csv"));
    auto rows = readCsv(path("paused.csv"));
    ASSERT_EQ(rows.size(), 1 + frozen.size());
    for (size_t i = 0; i < frozen.size(); ++i)
        EXPECT_EQ(std::strtod(rows[i + 1][2].c_str(), nullptr), frozen[i]) << i;
    EXPECT_EQ(rows.back()[0], "9");

    c->setView(Range{8, 9}, std::nullopt);
    ASSERT_EQ(SaveChartData(main_, T_STRIP, path("shown.csv").c_str(), 1), 0);
    rows = readCsv(path("shown.csv"));
    ASSERT_EQ(rows.size(), 1 + 2u);
    EXPECT_EQ(std::strtod(rows[2][2].c_str(), nullptr), frozen.back());
    c->setPaused(false);
    HidePanel(main_);
}

TEST_F(ChartToolsTest, PngExportIsTheChartAtTheAskedSize)
{
    plot(10);
    SetAxisScalingMode(main_, T_STRIP, AXIS_Y, AXIS_MANUAL, -5.0, 2.0);
    SetTraceAttribute(main_, T_STRIP, 1, ATTR_TRACE_COLOR, 0xFF0000);
    const QSize size = view(T_STRIP)->size();
    for (int scale : {1, 2}) {
        const std::string file = path(scale == 1 ? "one.png" : "two.png");
        ASSERT_EQ(SaveChartPicture(main_, T_STRIP, file.c_str(), scale), 0);
        QImage img;
        ASSERT_TRUE(img.load(QString::fromStdString(file), "PNG"));
        EXPECT_EQ(img.size(), size * scale);
        int red = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                red += img.pixelColor(x, y) == QColor(255, 0, 0);
        EXPECT_GT(red, 20 * scale) << "the trace is drawn";
    }
    EXPECT_EQ(SaveChartPicture(main_, T_STRIP, path("three.png").c_str(), 3), UI_ERR_VALUE);
}

TEST_F(ChartToolsTest, MenuSavesIntoTheChosenFileOrReportsAndLeavesNothing)
{
    plot(20);
    char project[FILE_PATH_MAX] = {};
    ASSERT_EQ(GetProjectDir(project), 0);
    trigger(T_STRIP, "Save data...", path("menu.csv"));
    EXPECT_EQ(qvar_test::Dialog().startDir, project);
    EXPECT_EQ(readCsv(path("menu.csv")).size(), 1 + 29u);
    trigger(T_GRAPH, "Save picture at 2x...", path("menu.png"));
    EXPECT_EQ(QImage(QString::fromStdString(path("menu.png"))).size(), view(T_GRAPH)->size() * 2);
    EXPECT_TRUE(g_messages.empty());

    // A FIFO, a folder, a folder that is not there: refused, reported, and
    // nothing written under the name or beside it.
    const std::string fifo = path("pipe.csv"), folder = path("folder.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const QStringList before = leftovers();
    trigger(T_STRIP, "Save visible data...", fifo);
    trigger(T_STRIP, "Save picture...", folder);
    trigger(T_GRAPH, "Save data...", path("gone/x.csv"));
    EXPECT_EQ(g_messages, (std::vector<std::string>{"Cannot write data file!", "Cannot write picture file!",
                                                     "Cannot write data file!"}));
    EXPECT_EQ(leftovers(), before);
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("gone/x.csv"))));

    // On a full disk: reported, and the file under the name stays whole.
    {
        qvar_test::FullDisk disk;
        qvar_test::Dialog().path = disk.file("kept.csv");
        qvar_test::WriteText(qvar_test::Dialog().path, "an earlier export\n");
        disk.Fill();
        g_messages.clear();
        trigger(T_STRIP, "Save data...");
        trigger(T_STRIP, "Save picture...");
        EXPECT_EQ(g_messages, (std::vector<std::string>{"Cannot write data file!", "Cannot write picture file!"}));
        EXPECT_EQ(qvar_test::ReadAll(qvar_test::Dialog().path), "an earlier export\n") << (disk.mounted() ? "tmpfs" : "seam");
        EXPECT_EQ(disk.Entries(), std::vector<std::string>{"kept.csv"});
    }

    // A folder the program may not write into (not testable as root).
    const std::string locked = path("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
    if (access(locked.c_str(), W_OK) != 0) {
        trigger(T_STRIP, "Save picture...", locked + "/x.png");
        EXPECT_EQ(g_messages.back(), "Cannot write picture file!");
        EXPECT_TRUE(QDir(QString::fromStdString(locked)).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }
    chmod(locked.c_str(), 0700);
}
