#pragma once
// The processes of one run: its child leads a process group of its own, and
// the tools it starts stay in that group. The run is over when the group is
// empty, not when its leader has ended: a tool still stopping may write into
// the run's folder.
#include <sys/types.h>

namespace kestrune::experiment {

// Makes the processes of ended runs' groups this process's children when
// their parent ends, so their ends can be reaped here whatever the system's
// first process does with orphans. Linux only; elsewhere a no-op.
void adoptOrphanedDescendants();

// Reaps the ended processes of the group that are this process's children;
// true when no process of the group is left.
bool processGroupEnded(pid_t group);

// Returns once no process of the group is left. Those left get SIGTERM
// (unless `signalled` says they had it already) and, after `graceMs`, SIGKILL.
void endProcessGroup(pid_t group, bool signalled, int graceMs);

} // namespace kestrune::experiment
