#include "rundatabase.h"

#include <chrono>
#include <thread>

namespace {

// A writer may hold the file for a while; the supervisor waits as a calculation would.
constexpr int kBusyTimeoutMs = 5000;
// How long a write is tried again while the file stays busy: the end of a run is worth
// waiting for, but not for ever on a file that is gone for good.
constexpr auto kRetryFor = std::chrono::minutes(10);
constexpr auto kRetryPause = std::chrono::seconds(1);
// The supervisor reads a handful of pages; a small cache keeps each of hundreds of them small.
// In WAL mode a commit need not wait for the disk: a power cut may cost the latest records,
// never the file.
constexpr char kSettings[] = "PRAGMA cache_size = -64; PRAGMA synchronous = NORMAL";

bool IsBusy(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

void BindOptional(sqlite3_stmt* statement, int index, const std::optional<int>& value) {
    if (value)
        sqlite3_bind_int(statement, index, *value);
    else
        sqlite3_bind_null(statement, index);
}

} // namespace

CRunDatabase::CRunDatabase(const std::string& path, long long runId) : m_runId(runId) {
    sqlite3* db = nullptr;
    // Never created here: a missing database is a fault, not a new schedule.
    const int code = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    m_db.reset(db);
    if (code != SQLITE_OK) {
        m_error = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
        m_db.reset();
        return;
    }
    // Its few statements need no buffer of small allocations kept ready: that buffer would be
    // most of a supervisor's own memory.
    sqlite3_db_config(db, SQLITE_DBCONFIG_LOOKASIDE, nullptr, 0, 0);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_exec(db, kSettings, nullptr, nullptr, nullptr);
}

CRunDatabase::Statement CRunDatabase::Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), sql, -1, &statement, nullptr) != SQLITE_OK)
        Fail();
    return Statement(statement);
}

bool CRunDatabase::Fail() {
    m_error = sqlite3_errmsg(m_db.get());
    return false;
}

bool CRunDatabase::Execute(const char* sql) {
    return sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK || Fail();
}

bool CRunDatabase::RunToEnd(sqlite3_stmt* statement) {
    if (!statement)
        return false;
    int code;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
    }
    return code == SQLITE_DONE || Fail();
}

// The work is one transaction or one statement; it is tried again while the file is busy.
bool CRunDatabase::Retried(const std::function<bool()>& work) {
    if (!IsOpen())
        return false;
    const auto giveUp = std::chrono::steady_clock::now() + kRetryFor;
    for (;;) {
        if (work())
            return true;
        const bool busy = IsBusy(sqlite3_extended_errcode(m_db.get()));
        if (!sqlite3_get_autocommit(m_db.get()))
            sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        if (!busy || std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(kRetryPause);
    }
}

bool CRunDatabase::RecordStart(long long startMs, int calcPid, int supervisorPid,
                               const std::string& host) {
    return Retried([&] {
        const Statement update =
            Prepare("UPDATE KORNINGAR SET START_MS = ?1, IGANG = ?1 / 1000, PROCESS = ?2, "
                    "VAKT = ?3, HJARTSLAG = ?1 / 1000, VARD = ?5 WHERE rowid = ?4 AND "
                    "SLUT IS NULL");
        if (!update)
            return false;
        sqlite3_bind_int64(update.get(), 1, startMs);
        sqlite3_bind_int(update.get(), 2, calcPid);
        sqlite3_bind_int(update.get(), 3, supervisorPid);
        sqlite3_bind_int64(update.get(), 4, m_runId);
        sqlite3_bind_text(update.get(), 5, host.c_str(), -1, SQLITE_TRANSIENT);
        return RunToEnd(update.get());
    });
}

// Once only: a missed beat is made good by the next one.
bool CRunDatabase::Heartbeat(long long nowSeconds) {
    if (!IsOpen())
        return false;
    const Statement update =
        Prepare("UPDATE KORNINGAR SET HJARTSLAG = ? WHERE rowid = ? AND SLUT IS NULL");
    if (!update)
        return false;
    sqlite3_bind_int64(update.get(), 1, nowSeconds);
    sqlite3_bind_int64(update.get(), 2, m_runId);
    return RunToEnd(update.get());
}

std::optional<std::string> CRunDatabase::CancelRequest() {
    if (!IsOpen())
        return std::nullopt;
    const Statement query = Prepare("SELECT AVBRYT FROM KORNINGAR WHERE rowid = ?");
    if (!query)
        return std::nullopt;
    sqlite3_bind_int64(query.get(), 1, m_runId);
    if (sqlite3_step(query.get()) != SQLITE_ROW ||
        sqlite3_column_type(query.get(), 0) == SQLITE_NULL)
        return std::nullopt;
    // The cancel stands even when the engine has no memory left to give its asker's name.
    const unsigned char* asker = sqlite3_column_text(query.get(), 0);
    return asker ? std::string(reinterpret_cast<const char*>(asker)) : std::string();
}

// A run a scheduler gave up as lost while this supervisor could not reach the file still
// gets its true end.
std::optional<bool> CRunDatabase::RecordEnd(const CFinishedRun& finished) {
    bool flagCleared = false;
    const bool recorded = Retried([&] {
        flagCleared = false;
        if (!Execute("BEGIN IMMEDIATE"))
            return false;
        const Statement end = Prepare(
            "UPDATE KORNINGAR SET SLUT = ?1 / 1000, SLUT_MS = ?1, START_MS = IFNULL(START_MS, ?2), "
            "IGANG = IFNULL(IGANG, ?2 / 1000), UTFALL = ?3, KOD = ?4, SIGNAL = ?5, CPU_MS = ?6, "
            "MINNE_KB = ?7 WHERE rowid = ?8 AND (SLUT IS NULL OR UTFALL = 'förlorad')");
        if (!end)
            return false;
        sqlite3_bind_int64(end.get(), 1, finished.endMs);
        sqlite3_bind_int64(end.get(), 2, finished.startMs);
        sqlite3_bind_text(end.get(), 3, finished.end.outcome.c_str(), -1, SQLITE_TRANSIENT);
        BindOptional(end.get(), 4, finished.end.exitCode);
        BindOptional(end.get(), 5, finished.end.signal);
        sqlite3_bind_int64(end.get(), 6, finished.cpuMs);
        sqlite3_bind_int64(end.get(), 7, finished.peakMemoryKb);
        sqlite3_bind_int64(end.get(), 8, m_runId);
        if (!RunToEnd(end.get()))
            return false;
        const Statement clear =
            Prepare("UPDATE SEKVENS SET NUMMER = 0 WHERE NAMN = 'RUNFLAGG' || (SELECT NYCKEL FROM "
                    "KORNINGAR WHERE rowid = ?1) AND NUMMER <> 0");
        if (!clear)
            return false;
        sqlite3_bind_int64(clear.get(), 1, m_runId);
        if (!RunToEnd(clear.get()))
            return false;
        flagCleared = sqlite3_changes(m_db.get()) > 0;
        if (flagCleared) {
            const Statement mark = Prepare("UPDATE KORNINGAR SET ATERSTALLD = 1 WHERE rowid = ?");
            if (!mark)
                return false;
            sqlite3_bind_int64(mark.get(), 1, m_runId);
            if (!RunToEnd(mark.get()))
                return false;
        }
        return Execute("COMMIT");
    });
    if (!recorded)
        return std::nullopt;
    return flagCleared;
}

bool CRunDatabase::RecordNotStarted(long long nowSeconds, const std::string& reason) {
    return Retried([&] {
        const Statement close =
            Prepare("UPDATE KORNINGAR SET SLUT = ?, UTFALL = 'kunde inte startas', ORSAK = ? "
                    "WHERE rowid = ? AND SLUT IS NULL");
        if (!close)
            return false;
        sqlite3_bind_int64(close.get(), 1, nowSeconds);
        sqlite3_bind_text(close.get(), 2, reason.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(close.get(), 3, m_runId);
        return RunToEnd(close.get());
    });
}

std::optional<CRunDatabase::RunIdentity> CRunDatabase::Identity() {
    std::optional<RunIdentity> identity;
    Retried([&] {
        const Statement query =
            Prepare("SELECT NYCKEL, MODELL, MAKRO FROM KORNINGAR WHERE rowid = ?");
        if (!query)
            return false;
        sqlite3_bind_int64(query.get(), 1, m_runId);
        const int code = sqlite3_step(query.get());
        if (code == SQLITE_ROW) {
            const auto text = [&](int column) {
                const unsigned char* value = sqlite3_column_text(query.get(), column);
                return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
            };
            identity = RunIdentity{sqlite3_column_int64(query.get(), 0), text(1), text(2)};
        }
        return code == SQLITE_ROW || code == SQLITE_DONE || Fail();
    });
    return identity;
}

// A file no monitor has written a text setting to has no table for them: no command.
std::string CRunDatabase::FailureCommand() {
    std::string command;
    Retried([&] {
        const Statement query =
            Prepare("SELECT VARDE FROM TEXTINSTALLNING WHERE NAMN = 'KOR_VID_FEL'");
        if (!query)
            return sqlite3_errcode(m_db.get()) == SQLITE_ERROR;
        const int code = sqlite3_step(query.get());
        if (code == SQLITE_ROW && sqlite3_column_text(query.get(), 0))
            command = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0));
        return code == SQLITE_ROW || code == SQLITE_DONE || Fail();
    });
    return command;
}

bool CRunDatabase::RecordFailureCommand(const std::string& what) {
    return Retried([&] {
        const Statement update = Prepare("UPDATE KORNINGAR SET VID_FEL = ? WHERE rowid = ?");
        if (!update)
            return false;
        sqlite3_bind_text(update.get(), 1, what.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(update.get(), 2, m_runId);
        return RunToEnd(update.get());
    });
}
