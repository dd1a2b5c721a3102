#pragma once
// Runs a list of an experiment's runs on this machine: one child process
// ("kestrune-experiment run-one") per run, in a folder of its own, up to
// `jobs` at a time. Cancel stops the children and keeps the complete rows.
// A run's folder is removed once every process of its group has ended.
#include "runner/experiment.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <sys/types.h>

class QProcess;

namespace kestrune::experiment {

class LocalRuns : public QObject {
    Q_OBJECT
public:
    LocalRuns(QString program, QString settingsFile, QString workDirectory, QString toolsDirectory,
              const Settings& settings, QList<int> runs, int jobs, QObject* parent = nullptr);

    void start();
    void cancel();
    bool cancelled() const { return cancelled_; }
    // Complete rows by run index.
    const QMap<int, QString>& rows() const { return rows_; }
    int total() const { return total_; }

signals:
    void progress(int done, int total);
    // A run ended with this complete row (before progress).
    void rowReady(int index, const QString& row);
    void finished();

private:
    void launchNext();
    void collect(QProcess* process);

    struct Run {
        int index = -1;
        pid_t group = 0;  // the child's process group, 0 where it never started
    };

    QString program_, settingsFile_, workDirectory_, toolsDirectory_;
    Settings settings_;
    QList<int> queue_;
    int jobs_;
    int total_;
    QMap<QProcess*, Run> running_;
    QMap<int, QString> rows_;
    bool cancelled_ = false;
};

} // namespace kestrune::experiment
