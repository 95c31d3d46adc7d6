#pragma once

#include <QDateTime>
#include <QString>

class CSystemDatabase;
struct CScheduleLine;

// What the information dialog shows for one schedule line, worked out once
// before it opens.
struct CRowInformation {
    QString model;
    QString database;
    // "Tagen ur drift!", "Startar varje minut", or the next start and the time until it.
    QString timeLeft;
    QString lastCalculation;
    QString measurement;
    // The outcome and duration of the row's latest run.
    QString lastRun;
};

// Engine failures raise CDatabaseError and end the command before anything is shown.
CRowInformation ComputeRowInformation(CSystemDatabase& db, const CScheduleLine& line,
                                      const QString& programPath, const QDateTime& now);
