#include "slurmcluster.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QThread>
#include <arpa/inet.h>
#include <csignal>
#include <functional>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kIdleWaitMs = 60000;
constexpr int kJobsEndWaitMs = 60000;
constexpr int kPollMs = 200;
constexpr int kClientTimeoutMs = 30000;
constexpr int kStopWaitMs = 15000;
constexpr int kMungeKeyBytes = 128;
// Below the kernel's range for outgoing connections, so no client of the cluster takes them.
constexpr int kFirstPort = 20000;
constexpr int kPortPairs = 5000;
constexpr int kPortTries = 100;
constexpr int kLogLines = 8;

bool PortIsFree(int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return free;
}

// The first of two free neighbouring ports, picked at random so that clusters started at
// once by tests running side by side choose different ones; 0 when none was found.
int FreePortPair() {
    for (int attempt = 0; attempt < kPortTries; ++attempt) {
        const int port = kFirstPort + 2 * QRandomGenerator::global()->bounded(kPortPairs);
        if (PortIsFree(port) && PortIsFree(port + 1))
            return port;
    }
    return 0;
}

QString LastLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no output)");
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    return lines.mid(qMax(0, lines.size() - kLogLines)).join(QLatin1Char('\n'));
}

QString ShortHostName() {
    return QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0);
}

int CpuCount() {
    return qMax(1, static_cast<int>(std::thread::hardware_concurrency()));
}

} // namespace

CSlurmCluster::CSlurmCluster(QStringList extraConfig) : m_extraConfig(std::move(extraConfig)) {
    m_problem = Start();
}

CSlurmCluster::~CSlurmCluster() {
    Stop();
}

QProcessEnvironment CSlurmCluster::Environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A test run inside a Slurm job must not hand that job's settings to its submissions.
    for (const QString& name : environment.keys()) {
        if (name.startsWith(QLatin1String("SLURM_")) || name.startsWith(QLatin1String("SBATCH_")))
            environment.remove(name);
    }
    environment.insert(QStringLiteral("SLURM_CONF"), ConfigFile());
    return environment;
}

QString CSlurmCluster::Run(const QString& command, const QStringList& arguments) const {
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.start(command, arguments);
    if (!process.waitForFinished(kClientTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

QString CSlurmCluster::Start() {
    if (::geteuid() != 0)
        return QStringLiteral("the Slurm cluster of the tests needs root (slurmd starts the "
                              "jobs as their users); this test runs as uid %1")
            .arg(::geteuid());
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder: %1").arg(m_dir.errorString());
    // munged and slurmd look up their sockets and spool through this folder as other users.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                            QFile::ExeOther);
    m_controllerPort = FreePortPair();
    m_nodePort = m_controllerPort + 1;
    if (m_controllerPort == 0)
        return QStringLiteral("no two free neighbouring ports from %1 on").arg(kFirstPort);
    const std::function<QString()> steps[] = {
        [this] { return StartMunge(); },
        [this] { return WriteConfig(); },
        [this] {
            return StartDaemon(
                QStringLiteral("slurmctld"),
                {QStringLiteral("-D"), QStringLiteral("-i"), QStringLiteral("-f"), ConfigFile()});
        },
        [this] {
            return StartDaemon(QStringLiteral("slurmd"),
                               {QStringLiteral("-D"), QStringLiteral("-f"), ConfigFile()});
        },
        [this] { return WaitUntilIdle(); },
    };
    for (const std::function<QString()>& step : steps) {
        if (const QString problem = step(); !problem.isEmpty())
            return problem;
    }
    return {};
}

QString CSlurmCluster::StartMunge() {
    const QString key = File(QStringLiteral("munge.key"));
    QFile keyFile(key);
    if (!keyFile.open(QIODevice::WriteOnly) ||
        !keyFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return QStringLiteral("cannot write the munge key %1: %2").arg(key, keyFile.errorString());
    QByteArray bytes(kMungeKeyBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          kMungeKeyBytes / int(sizeof(quint32)));
    keyFile.write(bytes);
    keyFile.close();
    const QString socket = File(QStringLiteral("munge.socket"));
    const QString problem =
        StartDaemon(QStringLiteral("munged"),
                    {QStringLiteral("--foreground"), QStringLiteral("--force"),
                     QStringLiteral("--socket=") + socket, QStringLiteral("--key-file=") + key,
                     QStringLiteral("--pid-file=") + File(QStringLiteral("munged.pid")),
                     QStringLiteral("--log-file=") + File(QStringLiteral("munged.log")),
                     QStringLiteral("--seed-file=") + File(QStringLiteral("munged.seed"))});
    if (!problem.isEmpty())
        return problem;
    // slurmctld asks munge for a credential as soon as it starts.
    const QDeadlineTimer deadline(kIdleWaitMs);
    while (!QFileInfo::exists(socket)) {
        if (const QString ended = DaemonsEnded(); !ended.isEmpty())
            return ended;
        if (deadline.hasExpired())
            return QStringLiteral("munged made no socket %1 within %2 ms")
                .arg(socket)
                .arg(kIdleWaitMs);
        QThread::msleep(kPollMs);
    }
    return {};
}

QString CSlurmCluster::WriteConfig() const {
    const QString host = ShortHostName();
    const QString text =
        QStringLiteral("ClusterName=kvarnixtest\n"
                       "SlurmctldHost=%1(127.0.0.1)\n"
                       "SlurmctldPort=%2\n"
                       "SlurmdPort=%3\n"
                       "AuthType=auth/munge\n"
                       "CredType=cred/munge\n"
                       // The clients and daemons find this cluster's munged here, not the host's.
                       "AuthInfo=socket=%4\n"
                       "SlurmUser=root\n"
                       "SlurmdUser=root\n"
                       "StateSaveLocation=%5\n"
                       "SlurmdSpoolDir=%6\n"
                       "SlurmctldPidFile=%7/slurmctld.pid\n"
                       "SlurmdPidFile=%7/slurmd.pid\n"
                       "SlurmctldLogFile=%7/slurmctld.log\n"
                       "SlurmdLogFile=%7/slurmd.log\n"
                       "ProctrackType=proctrack/linuxproc\n"
                       "TaskPlugin=task/none\n"
                       "SelectType=select/cons_tres\n"
                       "SelectTypeParameters=CR_Core\n"
                       "JobAcctGatherType=jobacct_gather/none\n"
                       "AccountingStorageType=accounting_storage/none\n"
                       "MpiDefault=none\n"
                       "MailProg=/bin/true\n"
                       "ReturnToService=2\n"
                       // Ended jobs stay known for a minute, long enough for a test to ask.
                       "MinJobAge=60\n"
                       // The node counts as configured, whatever hardware slurmd detects.
                       "SlurmdParameters=config_overrides\n"
                       "NodeName=%1 NodeAddr=127.0.0.1 CPUs=%8 State=UNKNOWN\n"
                       "PartitionName=%9 Nodes=ALL Default=YES MaxTime=INFINITE State=UP\n")
            .arg(host)
            .arg(m_controllerPort)
            .arg(m_nodePort)
            .arg(File(QStringLiteral("munge.socket")), File(QStringLiteral("state")),
                 File(QStringLiteral("spool")), m_dir.path())
            .arg(CpuCount())
            .arg(Partition()) +
        m_extraConfig.join(QLatin1Char('\n'));
    for (const char* folder : {"state", "spool"}) {
        if (!QDir(m_dir.path()).mkpath(QLatin1String(folder)))
            return QStringLiteral("cannot make %1").arg(File(QLatin1String(folder)));
    }
    QFile config(ConfigFile());
    if (!config.open(QIODevice::WriteOnly) || config.write(text.toUtf8()) < 0)
        return QStringLiteral("cannot write %1: %2").arg(ConfigFile(), config.errorString());
    return {};
}

QString CSlurmCluster::StartDaemon(const QString& program, const QStringList& arguments) {
    auto daemon = std::make_unique<QProcess>();
    daemon->setProgram(program);
    daemon->setArguments(arguments);
    daemon->setProcessEnvironment(Environment());
    daemon->setProcessChannelMode(QProcess::MergedChannels);
    daemon->setStandardOutputFile(File(program + QStringLiteral(".out")));
    // A test that crashes takes its cluster with it.
    daemon->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    daemon->start();
    if (!daemon->waitForStarted())
        return QStringLiteral("%1 did not start: %2").arg(program, daemon->errorString());
    m_daemons.push_back(std::move(daemon));
    return {};
}

QString CSlurmCluster::DaemonsEnded() const {
    for (const std::unique_ptr<QProcess>& daemon : m_daemons) {
        if (daemon->state() == QProcess::NotRunning || daemon->waitForFinished(0))
            return QStringLiteral("%1 ended with status %2; its last words:\n%3")
                .arg(daemon->program())
                .arg(daemon->exitCode())
                .arg(LastLines(File(daemon->program() + QStringLiteral(".out"))));
    }
    return {};
}

QString CSlurmCluster::WaitUntilIdle() const {
    const QDeadlineTimer deadline(kIdleWaitMs);
    QString state;
    while (!deadline.hasExpired()) {
        if (const QString ended = DaemonsEnded(); !ended.isEmpty())
            return ended;
        state = Run(QStringLiteral("sinfo"),
                    {QStringLiteral("--noheader"), QStringLiteral("--format=%T")});
        if (state == QLatin1String("idle"))
            return {};
        QThread::msleep(kPollMs);
    }
    return QStringLiteral("the node was not idle within %1 ms (sinfo: \"%2\"); slurmd's last "
                          "words:\n%3")
        .arg(kIdleWaitMs)
        .arg(state, LastLines(File(QStringLiteral("slurmd.out"))));
}

void CSlurmCluster::CancelJobs() const {
    Run(QStringLiteral("scancel"), {QStringLiteral("--partition=") + Partition()});
    const QDeadlineTimer deadline(kJobsEndWaitMs);
    while (!deadline.hasExpired() &&
           !Run(QStringLiteral("squeue"),
                {QStringLiteral("--noheader"), QStringLiteral("--states=running,completing"),
                 QStringLiteral("--format=%i")})
                .isEmpty())
        QThread::msleep(kPollMs);
}

void CSlurmCluster::Stop() {
    if (IsUp())
        CancelJobs();
    for (auto daemon = m_daemons.rbegin(); daemon != m_daemons.rend(); ++daemon) {
        (*daemon)->terminate();
        if (!(*daemon)->waitForFinished(kStopWaitMs)) {
            (*daemon)->kill();
            (*daemon)->waitForFinished();
        }
    }
}
