// Results: the quality block after Decode, the quality plot window, the frame
// viewer and the experiment dialog ("View" menu).
#include "main_window/tform1.h"

#include "main_window/experiment_dialog.h"
#include "main_window/frame_viewer_window.h"
#include "main_window/quality_history.h"
#include "main_window/quality_plot_window.h"
#include "main_window/radio_group.h"
#include "runner/concealment_pair.h"
#include "runner/decode_command.h"
#include "runner/quality_report.h"
#include "tools/quality/frame_loss_file.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

using namespace Qt::StringLiterals;

struct ResultsState {
    QualityHistory history;
    QPointer<QualityPlotWindow> plot;
    QPointer<ExperimentDialog> experiment;
    QPointer<FrameViewerWindow> viewer;
    QString channelOutput;    // absolute path of the last channel output written
    QString channelLossRate;  // and the loss rate it was made with
};

void TForm1::buildViewMenu()
{
    results_ = std::make_shared<ResultsState>();
    View1 = menuBar()->addMenu(u"&View"_s);
    QualityPlot1 = View1->addAction(u"&Quality Plot..."_s);
    Experiment1 = View1->addAction(u"&Experiment..."_s);
    FrameViewer1 = View1->addAction(u"&Frame Viewer..."_s);
    connect(QualityPlot1, &QAction::triggered, this, [this] { guard([this] { QualityPlot1Click(); }); });
    connect(Experiment1, &QAction::triggered, this, [this] { guard([this] { Experiment1Click(); }); });
    connect(FrameViewer1, &QAction::triggered, this, [this] { guard([this] { FrameViewer1Click(); }); });
}

void TForm1::noteChannelRun(const QString& output, const QString& lossRate)
{
    results_->channelOutput = QFileInfo(output).absoluteFilePath();
    results_->channelLossRate = lossRate;
}

void TForm1::reportDecodeQuality(const QString& output)
{
    const QDir start(state.startDirectory);
    const QString decoded = start.absoluteFilePath(output);
    const QString scratch = start.filePath(QString::fromUtf16(kestrune::kDecoderScratchFile));
    const QString lossFile = kestrune::placeFrameLossFile(scratch, decoded);
    const QString original = LabeledEdit1->text();
    const kestrune::QualityMeasurement m =
        kestrune::measureQuality({original.isEmpty() ? QString() : start.absoluteFilePath(original),
                                  LabeledEdit5->text(), LabeledEdit7->text(), decoded, lossFile});
    const QString csvPath = kestrune::qualityCsvPath(decoded);
    if (m.measured()) {
        QFile csv(csvPath);
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Truncate) || csv.write(kestrune::qualityCsv(m).toUtf8()) < 0)
            prompts.message(u"The per-frame quality could not be written to "_s + csvPath);
    }
    logSink().appendLines(kestrune::qualityLogLines(m, LabeledEdit1->text(), csvPath));
    if (!m.measured()) return;

    DecodedQuality decode;
    decode.outputName = QFileInfo(decoded).fileName();
    decode.concealment = kestrune::concealmentPairLabel({RadioGroup2->itemIndex(), RadioGroup3->itemIndex()});
    decode.decodedPath = decoded;
    decode.originalPath = start.absoluteFilePath(original);
    decode.width = m.size.width;
    decode.height = m.size.height;
    if (QFileInfo(start.absoluteFilePath(LabeledEdit3->text())).absoluteFilePath() == results_->channelOutput)
        decode.lossRate = results_->channelLossRate;
    for (std::size_t i = 0; i < m.comparison.frames.size(); ++i) {
        decode.psnrY.push_back(m.comparison.frames[i].psnrY);
        if (!m.frameLoss.empty()) decode.lost.push_back(i < m.frameLoss.size() && m.frameLoss[i].lost > 0);
    }
    results_->history.add(std::move(decode));
    if (results_->plot) results_->plot->refresh();
}

void TForm1::QualityPlot1Click()
{
    if (!results_->plot) {
        results_->plot = new QualityPlotWindow(results_->history, prompts, this);
        connect(results_->plot, &QualityPlotWindow::frameActivated, this,
                [this](int decode, int frame) { guard([this, decode, frame] { openFrameViewer(decode, frame); }); });
    }
    results_->plot->refresh();
    results_->plot->show();
    results_->plot->raise();
}

void TForm1::Experiment1Click()
{
    if (!results_->experiment) {
        results_->experiment = new ExperimentDialog(
            QDir(state.startDirectory).filePath(u"kestrune-experiment"_s), prompts, this);
        kestrune::experiment::Settings s;
        s.stream = LabeledEdit2->text();
        s.original = LabeledEdit1->text();
        if (const auto size = kestrune::originalPictureSize(s.original, LabeledEdit5->text(), LabeledEdit7->text()))
            s.width = size->width, s.height = size->height;
        s.lossRates = QStringList{u"1"_s, Edit11->text(), u"10"_s};
        s.lossRates.removeDuplicates();
        s.burstLengths = {Edit12->text()};
        s.pairs = {{RadioGroup2->itemIndex(), RadioGroup3->itemIndex()}, {0, 0}};
        s.runs = 20;
        results_->experiment->prefill(s, QDir(state.startDirectory).filePath(u"experiment"_s));
    }
    results_->experiment->show();
    results_->experiment->raise();
}

namespace {

FrameViewerWindow* shownViewer(QPointer<FrameViewerWindow>& viewer, kestrune::Prompts& prompts, QWidget* parent)
{
    if (!viewer) viewer = new FrameViewerWindow(prompts, parent);
    viewer->show();
    viewer->raise();
    return viewer;
}

} // namespace

void TForm1::FrameViewer1Click()
{
    FrameViewerWindow* viewer = shownViewer(results_->viewer, prompts, this);
    if (viewer->decode()) return;
    if (!results_->history.decodes().empty()) return openFrameViewer(int(results_->history.decodes().size()) - 1, 0);
    // No decode measured yet: the decode and original the fields name, when the output exists.
    const QDir start(state.startDirectory);
    FrameViewerSource source{LabeledEdit1->text().isEmpty() ? QString() : start.absoluteFilePath(LabeledEdit1->text()),
                             {}, LabeledEdit4->text().isEmpty() ? QString() : start.absoluteFilePath(LabeledEdit4->text())};
    if (const auto size = kestrune::originalPictureSize(LabeledEdit1->text(), LabeledEdit5->text(), LabeledEdit7->text()))
        source.originalSize = {size->width, size->height};
    viewer->setOriginal(source.original, source.originalSize);  // for Open Decode... when nothing is decoded yet
    if (!source.decoded.isEmpty() && QFileInfo(source.decoded).isFile()) viewer->openDecode(source);
}

void TForm1::openFrameViewer(int decode, int frame)
{
    const auto& decodes = results_->history.decodes();
    if (decode < 0 || decode >= int(decodes.size())) return;
    const DecodedQuality& d = decodes[std::size_t(decode)];
    shownViewer(results_->viewer, prompts, this)->openDecode({d.originalPath, {d.width, d.height}, d.decodedPath}, frame);
}
