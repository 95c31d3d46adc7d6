#pragma once

#include <QDateTime>

// The wall clock, injected so the scheduler can be driven through simulated days.
class CClock {
public:
    virtual ~CClock() = default;
    virtual QDateTime Now() const = 0;
};

class CSystemClock : public CClock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};
