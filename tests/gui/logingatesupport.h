#pragma once

#include "app/kvarnixmonitor.h"
#include "gui/guisupport.h"

#include <QFile>
#include <QSysInfo>
#include <unistd.h>

// Answers the login with the test's name (none cancels) and records what the operator is told.
struct CScriptedLoginDialogs : CLoginDialogs {
    std::optional<QString> AskOperatorName() override {
        ++asked;
        return answer;
    }
    void ShowAlreadyStarted(const QString& text) override { shown << text; }

    std::optional<QString> answer = QStringLiteral("Olle");
    int asked = 0;
    QStringList shown;
};

// A lock file byte for byte: the name on the first line, then the process id and host name.
inline QString LockText(const QString& name, qint64 pid = ::getpid(),
                        const QString& host = QSysInfo::machineHostName()) {
    return name + '\n' + QString::number(pid) + '\n' + host + '\n';
}

// The start-up gate over a fresh monitor database with the login check on.
struct LoginGate : testing::Test {
    CTestFolder folder;
    CProgramPaths paths{folder.ProgramFile()};
    CSystemClock clock;
    CRecordingMessenger messenger;
    CScriptedLoginDialogs dialogs;
    CKvarnixMonitorApp app{paths, clock, messenger, dialogs};
    QString lockPath = paths.LockFile();

    void SetUp() override { SetLoginCheck(1); }
    void SetLoginCheck(int value) {
        CSystemDatabase db(paths.MonitorDatabase());
        ASSERT_TRUE(db.OpenOrCreate() && db.SetSetting("INLOGGNINGSKONTROLL", value));
    }
    void WriteLock(const QString& text) { folder.WriteText(lockPath, text); }
    QString ReadLock() const {
        QFile file(lockPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "<missing>";
    }
};
