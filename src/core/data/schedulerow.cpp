#include "data/schedulerow.h"

#include <QDateTime>
#include <algorithm>
#include <climits>

QString TimeText(qint64 secondsSinceEpoch) {
    if (secondsSinceEpoch == 0)
        return QStringLiteral("Uppgift saknas");
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

int SaturatedInt(qint64 value) {
    return int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
}
