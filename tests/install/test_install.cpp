// `cmake --install` into a fresh folder, as an administrator installs the monitor: the files
// land where the desktop looks for them, the menu entry is valid and names the installed
// program and icon, and that program keeps its database beside itself.
#include "support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int kProcessTimeoutMs = 120000;
constexpr int kStartTimeoutMs = 30000;

struct CFinished {
    int exitCode;
    QString output;
};

CFinished RunToEnd(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(kProcessTimeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return {-1, program + QStringLiteral(" did not end normally: ") + process.errorString()};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The value of key in the entry, its string escapes undone; as strict as the
// desktop's own reader, which refuses any other escape.
QString EntryValue(const QString& entryPath, const QString& key) {
    const QHash<QChar, QChar> escapes{
        {u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'\\', u'\\'}};
    for (const QByteArray& line : Contents(entryPath).split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (!text.startsWith(key + u'='))
            continue;
        QString value;
        for (qsizetype i = key.size() + 1; i < text.size(); ++i) {
            if (text.at(i) != u'\\') {
                value += text.at(i);
                continue;
            }
            if (++i == text.size() || !escapes.contains(text.at(i)))
                return QStringLiteral("<invalid escape in %1>").arg(text);
            value += escapes.value(text.at(i));
        }
        return value;
    }
    return QStringLiteral("<no %1>").arg(key);
}

// An Exec value holding one quoted argument, its quoting undone and %% read as %.
QString ExecArgument(const QString& exec) {
    const QString quotedEscapes = QStringLiteral("\"`$\\");
    if (exec.size() < 2 || !exec.startsWith(u'"') || !exec.endsWith(u'"'))
        return QStringLiteral("<not quoted: %1>").arg(exec);
    QString argument;
    for (qsizetype i = 1; i + 1 < exec.size(); ++i) {
        if (exec.at(i) == u'"')
            return QStringLiteral("<quote ends early: %1>").arg(exec);
        if (exec.at(i) == u'\\' && !quotedEscapes.contains(exec.at(++i)))
            return QStringLiteral("<invalid quoting: %1>").arg(exec);
        argument += exec.at(i);
    }
    return argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

// The folder's name holds every character the entry has to escape.
TEST(Install, PutsTheProgramItsIconAndAValidMenuEntryThatStartsItUnderThePrefix) {
    CTestFolder folder;
    const QString prefix = folder.File(QStringLiteral("Kvarnix \"drift\" `test` $HOME 100%"));
    const CFinished install =
        RunToEnd(QStringLiteral(KVARNIX_CMAKE),
                 {QStringLiteral("--install"), QStringLiteral(KVARNIX_BUILD_DIR),
                  QStringLiteral("--prefix"), prefix});
    ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();

    const QString program = prefix + QStringLiteral("/bin/kvarnixmonitor");
    const QString icon =
        prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/kvarnixmonitor.svg");
    const QString entry = prefix + QStringLiteral("/share/applications/kvarnixmonitor.desktop");
    EXPECT_TRUE(QFileInfo(program).isExecutable());
    EXPECT_EQ(Contents(icon),
              Contents(QStringLiteral(KVARNIX_SOURCE_DIR "/src/resources/kvarnixmonitor.svg")));

    const CFinished validation = RunToEnd(QStringLiteral("desktop-file-validate"), {entry});
    EXPECT_EQ(validation.exitCode, 0) << validation.output.toStdString();
    EXPECT_EQ(validation.output, QString());
    EXPECT_EQ(EntryValue(entry, QStringLiteral("Type")), "Application");
    EXPECT_EQ(EntryValue(entry, QStringLiteral("Name")), "KvarnixMonitor");
    EXPECT_EQ(ExecArgument(EntryValue(entry, QStringLiteral("Exec"))), program);
    EXPECT_EQ(EntryValue(entry, QStringLiteral("Icon")), icon);

    QProcess monitor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    monitor.setProcessEnvironment(environment);
    monitor.start(program, {});
    ASSERT_TRUE(monitor.waitForStarted());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QFileInfo::exists(prefix + QStringLiteral("/bin/kvarnixmonitor.mdb")); },
        kStartTimeoutMs))
        << monitor.readAllStandardError().toStdString();
    monitor.kill();
    monitor.waitForFinished();
}

} // namespace
