#include "main_window/quality_history.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString csvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"')) return text;
    return u'"' + QString(text).replace(u"\""_s, u"\"\""_s) + u'"';
}

} // namespace

QString DecodedQuality::label() const
{
    QString text = outputName + u", "_s + concealment;
    if (!lossRate.isEmpty()) text += u", "_s + lossRate + u" % loss"_s;
    return text;
}

void QualityHistory::add(DecodedQuality decode)
{
    decodes_.push_back(std::move(decode));
    while (decodes_.size() > kMaxDecodes) decodes_.pop_front();
}

QString QualityHistory::csv() const
{
    QString text = u"frame"_s;
    std::size_t frames = 0;
    for (const DecodedQuality& d : decodes_) {
        text += u',' + csvField(d.label());
        frames = std::max(frames, d.psnrY.size());
    }
    text += u"\r\n"_s;
    for (std::size_t i = 0; i < frames; ++i) {
        text += QString::number(i);
        for (const DecodedQuality& d : decodes_)
            text += u',' + (i < d.psnrY.size() ? QString::number(d.psnrY[i], 'f', 4) : QString());
        text += u"\r\n"_s;
    }
    return text;
}
