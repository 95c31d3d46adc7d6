#pragma once

#include "base/clock.h"
#include "base/messenger.h"
#include "monitordb/databaseerror.h"

#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <ostream>

// Failure messages show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// A clock that stands where the test puts it; the scheduler's threads may read it meanwhile.
class CFakeClock : public CClock {
public:
    explicit CFakeClock(QDateTime now = {}) : m_now(std::move(now)) {}
    QDateTime Now() const override {
        const QMutexLocker lock(&m_mutex);
        return m_now;
    }
    void Set(const QDateTime& now) {
        const QMutexLocker lock(&m_mutex);
        m_now = now;
    }

private:
    mutable QMutex m_mutex;
    QDateTime m_now;
};

// Records every message instead of showing a box, and answers questions from
// a list the test gives (no answer left means "Nej").
class CRecordingMessenger : public CMessenger {
public:
    void ShowMessage(const QString& text) override { messages << text; }
    void ShowWarning(const QString& text) override { messages << text; }
    bool AskYesNo(const QString& text) override {
        questions << text;
        return !answers.isEmpty() && answers.takeFirst();
    }
    QStringList messages;
    QStringList questions;
    QList<bool> answers;
};

// The database error the work raised, or nothing when it raised none.
inline std::optional<CDatabaseError> ErrorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const CDatabaseError& e) {
        return e;
    }
    return std::nullopt;
}

// A local date and time, "yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss" or with ".zzz" milliseconds.
QDateTime LocalTime(const QString& text);

// A fresh folder holding a program path whose derived files the test inspects.
class CTestFolder {
public:
    // The run supervisor lies beside the program, where the launchers look for it.
    enum class Supervisor { Beside, None };
    explicit CTestFolder(Supervisor supervisor = Supervisor::Beside);
    QString Path() const { return m_dir.path(); }
    QString File(const QString& name) const { return m_dir.filePath(name); }
    // The program path the monitor's files are named from.
    QString ProgramFile() const { return File(QStringLiteral("kvarnixmonitor")); }
    QString DatabaseFile() const { return File(QStringLiteral("kvarnixmonitor.mdb")); }
    QString LogFile() const { return File(QStringLiteral("kvarnixmonitor.log")); }

    QStringList ReadLines(const QString& path) const;
    // A model file (model + ".vxm") and its macro database (model + ".mac").
    void CreateModel(const QString& model, const QStringList& macros) const;
    void WriteText(const QString& path, const QString& text) const;

private:
    QTemporaryDir m_dir;
};
