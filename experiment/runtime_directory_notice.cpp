#include "experiment/runtime_directory_notice.h"

#include <QString>

namespace kestrune::experiment {

namespace {

QtMessageHandler previousHandler = nullptr;

void dropRuntimeDirectoryNotice(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!isRuntimeDirectoryNotice(type, message) && previousHandler) previousHandler(type, context, message);
}

} // namespace

bool isRuntimeDirectoryNotice(QtMsgType type, const QString& message)
{
    return type == QtWarningMsg && message.startsWith(QLatin1StringView("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

RuntimeDirectoryNoticeFilter::RuntimeDirectoryNoticeFilter()
{
    previousHandler = qInstallMessageHandler(dropRuntimeDirectoryNotice);
}

RuntimeDirectoryNoticeFilter::~RuntimeDirectoryNoticeFilter()
{
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

} // namespace kestrune::experiment
