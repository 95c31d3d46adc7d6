#pragma once

#include <QString>
#include <cstdlib>

// Every text read from a stored file loses its trailing blanks.
inline QString TrimmedRight(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    return text.left(end);
}

// The number formed by the leading digits (after optional blanks and one sign),
// 0 when there are none, as C's atoi reads it.
inline int LeadingNumber(const QString& text) {
    return std::atoi(text.toLatin1().constData());
}
