#include "experiment/process_group.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace kestrune::experiment {

void adoptOrphanedDescendants()
{
#ifdef PR_SET_CHILD_SUBREAPER
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
}

bool processGroupEnded(pid_t group)
{
    if (group <= 0) return true;  // never started: kill(0) would be our own group
    int status = 0;
    while (::waitpid(-group, &status, WNOHANG) > 0) {
    }
    return ::kill(-group, 0) != 0 && errno == ESRCH;
}

void endProcessGroup(pid_t group, bool signalled, int graceMs)
{
    if (processGroupEnded(group)) return;
    if (!signalled) ::kill(-group, SIGTERM);
    const auto killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    bool killed = false;
    while (!processGroupEnded(group)) {
        if (!killed && std::chrono::steady_clock::now() >= killAt) {
            ::kill(-group, SIGKILL);
            killed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace kestrune::experiment
