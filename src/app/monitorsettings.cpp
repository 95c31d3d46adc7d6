#include "monitorsettings.h"

#include "monitordb/systemdatabase.h"
#include "textutil.h"

namespace {

// Stored as 64-bit numbers: a value beyond an int keeps its sign instead of
// wrapping, so "nonzero means on" holds for every one of them.
int OrDefault(qint64 stored, int fallback) {
    return stored == 0 ? fallback : SaturatedInt(stored);
}

} // namespace

CMonitorSettings CMonitorSettings::Load(CSystemDatabase& db) {
    CMonitorSettings settings;
    settings.showKol4 = SaturatedInt(db.GetSetting(QStringLiteral("SHOW_KOL4")));
    settings.hideMinuter = OrDefault(db.GetSetting(QStringLiteral("HIDE_MINUTER")), 10);
    settings.hide = SaturatedInt(db.GetSetting(QStringLiteral("HIDE")));
    settings.logFile = OrDefault(db.GetSetting(QStringLiteral("LOGFILE")), 100);
    settings.pid = OrDefault(db.GetSetting(QStringLiteral("PID")), 10);
    settings.programPath = TrimmedRight(db.GetProgramPath());
    settings.save = SaturatedInt(db.GetSetting(QStringLiteral("SAVE")));
    settings.drift = SaturatedInt(db.GetSetting(QStringLiteral("DRIFT")));
    return settings;
}
