#include "schedule/schedulerpeers.h"

#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTimeZone>
#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// Observations of another clock older than this no longer count: a clock that was set
// right is believed within this time.
constexpr qint64 kObservationWindowMs = 2 * 60 * 1000;
// A heartbeat is up to one wake-up old when it is read; the largest of the readings over
// this long comes within a second or two of how far the other clock is ahead.
constexpr qint64 kObservedForMs = 45 * 1000;
// A service that claimed a minute this recently schedules the file.
constexpr qint64 kSchedulingWithinSeconds = 2 * 60;

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Field 22 of /proc/<pid>/stat, after the command name in brackets: when the process
// started, in clock ticks since the boot.
QByteArray StartTicks(qint64 processId) {
    const QByteArray stat = ReadFile(QStringLiteral("/proc/%1/stat").arg(processId));
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    // After the name: state is field 3, so the start time is the 20th field from here.
    return fields.size() > 19 ? fields.at(19) : QByteArray();
}

QString BootId() {
    return QString::fromLatin1(
        ReadFile(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed());
}

QString ZoneOf(const QDateTime& now) {
    if (now.timeSpec() == Qt::TimeZone)
        return QString::fromUtf8(now.timeZone().id());
    if (now.timeSpec() == Qt::LocalTime)
        return QString::fromUtf8(QTimeZone::systemTimeZoneId());
    return QStringLiteral("UTC%1%2")
        .arg(now.offsetFromUtc() < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(QTime(0, 0).addSecs(std::abs(now.offsetFromUtc())).toString(QStringLiteral("HH:mm")));
}

QString OffsetText(int seconds) {
    return QStringLiteral("UTC%1%2")
        .arg(seconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(QTime(0, 0).addSecs(std::abs(seconds)).toString(QStringLiteral("HH:mm")));
}

} // namespace

CSchedulerPeers::CSchedulerPeers(bool service)
    : CSchedulerPeers(service, QSysInfo::machineHostName()) {}

CSchedulerPeers::CSchedulerPeers(bool service, QString host) {
    m_me.id = QRandomGenerator::global()->bounded(1, INT_MAX);
    m_me.host = std::move(host);
    m_me.process = QCoreApplication::applicationPid();
    m_me.service = service;
    m_me.processStart = ProcessStartOf(m_me.process);
}

QString CSchedulerPeers::ProcessStartOf(qint64 processId) {
    const QByteArray ticks = StartTicks(processId);
    return ticks.isEmpty() ? QString() : BootId() + QLatin1Char(':') + QString::fromLatin1(ticks);
}

CSchedulerPeers::Judgement CSchedulerPeers::Beat(CSystemDatabase& db, const QDateTime& now) {
    const qint64 nowMs = now.toMSecsSinceEpoch();
    m_me.heartbeatMs = nowMs;
    m_me.timeZone = ZoneOf(now);
    m_me.utcOffset = now.offsetFromUtc();
    CSqliteTransaction transaction(db.Connection());
    QVector<CSchedulerRecord> living;
    for (const CSchedulerRecord& other : db.Schedulers()) {
        if (other.id == m_me.id) {
            m_me.registration = other.registration;
            m_me.lastClaim = other.lastClaim;
            continue;
        }
        if (!IsAlive(other, nowMs)) {
            db.RemoveScheduler(other.id);
            m_observations.remove(other.id);
            continue;
        }
        ObserveClock(other, nowMs);
        living << other;
    }
    JudgeClocks(living);
    db.Heartbeat(m_me);
    if (m_me.registration == 0) {
        for (const CSchedulerRecord& scheduler : db.Schedulers()) {
            if (scheduler.id == m_me.id)
                m_me.registration = scheduler.registration;
        }
    }
    transaction.Commit();

    Judgement judgement;
    judgement.living.insert(m_me.id);
    for (const CSchedulerRecord& other : living)
        judgement.living.insert(other.id);
    JudgeDisagreement(living, judgement);
    judgement.schedulingService = m_me.service ? QString() : SchedulingService(living, nowMs);
    return judgement;
}

void CSchedulerPeers::Leave(CSystemDatabase& db) {
    db.RemoveScheduler(m_me.id);
}

// On this host the process itself tells; elsewhere (or after a boot) only the heartbeat.
bool CSchedulerPeers::IsAlive(const CSchedulerRecord& other, qint64 nowMs) const {
    const bool thisBoot =
        other.host == m_me.host && other.processStart.section(QLatin1Char(':'), 0, 0) ==
                                       m_me.processStart.section(QLatin1Char(':'), 0, 0);
    if (thisBoot && !other.processStart.isEmpty())
        return ProcessStartOf(other.process) == other.processStart;
    return nowMs - other.heartbeatMs < kSilenceMs;
}

void CSchedulerPeers::ObserveClock(const CSchedulerRecord& other, qint64 nowMs) {
    QVector<Observation>& seen = m_observations[other.id];
    seen << Observation{nowMs, other.heartbeatMs - nowMs};
    seen.erase(std::remove_if(seen.begin(), seen.end(),
                              [nowMs](const Observation& observation) {
                                  return nowMs - observation.atMs > kObservationWindowMs;
                              }),
               seen.end());
}

// Nothing until the readings span long enough to tell.
std::optional<qint64> CSchedulerPeers::ClockAheadBy(qint64 otherId) const {
    const QVector<Observation> seen = m_observations.value(otherId);
    if (seen.isEmpty() || seen.last().atMs - seen.first().atMs < kObservedForMs)
        return std::nullopt;
    qint64 ahead = LLONG_MIN;
    for (const Observation& observation : seen)
        ahead = std::max(ahead, observation.aheadMs);
    return ahead;
}

// Only a clock found ahead is judged: a heartbeat that looks old may simply be old. The
// scheduler behind says so in its row, where the one ahead reads it. Until then nothing
// starts twice all the same: the one behind finds the minutes it reaches claimed.
void CSchedulerPeers::JudgeClocks(const QVector<CSchedulerRecord>& living) {
    m_me.clockBehindOf = 0;
    m_me.clockDifference = 0;
    for (const CSchedulerRecord& other : living) {
        const qint64 ahead = ClockAheadBy(other.id).value_or(0);
        if (ahead > kClockToleranceMs && ahead / 1000 > m_me.clockDifference) {
            m_me.clockBehindOf = other.id;
            m_me.clockDifference = (ahead + 500) / 1000;
        }
    }
}

QString CSchedulerPeers::Label(const CSchedulerRecord& scheduler, const CSchedulerRecord& other) {
    if (scheduler.host != other.host)
        return scheduler.host;
    return QStringLiteral("%1 (%2, process %3)")
        .arg(scheduler.host, scheduler.service ? QStringLiteral("kvarnixmonitord")
                                               : QStringLiteral("kvarnixmonitor"))
        .arg(scheduler.process);
}

// Empty when the two agree.
QString CSchedulerPeers::Disagreement(const CSchedulerRecord& other) const {
    if (other.utcOffset != m_me.utcOffset) {
        return QStringLiteral("Schemaläggaren på %1 räknar tiden i tidszonen %2 (%3) men den på "
                              "%4 i %5 (%6); ställ in samma tidszon för båda.")
            .arg(Label(m_me, other), m_me.timeZone, OffsetText(m_me.utcOffset), Label(other, m_me),
                 other.timeZone, OffsetText(other.utcOffset));
    }
    const bool meBehind = m_me.clockBehindOf == other.id;
    if (!meBehind && other.clockBehindOf != m_me.id)
        return {};
    const CSchedulerRecord& behind = meBehind ? m_me : other;
    const CSchedulerRecord& ahead = meBehind ? other : m_me;
    return QStringLiteral("Klockan på %1 går %2 s efter klockan på %3; ställ in "
                          "tidssynkronisering.")
        .arg(Label(behind, ahead))
        .arg(behind.clockDifference)
        .arg(Label(ahead, behind));
}

// The first disagreement with a living scheduler is worded once and kept while it stands;
// this scheduler waits when the other one registered first.
void CSchedulerPeers::JudgeDisagreement(const QVector<CSchedulerRecord>& living,
                                        Judgement& judgement) {
    for (const CSchedulerRecord& other : living) {
        const QString text = Disagreement(other);
        if (text.isEmpty())
            continue;
        const bool yields = other.registration < m_me.registration;
        if (m_disagreementWith != other.id) {
            m_disagreementWith = other.id;
            m_disagreement =
                text + QStringLiteral(" Till dess startar bara schemaläggaren på %1 beräkningar.")
                           .arg(yields ? Label(other, m_me) : Label(m_me, other));
        }
        judgement.disagreement = m_disagreement;
        judgement.mayStart = !yields;
        return;
    }
    m_disagreementWith = 0;
    m_disagreement.clear();
}

QString CSchedulerPeers::SchedulingService(const QVector<CSchedulerRecord>& living,
                                           qint64 nowMs) const {
    for (const CSchedulerRecord& other : living) {
        if (other.service && other.lastClaim > 0 &&
            nowMs / 1000 - other.lastClaim <= kSchedulingWithinSeconds)
            return other.host;
    }
    return {};
}
