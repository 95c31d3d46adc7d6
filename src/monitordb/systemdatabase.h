#pragma once

#include "sqliteconnection.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>
#include <functional>

class CMessenger;
class CScheduleModel;

// The monitor's own database: schedule rows (MONITOR), named numbers (SEKVENS)
// and the calculation program's records (PID). One short-lived accessor per
// piece of work; the file is shared with the calculation programs meanwhile.
class CSystemDatabase {
public:
    CSystemDatabase(QString path, CMessenger& messenger);
    CSystemDatabase(const CSystemDatabase&) = delete;
    CSystemDatabase& operator=(const CSystemDatabase&) = delete;

    // Opens the file, or creates it with its tables when there is none. False only
    // when an existing file cannot be opened; LastOpenError() then tells why.
    bool Open();
    // Tries Open every intervalMs. A file held by another process is waited for;
    // one that stays unusable is reported to the operator after a bounded wait,
    // and false is returned.
    bool OpenRetrying(int intervalMs);
    void Close();
    QString LastOpenError() const { return m_lastOpenError; }
    // For work that must be one transaction across several operations.
    const CSqliteConnection& Connection() const { return m_db; }

    // Schedule rows.
    bool RowExists(int key);
    int SaveRow(const QString& tid, const QString& model, const QString& macro, int key,
                int implemented);
    bool DeleteRow(int key);
    void LoadAllRows(CScheduleModel& list);
    void LoadRow(int key, QString& tid, QString& model, QString& macro, int& implemented);
    bool SetImplemented(int implemented, int key);
    bool IsImplemented(int key);
    int GetCounter(int key);
    bool SetCounter(int key, int value);
    bool StepCounter(int key);
    // The same countdown on a row whose TID and COUNTER were read in this transaction.
    bool StepCounter(int key, const QString& tid, int counter);
    // random() gives values 0 to 32767.
    void SeedCyclicCounters(const std::function<int()>& random);
    QString GetProgramPath();
    static int IntervalMinutes(const QString& tid);

    // Named numbers.
    int NextNumber(const QString& name, bool advance);
    int GetSetting(const QString& name);
    bool SettingExists(const QString& name);
    bool SetSetting(const QString& name, int value);
    bool IsRunFlagSet(int key);
    void ResetRunFlag(int key);
    void ResetRunFlags(const QVector<int>& keys);
    QString GetTimeText(int which, int key);
    bool PurgePid(const QDateTime& now, int days);

    // What one scheduler pass or display refresh needs, each in one statement.
    // Run flags of the given keys; missing flags are created with 0.
    QHash<int, bool> RunFlags(const QVector<int>& keys);
    // What a scheduler pass reads of every stored row, by key.
    struct RowState {
        bool implemented = false;
        int counter = 0;
        QString tid;
    };
    QHash<int, RowState> RowStates();
    // The stored CALC_TIME (which 0) or MES_TIME (which 1) of every key that has one.
    QHash<int, int> StoredTimes(int which);

    // Seconds since 1970 as local time, or "Uppgift saknas" for 0.
    static QString TimeText(qint64 secondsSinceEpoch);

private:
    void CreateDatabase();
    void EnsureSchema();
    int ReadOrInsertNumber(const QString& name);
    QHash<int, int> NumbersWithPrefix(const QString& prefix);
    int AllocateKey();
    QString ReadTid(int key);

    QString m_path;
    CMessenger& m_messenger;
    CSqliteConnection m_db;
    QString m_lastOpenError;
    bool m_lastOpenBusy = false;
};
