#include "runner/concealment_pair.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace kestrune {

QList<ConcealmentPair> allConcealmentPairs()
{
    QList<ConcealmentPair> pairs;
    for (int i = 0; i <= 3; ++i)
        for (int p = 0; p <= 1; ++p) pairs.append({i, p});
    return pairs;
}

QString concealmentPairLabel(ConcealmentPair pair)
{
    static const QString intra[] = {u"None"_s, u"Average DC"_s, u"Average MB"_s, u"Bilinear"_s};
    static const QString inter[] = {u"None"_s, u"BMA"_s};
    if (pair.iItem < 0 || pair.iItem > 3 || pair.pItem < 0 || pair.pItem > 1) return u"?"_s;
    return intra[pair.iItem] + u" + "_s + inter[pair.pItem];
}

std::optional<ConcealmentPair> parseConcealmentPair(const QString& text)
{
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() != 2) return std::nullopt;
    bool okI = false, okP = false;
    const ConcealmentPair pair{parts[0].toInt(&okI), parts[1].toInt(&okP)};
    if (!okI || !okP || pair.iItem < 0 || pair.iItem > 3 || pair.pItem < 0 || pair.pItem > 1) return std::nullopt;
    return pair;
}

QString concealmentPairText(ConcealmentPair pair)
{
    return QString::number(pair.iItem) + u':' + QString::number(pair.pItem);
}

} // namespace kestrune
