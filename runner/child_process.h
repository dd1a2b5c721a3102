#pragma once
// The platform layer of the runner: standard streams set up from
// redirections, and a child process whose end is reported by a signal.
// Only child_process_posix.cpp knows about file descriptors; another
// platform swaps that file.
#include "runner/command_line.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace kestrune {

// Where a child's standard input, output and error go. Starts as: input
// from the null device, output and error to this process's own; then the
// redirections are applied left to right like the command interpreter does.
class StandardStreams {
public:
    StandardStreams();
    ~StandardStreams();
    StandardStreams(StandardStreams&&) noexcept;
    StandardStreams& operator=(StandardStreams&&) noexcept;

    // Applies one redirection; relative file names resolve in the current
    // directory. On failure returns false and sets *error to the reason.
    bool apply(const Redirection& redirection, QString* error);
    // Writes bytes to what the child would see as stream fd (0..2).
    bool write(int fd, const QByteArray& bytes);

    struct Table;
    const Table& table() const { return *table_; }

private:
    std::unique_ptr<Table> table_;
};

class ChildProcess : public QObject {
    Q_OBJECT
public:
    explicit ChildProcess(QObject* parent = nullptr);
    // Never stops the process: a tool outlives the workbench if need be.
    ~ChildProcess() override;

    // Starts the program (a path, not looked up) with these arguments and
    // streams. Returns false and sets *error when it cannot be started.
    bool start(const QString& program, const QStringList& arguments,
               const StandardStreams& streams, QString* error);
    bool isRunning() const { return running_; }
    int exitCode() const { return exitCode_; }

signals:
    void finished();

private:
    void reap();

    struct Watch;
    std::unique_ptr<Watch> watch_;
    bool running_ = false;
    int exitCode_ = 0;
};

} // namespace kestrune
