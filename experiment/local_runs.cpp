#include "experiment/local_runs.h"

#include <QDir>
#include <QProcess>
#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace kestrune::experiment {

LocalRuns::LocalRuns(QString program, QString settingsFile, QString workDirectory, QString toolsDirectory,
                     const Settings& settings, QList<int> runs, int jobs, QObject* parent)
    : QObject(parent), program_(std::move(program)), settingsFile_(std::move(settingsFile)),
      workDirectory_(std::move(workDirectory)), toolsDirectory_(std::move(toolsDirectory)), settings_(settings),
      queue_(std::move(runs)), jobs_(std::max(1, jobs)), total_(int(queue_.size()))
{
}

void LocalRuns::start()
{
    if (queue_.isEmpty()) return emit finished();
    while (!queue_.isEmpty() && running_.size() < jobs_) launchNext();
}

void LocalRuns::launchNext()
{
    const int index = queue_.takeFirst();
    const QString folder = QDir(workDirectory_).filePath(u"run-"_s + QString::number(index));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    auto* process = new QProcess(this);
    process->setWorkingDirectory(folder);
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PATH"_s, toolsDirectory_ + u':' + environment.value(u"PATH"_s));
    process->setProcessEnvironment(environment);
    // A group of its own, so a cancel reaches the tool the run is waiting for too.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    connect(process, &QProcess::finished, this, [this, process, index] { collect(process, index); });
    running_.insert(process, index);
    process->start(program_, {u"run-one"_s, u"--settings"_s, settingsFile_, u"--index"_s, QString::number(index)});
}

void LocalRuns::collect(QProcess* process, int index)
{
    running_.remove(process);
    const QString out = QString::fromUtf8(process->readAllStandardOutput()).trimmed();
    const QString row = out.section(u'\n', -1).trimmed();
    const auto parsed = parseRunRow(row);
    if (!cancelled_) {
        if (parsed && parsed->index == index) {
            rows_.insert(index, row);
        } else {
            // The run died before it could write its row: record why.
            RunResult failed;
            const QString err = QString::fromUtf8(process->readAllStandardError()).trimmed().section(u'\n', -1);
            failed.error = u"the run ended without a result (exit code %1)%2"_s.arg(process->exitCode())
                               .arg(err.isEmpty() ? QString() : u": "_s + err);
            rows_.insert(index, runRow(plannedRun(settings_, index), failed));
        }
        emit rowReady(index, rows_.value(index));
        emit progress(int(rows_.size()), total_);
    }
    QDir(process->workingDirectory()).removeRecursively();
    process->deleteLater();
    if (!cancelled_ && !queue_.isEmpty()) launchNext();
    if (running_.isEmpty() && (cancelled_ || queue_.isEmpty())) {
        QDir(workDirectory_).rmdir(u"."_s);
        emit finished();
    }
}

void LocalRuns::cancel()
{
    if (cancelled_) return;
    cancelled_ = true;
    queue_.clear();
    for (QProcess* process : running_.keys())
        if (process->processId() > 0) ::kill(-pid_t(process->processId()), SIGTERM);
    if (running_.isEmpty()) emit finished();
}

} // namespace kestrune::experiment
