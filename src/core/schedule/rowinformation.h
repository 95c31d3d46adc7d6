#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

class CSystemDatabase;
struct CScheduleLine;

// What the information dialog shows for one schedule line, worked out once
// before it opens.
struct CRowInformation {
    QString model;
    QString database;
    QString timeLeft;
    QString lastCalculation;
    QString measurement;
    // The outcome and duration of the row's latest run.
    QString lastRun;
};

// Engine failures raise CDatabaseError and end the command before anything is shown.
CRowInformation ComputeRowInformation(CSystemDatabase& db, const CScheduleLine& line,
                                      const QString& programPath, const QDateTime& now);

// "YYYY-MM-DD HH:MM" as a local time; invalid unless the text has exactly that
// layout and names a real date and time.
QDateTime ParseStartTime(const QString& text);
// Whole minutes from the current minute to the start text, each "X" standing for
// the current minute's character at its place; negative once it has passed, empty
// when the text names no time.
std::optional<int> MinutesUntilStart(const QString& startTime, const QDateTime& now);
// Whole minutes from the current minute to the next time the weekday display text
// names: 0 in that very minute, at most a week less one minute; empty when the
// text names no day and time.
std::optional<int> MinutesUntilWeekday(const QString& displayedText, const QDateTime& now);
// "< 5 minuter", "< 2 timmar och 1 minut" ...
QString TimeLeftText(int minutes);
