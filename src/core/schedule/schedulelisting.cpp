#include "schedule/schedulelisting.h"

#include "monitordb/databaseerror.h"
#include "monitordb/systemdatabase.h"
#include "rules/nextstart.h"
#include "schedule/calculationprocesses.h"

#include <QSet>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <numeric>
#include <optional>

namespace {

constexpr int kColumnGap = 2;
constexpr qint64 kMinutesPerHour = 60;
constexpr qint64 kMinutesPerDay = 24 * kMinutesPerHour;
// Below the first combining mark every character is one on the screen.
constexpr char16_t kFirstCombiningMark = 0x0300;

// One row as the columns see it.
struct CListedRow {
    CScheduleRow row;
    CRunState state;
    std::optional<CRun> lastRun;
    // Empty for an inactive row and one that never starts.
    std::optional<QDateTime> next;
};

struct CListingColumn {
    const char* header;
    bool alignRight;
    QString (*text)(const CListedRow& listed, const QDateTime& now);
};

QString NextText(const CListedRow& listed, const QDateTime&) {
    if (!listed.row.active)
        return QStringLiteral("inaktiv");
    if (!listed.next)
        return QStringLiteral("aldrig");
    return listed.next->toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString LeftText(const CListedRow& listed, const QDateTime& now) {
    return listed.next ? CScheduleListing::TimeLeft(now.secsTo(*listed.next)) : QString();
}

QString LastRunText(const CListedRow& listed, const QDateTime&) {
    return listed.lastRun ? RunHistory::Summary(*listed.lastRun) : QStringLiteral("-");
}

QString RunStateText(const CListedRow& listed, const QDateTime&) {
    if (listed.lastRun && listed.lastRun->Queued())
        return QStringLiteral("väntar i kön");
    if (listed.state.stale)
        return QStringLiteral("flaggan kvar");
    if (!listed.state.elsewhere.isEmpty())
        return QStringLiteral("körs på %1").arg(listed.state.elsewhere);
    return listed.state.running ? QStringLiteral("körs") : QStringLiteral("-");
}

// Every column of the listing, in order.
const CListingColumn kColumns[] = {
    {"NYCKEL", true,
     [](const CListedRow& listed, const QDateTime&) { return QString::number(listed.row.key); }},
    {"STARTTID", false,
     [](const CListedRow& listed, const QDateTime&) { return listed.row.startTime; }},
    {"NÄSTA START", false, NextText},
    {"KVAR", false, LeftText},
    {"SENASTE BERÄKNING", false,
     [](const CListedRow& listed, const QDateTime&) { return TimeText(listed.state.calcSeconds); }},
    {"LÄGE", false, RunStateText},
    {"SENASTE KÖRNING", false, LastRunText},
    {"MODELL", false, [](const CListedRow& listed, const QDateTime&) { return listed.row.model; }},
    {"MAKRO", false, [](const CListedRow& listed, const QDateTime&) { return listed.row.macro; }},
};

// A stored text may hold anything; a control character would break the line or steer
// the terminal, so it is shown as "?".
QString Printable(QString text) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return text;
}

// Characters as a reader counts them: a letter with a combining mark, or a character
// outside the basic plane, is one.
int DisplayWidth(const QString& text) {
    if (std::all_of(text.begin(), text.end(),
                    [](QChar c) { return c.unicode() < kFirstCombiningMark; }))
        return int(text.size());
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int width = 0;
    while (graphemes.toNextBoundary() >= 0)
        ++width;
    return width;
}

void AppendPadded(QString& line, const QString& text, int width, bool alignRight) {
    const qsizetype fill = std::max(width - DisplayWidth(text), 0);
    if (alignRight)
        line.resize(line.size() + fill, QLatin1Char(' '));
    line += text;
    if (!alignRight)
        line.resize(line.size() + fill, QLatin1Char(' '));
}

QVector<CListedRow> InStartOrder(const CListingInput& input, const QDateTime& now) {
    QVector<CListedRow> listed;
    listed.reserve(input.rows.size());
    for (const CScheduleRow& row : input.rows) {
        CListedRow entry{row, input.states.value(row.key), std::nullopt, std::nullopt};
        if (const auto run = input.lastRuns.constFind(row.key); run != input.lastRuns.constEnd())
            entry.lastRun = *run;
        if (row.active)
            entry.next = NextStart(row.startTime, row.counter, now);
        listed << entry;
    }
    std::sort(listed.begin(), listed.end(), [](const CListedRow& a, const CListedRow& b) {
        if (a.next.has_value() != b.next.has_value())
            return a.next.has_value();
        if (a.next && *a.next != *b.next)
            return *a.next < *b.next;
        return a.row.key < b.row.key;
    });
    return listed;
}

// The cells of the header and every row in one flat table, a row of columns after another;
// alignRight says which columns are aligned to the right.
QStringList AlignedLines(const QVector<QString>& cells, const QVector<bool>& alignRight) {
    const int columnCount = int(alignRight.size());
    QVector<int> widths(columnCount, 0);
    for (qsizetype i = 0; i < cells.size(); ++i)
        widths[i % columnCount] = std::max(widths[i % columnCount], DisplayWidth(cells[i]));
    const qsizetype lineWidth = std::accumulate(widths.begin(), widths.end(), qsizetype(0)) +
                                kColumnGap * (columnCount - 1);
    QStringList lines;
    lines.reserve(cells.size() / columnCount);
    for (qsizetype first = 0; first < cells.size(); first += columnCount) {
        QString line;
        line.reserve(lineWidth);
        for (int i = 0; i < columnCount; ++i) {
            if (i > 0)
                line.resize(line.size() + kColumnGap, QLatin1Char(' '));
            AppendPadded(line, cells[first + i], widths[i], alignRight[i]);
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    return lines;
}

} // namespace

CScheduleListing::CScheduleListing(CListingInput input, QDateTime now)
    : m_input(std::move(input)), m_now(std::move(now)) {}

QStringList CScheduleListing::Lines() const {
    const QVector<CListedRow> listed = InStartOrder(m_input, m_now);
    QVector<QString> cells;
    QVector<bool> alignRight;
    for (const CListingColumn& column : kColumns) {
        cells << QString::fromUtf8(column.header);
        alignRight << column.alignRight;
    }
    for (const CListedRow& row : listed) {
        for (const CListingColumn& column : kColumns)
            cells << Printable(column.text(row, m_now));
    }
    return AlignedLines(cells, alignRight);
}

QStringList CScheduleListing::HistoryLines(const QVector<CRun>& runs) {
    QVector<QString> cells{QStringLiteral("START"),       QStringLiteral("KÖRNING"),
                           QStringLiteral("VARAKTIGHET"), QStringLiteral("SLUTSTATUS"),
                           QStringLiteral("CPU"),         QStringLiteral("MINNE"),
                           QStringLiteral("UTFALL")};
    for (const CRun& run : runs)
        cells << TimeText(run.launched) << QString::number(run.id)
              << RunHistory::DurationOrState(run) << RunHistory::ExitStatusText(run)
              << RunHistory::CpuText(run) << RunHistory::MemoryText(run)
              << Printable(RunHistory::OutcomeText(run));
    return AlignedLines(cells, {false, true, true, false, true, true, false});
}

QString CScheduleListing::TimeLeft(qint64 seconds) {
    const qint64 minutes = std::max<qint64>((seconds + 59) / 60, 0);
    const qint64 days = minutes / kMinutesPerDay;
    const qint64 hours = minutes % kMinutesPerDay / kMinutesPerHour;
    const qint64 rest = minutes % kMinutesPerHour;
    const auto pair = [](qint64 large, const char* largeUnit, qint64 small, const char* smallUnit) {
        QString text = QStringLiteral("%1 %2").arg(large).arg(QLatin1String(largeUnit));
        if (small > 0)
            text += QStringLiteral(" %1 %2").arg(small).arg(QLatin1String(smallUnit));
        return text;
    };
    if (days > 0)
        return pair(days, "d", hours, "h");
    if (hours > 0)
        return pair(hours, "h", rest, "min");
    return QStringLiteral("%1 min").arg(rest);
}

CListingInput CScheduleListing::Read(CSystemDatabase& db, CCalculationProcesses& processes,
                                     const QString& host) {
    CListingInput input;
    input.rows = db.LoadAllRows();
    input.schedulerOn = CMonitorSettings::Read(db).schedulerOn != 0;
    const bool hasHistory = db.HasTable(QStringLiteral("KORNINGAR"));
    const QHash<int, qint64> flags = db.StoredRunFlags();
    const QHash<int, qint64> calcTimes = db.StoredTimes(StoredTime::Calculation);
    QHash<int, QString> elsewhere = hasHistory ? db.OpenRunHosts() : QHash<int, QString>();
    elsewhere.removeIf([&host](const auto& run) { return run.value() == host; });
    const QSet<int> stale = processes.StaleFlags(
        db, input.rows, [&](int key) { return flags.value(key) != 0 && !elsewhere.contains(key); });
    for (const CScheduleRow& row : input.rows) {
        const bool running = flags.value(row.key) != 0;
        input.states.insert(row.key, {running, stale.contains(row.key), calcTimes.value(row.key), 0,
                                      running ? elsewhere.value(row.key) : QString()});
    }
    if (hasHistory)
        input.lastRuns = db.LatestRuns();
    return input;
}
