#include "monitorsettings.h"

#include "monitordb/systemdatabase.h"
#include "textutil.h"

namespace {
int OrDefault(int stored, int fallback) {
    return stored == 0 ? fallback : stored;
}

} // namespace

CMonitorSettings CMonitorSettings::Load(CSystemDatabase& db) {
    CMonitorSettings settings;
    settings.showKol4 = db.GetSetting(QStringLiteral("SHOW_KOL4"));
    settings.hideMinuter = OrDefault(db.GetSetting(QStringLiteral("HIDE_MINUTER")), 10);
    settings.hide = db.GetSetting(QStringLiteral("HIDE"));
    settings.logFile = OrDefault(db.GetSetting(QStringLiteral("LOGFILE")), 100);
    settings.pid = OrDefault(db.GetSetting(QStringLiteral("PID")), 10);
    settings.programPath = TrimmedRight(db.GetProgramPath());
    settings.save = db.GetSetting(QStringLiteral("SAVE"));
    settings.drift = db.GetSetting(QStringLiteral("DRIFT"));
    return settings;
}
