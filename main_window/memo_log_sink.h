#pragma once
// The log as the runner sees it: lines appended to Memo1.
#include "runner/log_sink.h"

#include <QPlainTextEdit>

class MemoLogSink : public kestrune::LogSink {
public:
    explicit MemoLogSink(QPlainTextEdit* memo) : memo_(memo) {}
    // One addition: a trailing empty line in the list shows as an empty log line.
    void appendLines(const QStringList& lines) override { memo_->appendPlainText(lines.join(u'\n')); }

private:
    QPlainTextEdit* memo_;
};
