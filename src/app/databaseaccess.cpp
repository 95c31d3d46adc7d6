#include "databaseaccess.h"

#include "app/messenger.h"
#include "app/stoprequest.h"
#include "monitordb/systemdatabase.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

constexpr int kCommandBusyWaitMs = 5000;
constexpr int kUnusableGraceMs = 5000;
constexpr int kUnusableRetryMs = 200;

} // namespace

CBusyWait CommandWait() {
    return CBusyWait(kCommandBusyWaitMs, &ProcessStopRequested());
}

CBusyWait StartWait() {
    return CBusyWait(CBusyWait::kForever, &ProcessStopRequested());
}

bool OpenForCommand(CSystemDatabase& db, CMessenger& messenger) {
    if (db.Open())
        return true;
    messenger.ShowMessage(db.LastOpenFaultText());
    return false;
}

bool OpenAtStart(CSystemDatabase& db, CMessenger& messenger) {
    QElapsedTimer waited;
    waited.start();
    while (!db.OpenOrCreate()) {
        if (ProcessStopRequested())
            return false;
        if (db.LastOpenFault() == DatabaseFault::Busy)
            continue;
        if (waited.elapsed() >= kUnusableGraceMs) {
            messenger.ShowMessage(db.LastOpenFaultText());
            return false;
        }
        QThread::msleep(kUnusableRetryMs);
    }
    return true;
}
