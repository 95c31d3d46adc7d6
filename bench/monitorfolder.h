#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

// Monitor files as they look after a while in operation, for the benchmarks.

// Fills a new monitor database with rowCount active rows, the three kinds in turn, none due on
// a weekday before 2030 (the weekday rows start Sundays at 03:00, the cyclic ones every 99 hours).
// The calculation program is /bin/true, the scheduler is on, and every row has the run flag and
// both times a finished calculation leaves. False, with the reason on standard error, when the
// database could not be filled.
bool FillMonitorDatabase(const QString& path, int rowCount);

// Adds runCount finished runs, spread over the database's rows and over the five days before
// 2026-12-07 10:00, as the run history keeps them. False, with the reason on standard error,
// when they could not be written.
bool FillRunHistory(const QString& path, int runCount);
// Adds runCount open runs watched by supervisors, one each on the first rows, as while that
// many calculations run; BeatOpenRuns moves their heartbeats on, as their supervisors would.
bool OpenSupervisedRuns(const QString& path, int runCount);
void BeatOpenRuns(const QString& path);

// lineCount launch lines spread evenly over the days from firstDay to lastDay, in order.
QByteArray MonitorLogText(int lineCount, QDate firstDay, QDate lastDay);

bool WriteFile(const QString& path, const QByteArray& content);
