#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

// A one-node Slurm cluster of a test's own, in a temporary folder: munged with a key made
// for it and a socket of its own, slurmctld and slurmd on ports no other cluster on this host
// uses, the node being this host with its real name and CPU count. It is up once the node is
// idle. At its end it cancels its jobs and stops the daemons, whatever the test did; a
// daemon also ends when the test's process dies. It needs root, as slurmd does; when it
// cannot start, Problem() says why. Further lines of slurm.conf may be given, such as a
// SchedulerParameters line.
class CSlurmCluster {
public:
    explicit CSlurmCluster(QStringList extraConfig = {});
    ~CSlurmCluster();
    CSlurmCluster(const CSlurmCluster&) = delete;
    CSlurmCluster& operator=(const CSlurmCluster&) = delete;

    bool IsUp() const { return m_problem.isEmpty(); }
    QString Problem() const { return m_problem; }

    // What Slurm's client commands need to reach this cluster.
    QProcessEnvironment Environment() const;
    QString ConfigFile() const { return File(QStringLiteral("slurm.conf")); }
    QString Partition() const { return QStringLiteral("kvarnix"); }
    int ControllerPort() const { return m_controllerPort; }
    QString File(const QString& name) const { return m_dir.filePath(name); }

    // A client command (scontrol, scancel, sinfo, …) run against this cluster; its standard
    // output, or empty when it failed or took longer than a controller's retries do.
    QString Run(const QString& command, const QStringList& arguments) const;

private:
    QString Start();
    QString StartMunge();
    QString StartDaemon(const QString& program, const QStringList& arguments);
    QString WaitUntilIdle() const;
    QString WriteConfig() const;
    QString DaemonsEnded() const;
    void CancelJobs() const;
    void Stop();

    QStringList m_extraConfig;
    QTemporaryDir m_dir;
    int m_controllerPort = 0;
    int m_nodePort = 0;
    std::vector<std::unique_ptr<QProcess>> m_daemons; // in the order they started
    QString m_problem;
};
