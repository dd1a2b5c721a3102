#pragma once
#include <QStringList>

namespace kestrune {

// Where tool output goes: the window implements it over its log.
class LogSink {
public:
    virtual ~LogSink() = default;
    // Appends the lines as one addition, each line a line of the log.
    virtual void appendLines(const QStringList& lines) = 0;
};

} // namespace kestrune
