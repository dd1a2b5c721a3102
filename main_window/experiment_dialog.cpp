#include "main_window/experiment_dialog.h"

#include "runner/handler_guard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
using namespace kestrune::experiment;

ExperimentDialog::ExperimentDialog(QString program, kestrune::Prompts& prompts, QWidget* parent)
    : QDialog(parent), program_(std::move(program)), prompts_(prompts)
{
    setWindowTitle(u"Experiment"_s);
    auto edit = [this](const QString& text) { return new QLineEdit(text, this); };
    stream_ = edit({});
    original_ = edit({});
    width_ = edit({});
    height_ = edit({});
    lossRates_ = edit(u"1,5,10"_s);
    bursts_ = edit(u"2"_s);
    seed_ = edit(u"1"_s);
    output_ = edit({});
    timeLimit_ = edit(u"01:00:00"_s);
    seed_->setObjectName(u"firstSeed"_s);
    timeLimit_->setObjectName(u"timeLimit"_s);
    runs_ = new QSpinBox(this);
    runs_->setRange(1, 100000);
    runs_->setValue(20);
    shards_ = new QSpinBox(this);
    shards_->setRange(1, 10000);
    shards_->setValue(4);
    channels_ = edit(u"gilbert"_s);
    channels_->setToolTip(u"Separated by ';': gilbert (every loss rate x burst length), ge:P,R,K,H "
                          u"(Gilbert-Elliott: P good->bad, R bad->good, K and H the delivery probabilities in the "
                          u"good and the bad state), trace:FILE (1 received, 0 lost)"_s);
    packets_ = new QComboBox(this);
    packets_->addItems({u"One NAL unit per packet"_s, u"RTP, FU-A above the MTU"_s});
    mtu_ = new QSpinBox(this);
    mtu_->setRange(15, 65535);
    mtu_->setValue(1400);
    mtu_->setPrefix(u"MTU "_s);
    parameterSets_ = new QComboBox(this);
    parameterSets_->addItems({u"In band"_s, u"Out of band (never lost)"_s});

    auto* form = new QFormLayout;
    form->addRow(u"Encoded stream:"_s, stream_);
    form->addRow(u"Original YUV:"_s, original_);
    auto* size = new QHBoxLayout;
    size->addWidget(width_);
    size->addWidget(new QLabel(u"x"_s, this));
    size->addWidget(height_);
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
    for (const kestrune::ConcealmentPair& pair : kestrune::allConcealmentPairs()) {
        auto* box = new QCheckBox(kestrune::concealmentPairLabel(pair), this);
        pairGrid->addWidget(box, pair.iItem, pair.pItem);
        pairs_ << box;
    }
    form->addRow(u"Concealment pairs:"_s, pairGrid);
    form->addRow(u"Runs per setting:"_s, runs_);
    form->addRow(u"First seed:"_s, seed_);
    form->addRow(u"Output folder:"_s, output_);
    auto* slurm = new QHBoxLayout;
    slurm->addWidget(shards_);
    slurm->addWidget(new QLabel(u"shards, time limit"_s, this));
    slurm->addWidget(timeLimit_);
    form->addRow(u"Slurm job:"_s, slurm);

    runHere_ = new QPushButton(u"Run here"_s, this);
    writeSlurm_ = new QPushButton(u"Write a Slurm job"_s, this);
    cancel_ = new QPushButton(u"Cancel"_s, this);
    cancel_->setEnabled(false);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    plot_ = new QLabel(this);
    plot_->setAlignment(Qt::AlignCenter);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(runHere_);
    buttons->addWidget(writeSlurm_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addWidget(plot_, 1);

    connect(runHere_, &QPushButton::clicked, this, [this] { kestrune::runGuarded(prompts_, [this] { runHere(); }); });
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
                                                          output_, timeLimit_, runs_, shards_, channels_, packets_, mtu_,
                                                          parameterSets_})
        field->setEnabled(enabled);
    for (QCheckBox* box : pairs_) box->setEnabled(enabled);
    runHere_->setEnabled(enabled);
    writeSlurm_->setEnabled(enabled);
    cancel_->setEnabled(!enabled);
}

bool ExperimentDialog::running() const { return process_ && process_->state() != QProcess::NotRunning; }

void ExperimentDialog::runHere()
{
    if (running()) return;
    if (const QString reason = fieldProblem(false); !reason.isEmpty()) return prompts_.message(u"Experiment: "_s + reason);
    const Settings s = settings();
    runOutput_ = QFileInfo(output_->text().trimmed()).absoluteFilePath();
    process_ = new QProcess(this);
    pending_.clear();
    connect(process_, &QProcess::readyReadStandardOutput, this, &ExperimentDialog::readProgress);
    connect(process_, &QProcess::finished, this, &ExperimentDialog::finishRun);
    progress_->setRange(0, runCount(s));
    progress_->setValue(0);
    plot_->clear();
    status_->setText(u"Checking the inputs, then %1 runs...."_s.arg(runCount(s)));
    setFieldsEnabled(false);
    process_->start(program_, toolArguments(s, runOutput_));
}

void ExperimentDialog::readProgress()
{
    pending_ += process_->readAllStandardOutput();
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending_.left(end)).trimmed();
        pending_.remove(0, end + 1);
        if (line.startsWith(u"progress "_s)) progress_->setValue(line.mid(9).section(u'/', 0, 0).toInt());
        else if (line.startsWith(u"done: "_s) || line.startsWith(u"cancelled: "_s)) status_->setText(line);
    }
}

void ExperimentDialog::finishRun()
{
    readProgress();
    const QString errors = QString::fromUtf8(process_->readAllStandardError()).trimmed();
    // 0 all ran, 3 cancelled, 4 some runs failed: each leaves results (see --help).
    const int code = process_->exitCode();
    const bool ok = process_->exitStatus() == QProcess::NormalExit && (code == 0 || code == 3 || code == 4);
    if (!ok) status_->setText(u"The experiment failed: "_s + (errors.isEmpty() ? process_->errorString() : errors));
    const QDir out(runOutput_);
    if (ok) {
        status_->setText(status_->text() + u"\nResults: "_s + out.filePath(u"runs.csv"_s) + u", "_s
                         + out.filePath(u"summary.csv"_s) + u", "_s + out.filePath(u"plot.png"_s));
        const QPixmap plot(out.filePath(u"plot.png"_s));
        if (!plot.isNull()) plot_->setPixmap(plot.scaledToWidth(std::min(plot.width(), 720), Qt::SmoothTransformation));
    }
    process_->deleteLater();
    process_ = nullptr;
    setFieldsEnabled(true);
    emit runFinished();
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
