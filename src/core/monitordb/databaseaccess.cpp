#include "monitordb/databaseaccess.h"

#include "base/stoprequest.h"
#include "monitordb/databaseerror.h"
#include "monitordb/databasefault.h"
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

void OpenAtStart(CSystemDatabase& db) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        try {
            db.OpenOrCreate();
            return;
        } catch (const CDatabaseError& e) {
            const bool busy = ClassifyFault(e) == DatabaseFault::Busy;
            if (ProcessStopRequested() || (!busy && waited.elapsed() >= kUnusableGraceMs))
                throw;
            if (!busy)
                QThread::msleep(kUnusableRetryMs);
        }
    }
}
