#pragma once

#include "data/runend.h"

#include <functional>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <string>

// What the supervisor measured of a calculation that ended.
struct CFinishedRun {
    CRunEnd end;
    long long startMs = 0;
    long long endMs = 0;
    long long cpuMs = 0;
    long long peakMemoryKb = 0;
};

// The row of the run history that one supervisor keeps, and what it reads besides, through
// one connection to the monitor database that stays open while the calculation runs. Every
// write waits for a busy file and is tried again: a run's end must reach the history.
// Each operation says whether it succeeded; Error() tells why not.
class CRunDatabase {
public:
    CRunDatabase(const std::string& path, long long runId);

    bool IsOpen() const { return m_db != nullptr; }
    const std::string& Error() const { return m_error; }

    // The calculation started now on the host as process calcPid, watched by supervisorPid.
    bool RecordStart(long long startMs, int calcPid, int supervisorPid, const std::string& host);
    bool Heartbeat(long long nowSeconds);
    // Who asked for the run to be cancelled ("operatör på värd"), nothing while nobody has.
    std::optional<std::string> CancelRequest();
    // The end, and in the same transaction the row's run flag cleared when the calculation
    // left it set; whether the flag had to be cleared.
    std::optional<bool> RecordEnd(const CFinishedRun& finished);
    // The program could not start; the run is closed as a failed start.
    bool RecordNotStarted(long long nowSeconds, const std::string& reason);

    // What the failure command is told about the run.
    struct RunIdentity {
        long long key = 0;
        std::string model;
        std::string macro;
    };
    std::optional<RunIdentity> Identity();
    // The stored failure command, empty when there is none.
    std::string FailureCommand();
    bool RecordFailureCommand(const std::string& what);

private:
    struct StatementDeleter {
        void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;
    struct DatabaseDeleter {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };

    Statement Prepare(const char* sql);
    bool Execute(const char* sql);
    bool RunToEnd(sqlite3_stmt* statement);
    bool Retried(const std::function<bool()>& work);
    bool Fail();

    std::unique_ptr<sqlite3, DatabaseDeleter> m_db;
    long long m_runId;
    std::string m_error;
};
