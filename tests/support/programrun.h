#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTime>
#include <gtest/gtest.h>

// Starts a program and expects it to run.
inline void StartProgram(QProcess& process, const QString& program,
                         const QProcessEnvironment& environment,
                         const QStringList& arguments = {}) {
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForStarted()) << program.toStdString();
}

// A program run to its end: its exit code (-1 when it did not end normally) and what it wrote.
struct CProgramRun {
    int exitCode;
    QString output;
    QString error;
};

inline CProgramRun
RunToEnd(const QString& program, const QStringList& arguments,
         const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, QString(), program + " did not end normally: " + process.errorString()};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Ends a running program as systemd and the desktop do, by SIGTERM, and expects it to end
// normally with exit code 0; the milliseconds that took.
inline qint64 StopBySigterm(QProcess& process) {
    QElapsedTimer stopping;
    stopping.start();
    process.terminate();
    EXPECT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return stopping.elapsed();
}

// Waits, when needed, until the wall clock's minute has more than this many seconds left, so
// that steps which must fall in one minute do.
inline void WaitForRoomInMinute(int seconds) {
    EXPECT_TRUE(
        QTest::qWaitFor([seconds] { return QTime::currentTime().second() < 60 - seconds; }, 61000));
}
