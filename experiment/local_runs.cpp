#include "experiment/local_runs.h"

#include "experiment/process_group.h"

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
    adoptOrphanedDescendants();
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
    connect(process, &QProcess::finished, this, [this, process] { collect(process); });
    process->start(program_, {u"run-one"_s, u"--settings"_s, settingsFile_, u"--index"_s, QString::number(index)});
    const auto pid = pid_t(process->processId());
    // Also from this side, so a cancel right after the start finds the group.
    if (pid > 0) ::setpgid(pid, pid);
    running_.insert(process, {index, pid});
}

void LocalRuns::collect(QProcess* process)
{
    const Run run = running_.take(process);
    const int index = run.index;
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
    // Tools of the run that are still stopping would write into the folder.
    endProcessGroup(run.group, cancelled_, 5000);
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
    for (const Run& run : running_)
        if (run.group > 0) ::kill(-run.group, SIGTERM);
    if (running_.isEmpty()) emit finished();
}

} // namespace kestrune::experiment
