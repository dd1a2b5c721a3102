#pragma once
// Qt's GUI start-up looks for its runtime folder and, where XDG_RUNTIME_DIR is
// unset (batch jobs, cluster nodes, CI), warns on standard error although the
// offscreen plot never uses that folder. The warning says nothing about our
// run, so it is dropped while the application object is built; every other
// message, including the ones about a runtime folder that is set but unusable,
// goes through.
#include <QtGlobal>

namespace kestrune::experiment {

bool isRuntimeDirectoryNotice(QtMsgType type, const QString& message);

// While alive, drops that notice and hands every other message to the
// handler installed before it. One at a time.
class RuntimeDirectoryNoticeFilter {
public:
    RuntimeDirectoryNoticeFilter();
    ~RuntimeDirectoryNoticeFilter();
    RuntimeDirectoryNoticeFilter(const RuntimeDirectoryNoticeFilter&) = delete;
    RuntimeDirectoryNoticeFilter& operator=(const RuntimeDirectoryNoticeFilter&) = delete;
};

} // namespace kestrune::experiment
