// POSIX implementation of the runner's platform layer: posix_spawn with the
// standard streams dup2'ed into place, and the end of the child watched
// through a pidfd, so waiting costs no CPU.
#include "runner/child_process.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestrune {
namespace {

// Every descriptor we hold is >= 3 and close-on-exec, so the dup2 calls in
// the child can never overwrite a source that a later dup2 still needs.
int moveAbove2(int fd)
{
    if (fd < 0 || fd > 2) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

int openNullDevice(int flags)
{
    return moveAbove2(::open("/dev/null", flags | O_CLOEXEC));
}

QString errorText(int errorNumber)
{
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

} // namespace

struct StandardStreams::Table {
    std::array<int, 3> fds{-1, -1, -1};
    ~Table()
    {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    void replace(int stream, int fd)
    {
        if (fds[stream] >= 0) ::close(fds[stream]);
        fds[stream] = fd;
    }
};

StandardStreams::StandardStreams()
    : table_(std::make_unique<Table>())
{
    table_->fds[0] = openNullDevice(O_RDONLY);
    for (int stream : {1, 2}) {
        int fd = ::fcntl(stream, F_DUPFD_CLOEXEC, 3);
        table_->fds[stream] = fd >= 0 ? fd : openNullDevice(O_WRONLY);
    }
}

StandardStreams::~StandardStreams() = default;
StandardStreams::StandardStreams(StandardStreams&&) noexcept = default;
StandardStreams& StandardStreams::operator=(StandardStreams&&) noexcept = default;

bool StandardStreams::apply(const Redirection& redirection, QString* error)
{
    if (redirection.fd < 0 || redirection.fd > 2 || redirection.sourceFd < 0 || redirection.sourceFd > 2) {
        if (error) *error = QStringLiteral("The handle could not be duplicated during redirection.");
        return false;
    }
    int fd = -1;
    if (redirection.kind == Redirection::Duplicate) {
        fd = ::fcntl(table_->fds[redirection.sourceFd], F_DUPFD_CLOEXEC, 3);
    } else {
        int flags = O_CLOEXEC;
        switch (redirection.kind) {
        case Redirection::Write: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case Redirection::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
        default: flags |= O_RDONLY; break;
        }
        fd = moveAbove2(::open(QFile::encodeName(redirection.file).constData(), flags, 0666));
    }
    if (fd < 0) {
        if (error) *error = redirection.file + QStringLiteral(": ") + errorText(errno);
        return false;
    }
    table_->replace(redirection.fd, fd);
    return true;
}

bool StandardStreams::write(int stream, const QByteArray& bytes)
{
    if (stream < 0 || stream > 2) return false;
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(table_->fds[stream], data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        left -= n;
    }
    return true;
}

struct ChildProcess::Watch {
    pid_t pid = -1;
    int pidfd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> poll;  // only where pidfds are unavailable
    ~Watch()
    {
        notifier.reset();
        if (pidfd >= 0) ::close(pidfd);
    }
};

ChildProcess::ChildProcess(QObject* parent)
    : QObject(parent)
{
}

ChildProcess::~ChildProcess() = default;

bool ChildProcess::start(const QString& program, const QStringList& arguments,
                         const StandardStreams& streams, QString* error)
{
    if (running_) {
        if (error) *error = QStringLiteral("already running");
        return false;
    }
    std::vector<QByteArray> encoded;
    encoded.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments) encoded.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : encoded) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int stream = 0; stream < 3; ++stream)
        posix_spawn_file_actions_adddup2(&actions, streams.table().fds[stream], stream);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&attributes, &signalSet);
    sigaddset(&signalSet, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signalSet);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int result = ::posix_spawn(&pid, encoded.front().constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        if (error) *error = errorText(result);
        return false;
    }

    watch_ = std::make_unique<Watch>();
    watch_->pid = pid;
    running_ = true;
    exitCode_ = 0;
#ifdef SYS_pidfd_open
    watch_->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif
    if (watch_->pidfd >= 0) {
        ::fcntl(watch_->pidfd, F_SETFD, FD_CLOEXEC);
        watch_->notifier = std::make_unique<QSocketNotifier>(watch_->pidfd, QSocketNotifier::Read);
        connect(watch_->notifier.get(), &QSocketNotifier::activated, this, &ChildProcess::reap);
    } else {
        watch_->poll = std::make_unique<QTimer>();
        connect(watch_->poll.get(), &QTimer::timeout, this, &ChildProcess::reap);
        watch_->poll->start(100);
    }
    return true;
}

void ChildProcess::reap()
{
    if (!running_ || !watch_) return;
    int status = 0;
    pid_t done = ::waitpid(watch_->pid, &status, WNOHANG);
    if (done == 0 || (done < 0 && errno == EINTR)) return;
    if (done == watch_->pid)
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    running_ = false;
    if (watch_->notifier) watch_->notifier->setEnabled(false);
    if (watch_->poll) watch_->poll->stop();
    emit finished();
}

} // namespace kestrune
