#pragma once
// A concealment pair: the decoder panel's I-frame method (RadioGroup2 item
// 0..3) and P-frame method (RadioGroup3 item 0..1).
#include <QList>
#include <QString>
#include <optional>

namespace kestrune {

struct ConcealmentPair {
    int iItem = 3;
    int pItem = 1;
    bool operator==(const ConcealmentPair&) const = default;
};

// Every pair, I-frame method major: (0,0), (0,1), (1,0) ... (3,1).
QList<ConcealmentPair> allConcealmentPairs();

// Short label such as "Bilinear + BMA".
QString concealmentPairLabel(ConcealmentPair pair);

// "I:P" with I in 0..3 and P in 0..1 (e.g. "3:1"); nothing otherwise.
std::optional<ConcealmentPair> parseConcealmentPair(const QString& text);
QString concealmentPairText(ConcealmentPair pair);

} // namespace kestrune
