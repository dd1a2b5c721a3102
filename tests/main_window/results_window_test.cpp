// Results in the window with the real tools: a channel run and a decode done
// through the window give the numbers of the experiment's run with the same
// seed; the quality block, its CSV and the plot window follow each decode.
#include "main_window/experiment_dialog.h"
#include "main_window/frame_viewer_window.h"
#include "main_window/quality_plot_window.h"
#include "main_window/radio_group.h"
#include "tests/main_window/window_fixture.h"
#include "tests/main_window/window_parts.h"
#include "tools/quality/frame_loss_file.h"
#include "tools/quality/quality.h"

#include <QAction>
#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineSeries>
#include <QTest>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QValueAxis>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune::testing;

namespace {

QDir workbench() { return QDir(qEnvironmentVariable("KESTRUNE_WORKBENCH", QStringLiteral(KESTRUNE_WORKBENCH_DIR))); }

constexpr int kSeed = 11;

class ResultsWindow : public WindowInStartDirectory {
protected:
    void SetUp() override
    {
        WindowInStartDirectory::SetUp();
        for (const QString& tool : {u"h264_analyze.exe"_s, u"ffmpeg.exe"_s, u"kestrune-experiment"_s})
            ASSERT_TRUE(QFile::link(workbench().filePath(tool), at(tool)));
        // A user repeating run 0 of the experiment gives gilbert.exe its seed.
        writeScript(start, u"gilbert.exe"_s,
                    "exec '" + workbench().filePath(u"gilbert.exe"_s).toUtf8() + "' \"$@\" " + QByteArray::number(kSeed)
                        + "\n");
        QProcess encode;
        encode.start(workbench().filePath(u"x264.exe"_s), {u"--qp"_s, u"30"_s, u"--slices"_s, u"4"_s, u"--frames"_s,
                                                            u"24"_s, original(), u"-o"_s, at(u"s.264"_s)});
        ASSERT_TRUE(encode.waitForFinished(120000));
        ASSERT_TRUE(QFile::exists(at(u"s.264"_s)));
    }
    static QString original() { return workbench().filePath(u"sample_176x144.yuv"_s); }

    // Apply and Decode through the window's controls.
    void channelAndDecode(const QString& lossRate, const QString& decoded)
    {
        ui(form).LabeledEdit1->setText(original());
        ui(form).LabeledEdit2->setText(u"s.264"_s);
        ui(form).Edit11->setText(lossRate);
        ui(form).Edit12->setText(u"2"_s);
        ui(form).LabeledEdit6->setText(u"lossy.264"_s);
        ui(form).Button4->click();
        ui(form).LabeledEdit3->setText(u"lossy.264"_s);
        ui(form).LabeledEdit4->setText(decoded);
        ui(form).RadioGroup2->setItemIndex(3);
        ui(form).RadioGroup3->setItemIndex(1);
        ui(form).Button10->click();
    }
};

TEST_F(ResultsWindow, TheExperimentsRunWithTheSameSeedGivesTheWindowsNumbers)
{
    channelAndDecode(u"10"_s, u"dec_176x144.yuv"_s);
    ASSERT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
    const QString log = ui(form).Memo1->toPlainText();
    const auto dropped = QRegularExpression(u"Dropped NAL units:\\n([0-9,]*)"_s).match(log);
    ASSERT_TRUE(dropped.hasMatch()) << log.toStdString();
    const auto withLoss = QRegularExpression(u"Frames with lost macroblocks: (\\d+)"_s).match(log);
    ASSERT_TRUE(withLoss.hasMatch()) << log.toStdString();
    // Independent of the window's own numbers: the decoded file against the original.
    const auto c = kestrune::quality::compareFiles(original().toStdString(), at(u"dec_176x144.yuv"_s).toStdString(),
                                                   {176, 144});
    ASSERT_EQ(c.frames.size(), 24u);

    QProcess tool;
    tool.start(at(u"kestrune-experiment"_s),
               {u"--stream"_s, at(u"s.264"_s), u"--original"_s, original(), u"--loss-rates"_s, u"10"_s, u"--bursts"_s,
                u"2"_s, u"--pairs"_s, u"3:1"_s, u"--runs"_s, u"1"_s, u"--seed"_s, QString::number(kSeed),
                u"--tools"_s, workbench().path(), u"--output"_s, at(u"exp"_s)});
    ASSERT_TRUE(tool.waitForFinished(120000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
    const QStringList rows = QString::fromUtf8(readFile(at(u"exp/runs.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 2);
    const QStringList row = rows[1].split(u',');
    ASSERT_EQ(row[8], u"ok"_s) << rows[1].toStdString();
    EXPECT_EQ(row[10].toInt(), dropped.captured(1).count(u','));
    EXPECT_EQ(row[14], withLoss.captured(1));
    EXPECT_NEAR(row[15].toDouble(), c.mean.psnrY, 6e-5);
    EXPECT_NEAR(row[18].toDouble(), c.mean.ssimY, 6e-7);

    // The CSV beside the output, one row per frame with the loss columns.
    const QStringList csv = QString::fromUtf8(readFile(at(u"dec_176x144.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(csv.size(), 25);
    int framesWithLoss = 0;
    for (const QString& line : csv.mid(1)) framesWithLoss += line.split(u',')[5].toInt() > 0;
    EXPECT_EQ(QString::number(framesWithLoss), withLoss.captured(1));
    // The loss file stays beside the output, its lost macroblocks those of the CSV.
    EXPECT_FALSE(QFile::exists(at(u"tmp.yuv.mbloss"_s)));
    const auto loss = kestrune::quality::parseFrameLoss(readFile(at(u"dec_176x144.yuv.mbloss"_s)).toStdString());
    ASSERT_TRUE(loss);
    ASSERT_EQ(loss->frames.size(), 24u);
    for (std::size_t i = 0; i < 24; ++i) {
        EXPECT_EQ(loss->frames[i].lost, csv[qsizetype(i) + 1].split(u',')[5].toInt()) << i;
        EXPECT_EQ(loss->frames[i].macroblocks.size(), 99u) << i;
    }
}

TEST_F(ResultsWindow, ThePlotWindowOverlaysTheLastDecodesAndExportsThem)
{
    // Empty, the frame axis reads 0 and 1, not whole numbers repeated.
    ui(form).QualityPlot1->trigger();
    auto* empty = form->findChild<QualityPlotWindow*>();
    ASSERT_NE(empty, nullptr);
    const auto axes = empty->chartView()->chart()->axes(Qt::Horizontal);
    ASSERT_EQ(axes.size(), 1);
    EXPECT_EQ(static_cast<QValueAxis*>(axes[0])->tickCount(), 2);

    channelAndDecode(u"5"_s, u"a_176x144.yuv"_s);
    channelAndDecode(u"10"_s, u"b_176x144.yuv"_s);
    ASSERT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
    ui(form).QualityPlot1->trigger();
    auto* plot = form->findChild<QualityPlotWindow*>();
    ASSERT_NE(plot, nullptr);
    // A name typed without a suffix gets the file type's.
    QPushButton* exportCsv = nullptr;
    for (auto* button : plot->findChildren<QPushButton*>())
        if (button->text() == u"Export CSV..."_s) exportCsv = button;
    ASSERT_NE(exportCsv, nullptr);
    prompts.files = {at(u"plot"_s)};
    exportCsv->click();
    prompts.clear();
    const QStringList lines = QString::fromUtf8(readFile(at(u"plot.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 25);
    EXPECT_EQ(lines[0].toStdString(), u"frame,a_176x144.yuv, Bilinear + BMA, 5 % loss,b_176x144.yuv, Bilinear + BMA, 10 % loss"_s
                            .replace(u"a_176x144.yuv, Bilinear + BMA, 5 % loss"_s,
                                     u"\"a_176x144.yuv, Bilinear + BMA, 5 % loss\""_s)
                            .replace(u"b_176x144.yuv, Bilinear + BMA, 10 % loss"_s,
                                     u"\"b_176x144.yuv, Bilinear + BMA, 10 % loss\""_s).toStdString());
    const QStringList a = QString::fromUtf8(readFile(at(u"a_176x144.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    EXPECT_EQ(lines[7].split(u',')[1], a[7].split(u',')[1]); // frame 6's Y-PSNR, as in the decode's own CSV
    // Hovering a curve reads out its frame and value.
    const auto series = plot->chartView()->chart()->series();
    ASSERT_EQ(series.size(), 4); // a line and the loss marks per decode
    emit static_cast<QLineSeries*>(series[0])->hovered(QPointF(6.2, 24.5), true);
    EXPECT_EQ(plot->hoverLabel()->text(), u"Frame 6: 24.50 dB (a_176x144.yuv, Bilinear + BMA, 5 % loss)"_s);
    EXPECT_TRUE(plot->exportPng(at(u"plot.png"_s)));
    EXPECT_GT(QFileInfo(at(u"plot.png"_s)).size(), 1000);
}

TEST_F(ResultsWindow, ADoubleClickOnThePlotOpensTheFrameViewerAtThatFrame)
{
    channelAndDecode(u"10"_s, u"a_176x144.yuv"_s);
    ASSERT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
    // The menu item opens the last decode at its first frame.
    ui(form).FrameViewer1->trigger();
    auto* viewer = form->findChild<FrameViewerWindow*>();
    ASSERT_NE(viewer, nullptr);
    ASSERT_NE(viewer->decode(), nullptr) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(viewer->currentFrame(), 0);

    ui(form).QualityPlot1->trigger();
    auto* plot = form->findChild<QualityPlotWindow*>();
    ASSERT_NE(plot, nullptr);
    const auto series = plot->chartView()->chart()->series();
    ASSERT_FALSE(series.empty());
    emit static_cast<QLineSeries*>(series[0])->doubleClicked(QPointF(7.2, 30));
    EXPECT_EQ(form->findChild<FrameViewerWindow*>(), viewer) << "one viewer";
    EXPECT_EQ(viewer->decode()->frames().path(), at(u"a_176x144.yuv"_s));
    EXPECT_EQ(viewer->currentFrame(), 7);
    EXPECT_TRUE(viewer->decode()->hasLossMap());
    EXPECT_EQ(viewer->decode()->psnrY().size(), 24u);
    EXPECT_TRUE(viewer->notesText().isEmpty()) << viewer->notesText().toStdString();

    // The overlays change the decoded panel only where a frame had loss.
    viewer->setZoom(FrameViewerWindow::Zoom1);
    const qint64 lossy = kestrune::frameview::nextFrameWithLoss(*viewer->decode(), -1);
    ASSERT_GE(lossy, 0);
    viewer->showFrame(lossy);
    viewer->setOverlays(0);
    const QImage plain = viewer->panel(1);
    viewer->setOverlays(kestrune::frameview::LostOverlay | kestrune::frameview::ConcealedOverlay);
    EXPECT_NE(viewer->panel(1), plain);
    EXPECT_EQ(plain.size(), QSize(176, 144));

    // The same decode compared with itself: a black difference.
    ASSERT_TRUE(viewer->compareWith(at(u"a_176x144.yuv"_s)));
    const QImage difference = viewer->panel(2);
    int lit = 0;
    for (int y = 0; y < difference.height(); ++y)
        for (int x = 0; x < difference.width(); ++x) lit += qGray(difference.pixel(x, y)) != 0;
    EXPECT_EQ(lit, 0);
    viewer->stopComparing();  // back to the original, which the coded frame differs from
    const QImage toOriginal = viewer->panel(2);
    lit = 0;
    for (int y = 0; y < toOriginal.height(); ++y)
        for (int x = 0; x < toOriginal.width(); ++x) lit += qGray(toOriginal.pixel(x, y)) != 0;
    EXPECT_GT(lit, 0);

    ASSERT_TRUE(viewer->exportView(at(u"view.png"_s)));
    EXPECT_GT(QImage(at(u"view.png"_s)).width(), 3 * 176);
    const auto series2 = viewer->exportFrames(at(u"s.png"_s), 2, 4);
    EXPECT_EQ(series2.written, (QStringList{at(u"s_0002.png"_s), at(u"s_0003.png"_s), at(u"s_0004.png"_s)}));
    for (const QString& path : series2.written) EXPECT_FALSE(QImage(path).isNull()) << path.toStdString();
    EXPECT_EQ(viewer->currentFrame(), lossy) << "the export returns to the frame shown";
}

TEST_F(ResultsWindow, AnExperimentToolThatCannotStartIsReportedAndTheFieldsComeBack)
{
    // The window started outside the workbench folder names a tool that is not there.
    ExperimentDialog dialog(at(u"no-such-folder/kestrune-experiment"_s), prompts);
    kestrune::experiment::Settings s;
    s.stream = at(u"s.264"_s);
    s.original = original();
    s.width = 176, s.height = 144;
    s.lossRates = {u"5"_s};
    s.burstLengths = {u"2"_s};
    s.pairs = {{0, 0}};
    s.runs = 1;
    dialog.prefill(s, at(u"never-run"_s));
    QSignalSpy done(&dialog, &ExperimentDialog::runFinished);
    dialog.runHere();
    ASSERT_TRUE(done.count() == 1 || done.wait(10000));
    EXPECT_FALSE(dialog.running());
    EXPECT_TRUE(dialog.findChild<QLineEdit*>(u"firstSeed"_s)->isEnabled());
    EXPECT_TRUE(dialog.statusLabel()->text().startsWith(u"The experiment could not start "_s))
        << dialog.statusLabel()->text().toStdString();
    EXPECT_TRUE(dialog.plotLabel()->pixmap().isNull());
}

TEST_F(ResultsWindow, TheExperimentDialogRunsTheToolAndShowsItsPlot)
{
    ui(form).LabeledEdit1->setText(original());
    ui(form).LabeledEdit2->setText(at(u"s.264"_s));
    ui(form).Experiment1->trigger();
    auto* dialog = form->findChild<ExperimentDialog*>();
    ASSERT_NE(dialog, nullptr);
    kestrune::experiment::Settings s = dialog->settings();
    EXPECT_EQ(s.width, 176); // from the original's name
    s.runs = 2;
    s.lossRates = {u"5"_s, u"10"_s};
    s.pairs = {{3, 1}, {0, 0}};
    // Numbers the fields cannot hold are refused with a message, nothing runs.
    auto* seed = dialog->findChild<QLineEdit*>(u"firstSeed"_s);
    auto* timeLimit = dialog->findChild<QLineEdit*>(u"timeLimit"_s);
    ASSERT_TRUE(seed && timeLimit);
    for (const QString& bad : {u"-1"_s, u"abc"_s, u"99999999999999999999"_s, u"2147483648"_s}) {
        seed->setText(bad);
        dialog->runHere();
        EXPECT_FALSE(dialog->running()) << bad.toStdString();
        EXPECT_EQ(prompts.messages().join(u'|'), u"Experiment: the first seed '"_s + bad
                                                     + u"' is not a whole number from 0 to 2147483647"_s);
        prompts.clear();
    }
    seed->setText(u"1"_s);
    timeLimit->setText(u"1h"_s);
    dialog->writeSlurmJob();
    EXPECT_TRUE(prompts.messages().join(u'|').startsWith(u"Experiment: time limit '1h' is not a Slurm time limit"_s))
        << prompts.messages().join(u'|').toStdString();
    prompts.clear();

    // Size fields left empty take the size from the original's name.
    kestrune::experiment::Settings unsized = s;
    unsized.width = unsized.height = 0;
    dialog->prefill(unsized, at(u"dialog-out"_s));
    EXPECT_EQ(dialog->settings().width, 176);
    EXPECT_EQ(dialog->settings().height, 144);

    dialog->prefill(s, at(u"dialog-out"_s));
    QSignalSpy done(dialog, &ExperimentDialog::runFinished);
    const QSize sizeBeforeRun = dialog->size();
    dialog->runHere();
    // The fields show what runs; a folder named later is not where the results are read from.
    EXPECT_FALSE(seed->isEnabled());
    dialog->prefill(s, at(u"elsewhere"_s));
    ASSERT_TRUE(done.wait(120000));
    EXPECT_TRUE(seed->isEnabled());
    EXPECT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_TRUE(dialog->statusLabel()->text().contains(at(u"dialog-out/summary.csv"_s)))
        << dialog->statusLabel()->text().toStdString();
    EXPECT_EQ(dialog->progressBar()->value(), dialog->progressBar()->maximum());
    EXPECT_EQ(dialog->progressBar()->maximum(), 2 * 2 * 2);
    EXPECT_FALSE(dialog->plotLabel()->pixmap().isNull());
    EXPECT_TRUE(QFile::exists(at(u"dialog-out/summary.csv"_s)));
    // The paired differences beside the plot: one row per loss rate for the
    // one couple of pairs, the numbers of differences.csv.
    const QStringList lines = QString::fromUtf8(readFile(at(u"dialog-out/differences.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 2);
    QTableWidget* table = dialog->differencesTable();
    ASSERT_EQ(table->rowCount(), 2);
    for (int r = 0; r < 2; ++r) {
        const QStringList f = lines[1 + r].split(u',');
        EXPECT_EQ(table->item(r, 0)->text(), f[0]);
        EXPECT_EQ(table->item(r, 2)->text(), f[4]);
        EXPECT_EQ(table->item(r, 3)->text(), f[7]);
        const QString psnr = table->item(r, 4)->text();
        EXPECT_TRUE(psnr.endsWith(u"n="_s + f[8])) << psnr.toStdString();
        if (!f[9].isEmpty()) {
            EXPECT_TRUE(psnr.startsWith(QString::number(f[9].toDouble(), 'f', 2))) << psnr.toStdString();
        }
    }
    // At the dialog's size, which the run left alone, every column shows whole
    // beside the plot: nothing to scroll sideways for.
    EXPECT_EQ(dialog->size(), sizeBeforeRun);
    QCoreApplication::processEvents();
    for (int c = 0; c < table->columnCount(); ++c) {
        const QHeaderView* header = table->horizontalHeader();
        EXPECT_GE(header->sectionViewportPosition(c), 0) << c;
        EXPECT_LE(header->sectionViewportPosition(c) + header->sectionSize(c), table->viewport()->width()) << c;
        EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << c;
    }
    EXPECT_EQ(table->horizontalScrollBar()->maximum(), 0);

    // Resume: the fields show the folder's experiment, and progress goes on
    // from the rows there are, counted over the whole experiment.
    {
        const QString runsPath = at(u"dialog-out/runs.csv"_s);
        const QStringList all = QString::fromUtf8(readFile(runsPath)).split(u"\r\n"_s, Qt::SkipEmptyParts);
        QFile runs(runsPath);
        ASSERT_TRUE(runs.open(QIODevice::WriteOnly | QIODevice::Truncate));
        runs.write((all.mid(0, 1 + 3).join(u"\r\n"_s) + u"\r\n"_s).toUtf8());
        runs.close();
        kestrune::experiment::Settings other = s;
        other.runs = 7;
        dialog->prefill(other, at(u"dialog-out"_s));
        QList<int> values;
        auto seen = QObject::connect(dialog->progressBar(), &QProgressBar::valueChanged,
                                     [&](int v) { values << v; });
        dialog->resumeRun();
        EXPECT_EQ(dialog->settings().runs, 2);
        ASSERT_TRUE(done.wait(120000));
        QObject::disconnect(seen);
        values.removeAll(0);
        EXPECT_EQ(values, (QList<int>{3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(dialog->progressBar()->maximum(), 8);
        EXPECT_TRUE(dialog->statusLabel()->text().startsWith(u"done: "_s)) << dialog->statusLabel()->text().toStdString();
        EXPECT_TRUE(dialog->statusLabel()->text().contains(u" of 8 runs complete, "_s))
            << dialog->statusLabel()->text().toStdString();
        EXPECT_EQ(QString::fromUtf8(readFile(runsPath)).split(u"\r\n"_s, Qt::SkipEmptyParts), all);
    }

    // At its smallest, with a status of many lines, no row of the form is squeezed.
    dialog->statusLabel()->setText(
        QStringList(6, u"decode: ffmpeg: no picture could be decoded from channel.264 (21 access units) x2"_s).join(u"; "_s));
    dialog->layout()->activate();
    dialog->resize(dialog->minimumSize());
    dialog->layout()->activate();
    const QList<QCheckBox*> boxes = dialog->findChildren<QCheckBox*>();
    ASSERT_EQ(boxes.size(), 8);
    for (QCheckBox* box : boxes) {
        EXPECT_GE(box->height(), box->sizeHint().height()) << box->text().toStdString();
        for (QCheckBox* other : boxes)
            EXPECT_TRUE(box == other || !box->geometry().intersects(other->geometry())) << box->text().toStdString();
    }

    // Cancel while running: the tool stops and keeps its complete rows.
    s.runs = 200;
    dialog->prefill(s, at(u"cancelled-out"_s));
    dialog->runHere();
    while (dialog->progressBar()->value() < 2 && dialog->running()) QTest::qWait(20);
    dialog->cancelRun();
    ASSERT_TRUE(done.wait(120000));
    EXPECT_TRUE(dialog->statusLabel()->text().startsWith(u"cancelled: "_s)) << dialog->statusLabel()->text().toStdString();
    const QStringList rows = QString::fromUtf8(readFile(at(u"cancelled-out/runs.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    EXPECT_GE(rows.size(), 3);
    EXPECT_LT(rows.size(), 1 + 800);
}

} // namespace

