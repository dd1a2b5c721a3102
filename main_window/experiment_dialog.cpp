#include "main_window/experiment_dialog.h"

#include "runner/handler_guard.h"
#include "runner/quality_report.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
using namespace kestrune::experiment;

namespace {

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// "2.33 [-1.46, 6.13]", or the mean alone when there is no interval.
QString withInterval(const Statistics& s, int decimals)
{
    if (s.count == 0) return u"-"_s;
    QString text = QString::number(s.mean, 'f', decimals);
    if (s.low && s.high)
        text += u" ["_s + QString::number(*s.low, 'f', decimals) + u", "_s + QString::number(*s.high, 'f', decimals)
            + u']';
    return text;
}

// The width that shows every column of the table without a horizontal scroll
// bar, a vertical one included.
int differencesWidth(const QTableWidget& table)
{
    const QAbstractItemView& view = table;  // where the column size hint is public
    int width = 2 * table.frameWidth() + table.verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < table.columnCount(); ++c)
        width += std::max(table.horizontalHeader()->sectionSizeHint(c), view.sizeHintForColumn(c));
    return width;
}

} // namespace

ExperimentDialog::ExperimentDialog(QString program, kestrune::Prompts& prompts, QWidget* parent)
    : QDialog(parent), program_(std::move(program)), prompts_(prompts)
{
    setWindowTitle(u"Experiment"_s);
    auto edit = [this](const QString& text, const QString& tip) {
        auto* field = new QLineEdit(text, this);
        field->setToolTip(tip);
        return field;
    };
    stream_ = edit({}, u"The encoded H.264 stream every run sends through the channel"_s);
    original_ = edit({}, u"The raw YUV 4:2:0 file the stream was encoded from; it must hold every frame of the stream"_s);
    width_ = edit({}, u"Picture width of the original in samples"_s);
    height_ = edit({}, u"Picture height of the original in samples"_s);
    lossRates_ = edit(u"1,5,10"_s, u"Channel loss rates in percent, comma-separated, each once"_s);
    bursts_ = edit(u"2"_s, u"Mean burst lengths in packets, comma-separated; with several, a second plot shows "
                           u"Y-PSNR against burst length"_s);
    seed_ = edit(u"1"_s, u"Seed of repetition 0; repetition r uses seed + r, the same for every setting and pair, "
                         u"so the pairs compare on the same losses (0 to 2147483647)"_s);
    output_ = edit({}, u"The folder for experiment.txt, runs.csv, summary.csv, differences.csv and the plots"_s);
    timeLimit_ = edit(u"01:00:00"_s, u"Time limit of each shard: MM, MM:SS, HH:MM:SS, D-HH, D-HH:MM or D-HH:MM:SS"_s);
    seed_->setObjectName(u"firstSeed"_s);
    seed_->setMaximumWidth(140);
    timeLimit_->setObjectName(u"timeLimit"_s);
    output_->setObjectName(u"outputFolder"_s);
    auto spin = [this](int low, int high, int value, const QString& tip) {
        auto* box = new QSpinBox(this);
        box->setRange(low, high);
        box->setValue(value);
        box->setToolTip(tip);
        return box;
    };
    runs_ = spin(1, 100000, 20, u"Repetitions of every loss rate, burst length and pair"_s);
    jobs_ = spin(1, 1024, std::max(1, QThread::idealThreadCount()), u"Runs at the same time on this machine"_s);
    jobs_->setObjectName(u"jobs"_s);
    shards_ = spin(1, 10000, 4, u"Slurm array tasks; a merge job joins them after they all ended"_s);
    channels_ = edit(u"gilbert"_s, u"Separated by ';': gilbert (every loss rate x burst length), ge:P,R,K,H "
                                   u"(Gilbert-Elliott: P good->bad, R bad->good, K and H the delivery probabilities in "
                                   u"the good and the bad state), trace:FILE (1 received, 0 lost)"_s);
    packets_ = new QComboBox(this);
    packets_->addItems({u"One NAL unit per packet"_s, u"RTP, FU-A above the MTU"_s});
    packets_->setToolTip(u"How NAL units become packets: a lost packet loses what it carries"_s);
    mtu_ = spin(15, 65535, 1400, u"Largest RTP packet in bytes"_s);
    mtu_->setPrefix(u"MTU "_s);
    parameterSets_ = new QComboBox(this);
    parameterSets_->addItems({u"In band"_s, u"Out of band (never lost)"_s});
    parameterSets_->setToolTip(u"Out of band: the sequence and picture parameter sets reach the decoder whatever the "
                               u"channel does"_s);

    auto withBrowse = [this](QLineEdit* field, auto onClick) {
        auto* row = new QHBoxLayout;
        auto* button = new QPushButton(u"Browse..."_s, this);
        button->setToolTip(u"Choose with a file dialog"_s);
        connect(button, &QPushButton::clicked, this, [this, onClick] { kestrune::runGuarded(prompts_, onClick); });
        browseButtons_ << button;
        row->addWidget(field, 1);
        row->addWidget(button);
        return row;
    };
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(u"Encoded stream:"_s, withBrowse(stream_, [this] { browse(stream_, u"H.264 File (*.264)|*.264"_s); }));
    form->addRow(u"Original YUV:"_s, withBrowse(original_, [this] { browse(original_, u"YUV File (*.yuv)|*.yuv"_s); }));
    auto* size = new QHBoxLayout;
    size->addWidget(width_);
    size->addWidget(new QLabel(u"x"_s, this));
    size->addWidget(height_);
    size->addStretch(1);
    form->addRow(u"Picture size:"_s, size);
    form->addRow(u"Loss rates (%):"_s, lossRates_);
    form->addRow(u"Burst lengths:"_s, bursts_);
    form->addRow(u"Channels:"_s, channels_);
    auto* packets = new QHBoxLayout;
    packets->addWidget(packets_, 1);
    packets->addWidget(mtu_);
    form->addRow(u"Packets:"_s, packets);
    form->addRow(u"Parameter sets:"_s, parameterSets_);
    auto* pairGrid = new QGridLayout;
    pairGrid->setHorizontalSpacing(16);
    for (const kestrune::ConcealmentPair& pair : kestrune::allConcealmentPairs()) {
        auto* box = new QCheckBox(kestrune::concealmentPairLabel(pair), this);
        box->setToolTip(u"I-frame method %1, P-frame method %2"_s.arg(pair.iItem).arg(pair.pItem));
        pairGrid->addWidget(box, pair.iItem, pair.pItem);
        pairs_ << box;
    }
    form->addRow(u"Concealment pairs:"_s, pairGrid);
    auto* counts = new QHBoxLayout;
    counts->addWidget(runs_);
    counts->addWidget(new QLabel(u"first seed"_s, this));
    counts->addWidget(seed_);
    counts->addWidget(new QLabel(u"jobs"_s, this));
    counts->addWidget(jobs_);
    counts->addStretch(1);
    form->addRow(u"Runs per setting:"_s, counts);
    form->addRow(u"Output folder:"_s, withBrowse(output_, [this] { browseFolder(); }));
    auto* slurm = new QHBoxLayout;
    slurm->addWidget(shards_);
    slurm->addWidget(new QLabel(u"shards, time limit"_s, this));
    slurm->addWidget(timeLimit_);
    slurm->addStretch(1);
    form->addRow(u"Slurm job:"_s, slurm);

    runHere_ = new QPushButton(u"Run here"_s, this);
    runHere_->setToolTip(u"Check the inputs, then run every run on this machine"_s);
    resume_ = new QPushButton(u"Resume"_s, this);
    resume_->setToolTip(u"Continue the experiment in the output folder: run only the runs without a row"_s);
    writeSlurm_ = new QPushButton(u"Write a Slurm job"_s, this);
    writeSlurm_->setToolTip(u"Write the job array, the merge job and submit.sh into the output folder"_s);
    cancel_ = new QPushButton(u"Cancel"_s, this);
    cancel_->setToolTip(u"Stop the runs; the complete rows are kept (continue with Resume)"_s);
    cancel_->setEnabled(false);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    // Counted over the whole experiment, the runs of an earlier start included.
    progress_->setFormat(u"%v of %m runs ended"_s);
    progress_->setTextVisible(false);  // until a run starts
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A long status (failure reasons, result paths) scrolls in a fixed height
    // instead of squeezing the form's rows into each other.
    auto* statusArea = new QScrollArea(this);
    statusArea->setObjectName(u"statusArea"_s);
    statusArea->setWidget(status_);
    statusArea->setWidgetResizable(true);
    statusArea->setFrameShape(QFrame::NoFrame);
    statusArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    statusArea->setBackgroundRole(QPalette::Window);
    statusArea->setFixedHeight(4 * fontMetrics().lineSpacing() + 4);

    // The plots scale to the space they have, so a run never resizes the dialog.
    auto plotLabel = [this] {
        auto* label = new QLabel(this);
        label->setAlignment(Qt::AlignCenter);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        label->setMinimumSize(300, 180);
        return label;
    };
    plot_ = plotLabel();
    burstPlot_ = plotLabel();
    plots_ = new QTabWidget(this);
    plots_->addTab(plot_, u"Against loss rate"_s);
    plots_->addTab(burstPlot_, u"Against burst length"_s);
    differences_ = new QTableWidget(0, 6, this);
    // Short headers, the rest in their tool tips, so every column fits beside the plot.
    differences_->setHorizontalHeaderLabels({u"Loss %"_s, u"Burst"_s, u"A"_s, u"B"_s, u"Y-PSNR A-B (dB)"_s, u"SSIM A-B"_s});
    differences_->horizontalHeaderItem(4)->setToolTip(
        u"Mean paired difference in Y-PSNR [95 % interval]; n pairs of runs"_s);
    differences_->horizontalHeaderItem(5)->setToolTip(u"Mean paired difference in luma SSIM [95 % interval]"_s);
    differences_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    differences_->verticalHeader()->hide();
    differences_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    differences_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    differences_->horizontalHeader()->setStretchLastSection(true);
    differences_->setToolTip(u"Paired differences between concealment pairs over the repetitions both completed "
                             u"(same seeds, so the same losses); n pairs of runs in differences.csv"_s);
    results_ = new QSplitter(Qt::Horizontal, this);
    results_->addWidget(plots_);
    results_->addWidget(differences_);
    results_->setSizes({520, 580});
    connect(results_, &QSplitter::splitterMoved, this, [this] { scalePlots(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(runHere_);
    buttons->addWidget(resume_);
    buttons->addWidget(writeSlurm_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(progress_);
    layout->addWidget(statusArea);
    layout->addWidget(results_, 1);
    resize(1100, 820);

    // Tab goes through the fields as they are laid out.
    QList<QWidget*> order{stream_, browseButtons_[0], original_, browseButtons_[1], width_,  height_,
                          lossRates_, bursts_, channels_, packets_, mtu_, parameterSets_};
    for (QCheckBox* box : pairs_) order << box;
    order << runs_ << seed_ << jobs_ << output_ << browseButtons_[2] << shards_ << timeLimit_ << runHere_ << resume_
          << writeSlurm_ << cancel_;
    for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

    connect(runHere_, &QPushButton::clicked, this, [this] { kestrune::runGuarded(prompts_, [this] { runHere(); }); });
    connect(resume_, &QPushButton::clicked, this, [this] { kestrune::runGuarded(prompts_, [this] { resumeRun(); }); });
    connect(writeSlurm_, &QPushButton::clicked, this,
            [this] { kestrune::runGuarded(prompts_, [this] { writeSlurmJob(); }); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelRun(); });
}

void ExperimentDialog::prefill(const Settings& s, const QString& output)
{
    stream_->setText(s.stream);
    original_->setText(s.original);
    width_->setText(s.width > 0 ? QString::number(s.width) : QString());
    height_->setText(s.height > 0 ? QString::number(s.height) : QString());
    if (!s.lossRates.isEmpty()) lossRates_->setText(s.lossRates.join(u','));
    if (!s.burstLengths.isEmpty()) bursts_->setText(s.burstLengths.join(u','));
    for (int i = 0; i < pairs_.size(); ++i) pairs_[i]->setChecked(s.pairs.contains(kestrune::allConcealmentPairs()[i]));
    runs_->setValue(s.runs);
    seed_->setText(QString::number(s.firstSeed));
    channels_->setText(s.channels.join(u"; "_s));
    packets_->setCurrentIndex(s.packets.startsWith(u"rtp:"_s) ? 1 : 0);
    if (s.packets.startsWith(u"rtp:"_s)) mtu_->setValue(s.packets.mid(4).toInt());
    parameterSets_->setCurrentIndex(s.parameterSets == u"out-of-band"_s ? 1 : 0);
    output_->setText(output);
}

Settings ExperimentDialog::settings() const
{
    Settings s;
    s.stream = QFileInfo(stream_->text()).absoluteFilePath();
    s.original = QFileInfo(original_->text()).absoluteFilePath();
    s.width = width_->text().toInt();
    s.height = height_->text().toInt();
    // Empty size fields take WIDTHxHEIGHT from the original's name, as the command line does.
    if (width_->text().trimmed().isEmpty() && height_->text().trimmed().isEmpty())
        if (const auto size = kestrune::pictureSizeFromName(s.original)) {
            s.width = size->width;
            s.height = size->height;
        }
    s.lossRates = lossRates_->text().remove(u' ').split(u',', Qt::SkipEmptyParts);
    s.burstLengths = bursts_->text().remove(u' ').split(u',', Qt::SkipEmptyParts);
    for (int i = 0; i < pairs_.size(); ++i)
        if (pairs_[i]->isChecked()) s.pairs << kestrune::allConcealmentPairs()[i];
    s.runs = runs_->value();
    s.firstSeed = seed_->text().trimmed().toUInt();
    s.channels.clear();
    for (const QString& c : channels_->text().split(u';', Qt::SkipEmptyParts))
        s.channels << (c.trimmed().startsWith(u"trace:"_s) ? u"trace:"_s + QFileInfo(c.trimmed().mid(6)).absoluteFilePath()
                                                            : QString(c).remove(u' '));
    s.packets = packets_->currentIndex() == 1 ? u"rtp:"_s + QString::number(mtu_->value()) : u"nal"_s;
    s.parameterSets = parameterSets_->currentIndex() == 1 ? u"out-of-band"_s : u"in-band"_s;
    return s;
}

QString ExperimentDialog::fieldProblem(bool forSlurm) const
{
    bool seedOk = false;
    const qulonglong seed = seed_->text().trimmed().toULongLong(&seedOk);
    if (!seedOk || seed >= kSeedLimit)
        return u"the first seed '%1' is not a whole number from 0 to %2"_s.arg(seed_->text()).arg(kSeedLimit - 1);
    if (output_->text().trimmed().isEmpty()) return u"please give an output folder"_s;
    if (forSlurm)
        if (const QString problem = slurmTimeLimitProblem(timeLimit_->text().trimmed()); !problem.isEmpty())
            return u"time limit "_s + problem;
    return validate(settings());
}

void ExperimentDialog::setFieldsEnabled(bool enabled)
{
    // While a run goes on the fields show what it runs.
    for (QWidget* field : std::initializer_list<QWidget*>{stream_, original_, width_, height_, lossRates_, bursts_, seed_,
                                                          output_, timeLimit_, runs_, jobs_, shards_, channels_, packets_,
                                                          mtu_, parameterSets_})
        field->setEnabled(enabled);
    for (QCheckBox* box : pairs_) box->setEnabled(enabled);
    for (QPushButton* button : browseButtons_) button->setEnabled(enabled);
    runHere_->setEnabled(enabled);
    resume_->setEnabled(enabled);
    writeSlurm_->setEnabled(enabled);
    cancel_->setEnabled(!enabled);
}

void ExperimentDialog::browse(QLineEdit* field, const QString& filter)
{
    if (const auto path = prompts_.openFile(filter)) field->setText(*path);
}

void ExperimentDialog::browseFolder()
{
    if (const auto path = prompts_.chooseFolder()) output_->setText(*path);
}

bool ExperimentDialog::running() const { return process_ && process_->state() != QProcess::NotRunning; }

void ExperimentDialog::runHere()
{
    if (running()) return;
    if (const QString reason = fieldProblem(false); !reason.isEmpty()) return prompts_.message(u"Experiment: "_s + reason);
    const Settings s = settings();
    runOutput_ = QFileInfo(output_->text().trimmed()).absoluteFilePath();
    startTool(toolArguments(s, runOutput_), runCount(s), u"Checking the inputs, then %1 runs..."_s.arg(runCount(s)));
}

void ExperimentDialog::resumeRun()
{
    if (running()) return;
    if (output_->text().trimmed().isEmpty()) return prompts_.message(u"Experiment: please give an output folder"_s);
    const QString folder = QFileInfo(output_->text().trimmed()).absoluteFilePath();
    const QString file = QDir(folder).filePath(u"experiment.txt"_s);
    if (!QFileInfo(file).isFile()) return prompts_.message(u"Experiment: there is no experiment to resume in "_s + folder);
    QString error;
    const auto s = parseSettingsText(readText(file), &error);
    if (!s) return prompts_.message(u"Experiment: "_s + file + u": "_s + error);
    prefill(*s, folder);
    runOutput_ = folder;
    startTool({u"--resume"_s, folder}, runCount(*s),
              u"Checking the inputs, then the runs of %1 without a row..."_s.arg(folder));
}

void ExperimentDialog::startTool(const QStringList& arguments, int runs, const QString& status)
{
    process_ = new QProcess(this);
    pending_.clear();
    connect(process_, &QProcess::readyReadStandardOutput, this, &ExperimentDialog::readProgress);
    connect(process_, &QProcess::finished, this, &ExperimentDialog::finishRun);
    // A tool that never starts sends no finished(): without this the dialog waits for ever.
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) finishRun();
    });
    progress_->setRange(0, runs);
    progress_->setValue(0);
    progress_->setTextVisible(true);
    plotImage_ = burstPlotImage_ = QPixmap();
    plot_->clear();
    burstPlot_->clear();
    differences_->setRowCount(0);
    status_->setText(status);
    setFieldsEnabled(false);
    process_->start(program_, QStringList(arguments) << u"--jobs"_s << QString::number(jobs_->value()));
}

void ExperimentDialog::readProgress()
{
    pending_ += process_->readAllStandardOutput();
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending_.left(end)).trimmed();
        pending_.remove(0, end + 1);
        if (line.startsWith(u"progress "_s)) {
            // "progress ENDED/TOTAL", over the whole experiment.
            progress_->setRange(0, line.section(u'/', 1).toInt());
            progress_->setValue(line.mid(9).section(u'/', 0, 0).toInt());
        } else if (line.startsWith(u"done: "_s) || line.startsWith(u"cancelled: "_s)) {
            status_->setText(line);
        }
    }
}

void ExperimentDialog::finishRun()
{
    readProgress();
    const QString errors = QString::fromUtf8(process_->readAllStandardError()).trimmed();
    // 0 all ran, 3 cancelled, 4 some runs failed: each leaves results (see --help).
    const int code = process_->exitCode();
    const bool started = process_->error() != QProcess::FailedToStart;
    const bool ok = started && process_->exitStatus() == QProcess::NormalExit && (code == 0 || code == 3 || code == 4);
    if (!started)
        status_->setText(u"The experiment could not start "_s + QDir::toNativeSeparators(program_) + u": "_s
                         + process_->errorString());
    else if (!ok)
        status_->setText(u"The experiment failed: "_s + (errors.isEmpty() ? process_->errorString() : errors));
    if (ok) showResults(runOutput_);
    process_->deleteLater();
    process_ = nullptr;
    setFieldsEnabled(true);
    emit runFinished();
}

void ExperimentDialog::showResults(const QString& folder)
{
    const QDir out(folder);
    status_->setText(status_->text() + u"\nResults: "_s + out.filePath(u"runs.csv"_s) + u", "_s
                     + out.filePath(u"summary.csv"_s) + u", "_s + out.filePath(u"differences.csv"_s) + u", "_s
                     + out.filePath(u"plot.png"_s));
    plotImage_ = QPixmap(out.filePath(u"plot.png"_s));
    burstPlotImage_ = QPixmap(out.filePath(u"plot-burst.png"_s));
    plots_->setTabEnabled(1, !burstPlotImage_.isNull());
    if (burstPlotImage_.isNull()) burstPlot_->setText(u"Give several burst lengths for this plot"_s);
    scalePlots();

    QString error;
    const auto s = parseSettingsText(readText(out.filePath(u"experiment.txt"_s)), &error);
    differences_->setRowCount(0);
    if (!s) return;
    QStringList rows = readText(out.filePath(u"runs.csv"_s)).split(u"\r\n"_s, Qt::SkipEmptyParts);
    if (!rows.isEmpty()) rows.removeFirst();
    const QList<PairedDifference> differences = pairedDifferences(*s, rows);
    differences_->setRowCount(int(differences.size()));
    for (int r = 0; r < differences.size(); ++r) {
        const PairedDifference& d = differences[r];
        const QStringList cells{d.lossRate, d.burstLength, kestrune::concealmentPairLabel(d.a),
                                kestrune::concealmentPairLabel(d.b),
                                withInterval(d.psnrY, 2) + u"  n="_s + QString::number(d.psnrY.count),
                                withInterval(d.ssimY, 4)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c != 2 && c != 3) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            differences_->setItem(r, c, item);
        }
    }
    fitDifferences();
}

void ExperimentDialog::fitDifferences()
{
    // The table takes the width its columns need from the plots, which scale
    // to what is left: the dialog keeps its size and no column hides.
    const QList<int> sizes = results_->sizes();
    const int need = differencesWidth(*differences_);
    if (sizes.size() != 2 || sizes[1] >= need) return;
    const int total = sizes[0] + sizes[1];
    const int plots = std::max(plots_->minimumSizeHint().width(), total - need);
    results_->setSizes({plots, total - plots});
    scalePlots();
}

void ExperimentDialog::scalePlots()
{
    for (auto [label, image] : {std::pair{plot_, &plotImage_}, std::pair{burstPlot_, &burstPlotImage_}})
        if (!image->isNull())
            label->setPixmap(image->scaled(label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void ExperimentDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    scalePlots();
}

void ExperimentDialog::cancelRun()
{
    // The tool stops its runs and keeps the complete rows.
    if (running()) process_->terminate();
}

void ExperimentDialog::writeSlurmJob()
{
    if (const QString reason = fieldProblem(true); !reason.isEmpty()) return prompts_.message(u"Experiment: "_s + reason);
    QProcess tool;
    tool.start(program_, toolArguments(settings(), QFileInfo(output_->text().trimmed()).absoluteFilePath())
                             << u"--slurm"_s << QString::number(shards_->value()) << u"--time"_s
                             << timeLimit_->text().trimmed());
    const bool finished = tool.waitForFinished(60000);
    const QString out = QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    if (!finished || tool.exitCode() != 0)
        return prompts_.message(u"The Slurm job could not be written: "_s
                                + QString::fromUtf8(tool.readAllStandardError()).trimmed() + tool.errorString());
    status_->setText(out);
    prompts_.message(out);
}
