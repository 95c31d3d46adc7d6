#include "settings/monitorsettings.h"

#include "base/textutil.h"
#include "monitordb/systemdatabase.h"

namespace {

// Stored as 64-bit numbers: a value beyond an int keeps its sign instead of
// wrapping, so "nonzero means on" holds for every one of them.
int OrDefault(qint64 stored, int fallback) {
    return stored == 0 ? fallback : SaturatedInt(stored);
}

} // namespace

CMonitorSettings CMonitorSettings::Load(CSystemDatabase& db) {
    CMonitorSettings settings;
    settings.showColumn4 = SaturatedInt(db.GetSetting(QStringLiteral("SHOW_KOL4")));
    settings.minimizeMinutes = OrDefault(db.GetSetting(QStringLiteral("HIDE_MINUTER")), 10);
    settings.minimizePeriodically = SaturatedInt(db.GetSetting(QStringLiteral("HIDE")));
    settings.logDays = OrDefault(db.GetSetting(QStringLiteral("LOGFILE")), 100);
    settings.pidDays = OrDefault(db.GetSetting(QStringLiteral("PID")), 10);
    settings.programPath = TrimmedRight(db.GetProgramPath());
    settings.mayWriteIp21 = SaturatedInt(db.GetSetting(QStringLiteral("SAVE")));
    settings.schedulerOn = SaturatedInt(db.GetSetting(QStringLiteral("DRIFT")));
    return settings;
}
