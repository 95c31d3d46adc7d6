// `cmake --install` into a fresh folder, as an administrator installs the monitor: the files
// land where the desktop and systemd look for them, the menu entry and the service's unit are
// valid and name the installed programs, and those keep their database beside themselves.
#include "support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
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

// The keys of a unit file's section, as "Section/Key", each with its last value.
QHash<QString, QString> UnitKeys(const QString& unitPath) {
    QHash<QString, QString> keys;
    QString section;
    for (const QByteArray& line : Contents(unitPath).split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith(u'[') && text.endsWith(u']'))
            section = text.mid(1, text.size() - 2);
        else if (text.contains(u'=') && !text.startsWith(u'#'))
            keys.insert(section + u'/' + text.section(u'=', 0, 0), text.section(u'=', 1));
    }
    return keys;
}

// A command line as systemd reads it: words split at blanks, in double quotes a backslash
// escaping the next character, %% for %, and $$ for $ in the arguments (the program's name
// is not expanded).
QStringList CommandWords(const QString& command) {
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (!quoted && c == u' ') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'"')
            quoted = !quoted;
        else if (quoted && c == u'\\' && i + 1 < command.size())
            word += command.at(++i);
        else
            word += c;
    }
    if (inWord)
        words << word;
    for (qsizetype i = 0; i < words.size(); ++i) {
        words[i].replace(QStringLiteral("%%"), QStringLiteral("%"));
        if (i > 0)
            words[i].replace(QStringLiteral("$$"), QStringLiteral("$"));
    }
    return words;
}

// systemd refuses quotes in a program's name, so the first folder's program is started
// through env; the second's directly, which systemd-analyze checks is there to be run.
TEST(Install, PutsTheServiceAndAUserUnitThatRunsItUnderThePrefix) {
    CTestFolder folder;
    for (const QString& name : {QStringLiteral("Kvarnix \"drift\" `test` $HOME 100%"),
                                QStringLiteral("Kvarnix drift åäö $HOME 100%")}) {
        const QString prefix = folder.File(name);
        const CFinished install =
            RunToEnd(QStringLiteral(KVARNIX_CMAKE),
                     {QStringLiteral("--install"), QStringLiteral(KVARNIX_BUILD_DIR),
                      QStringLiteral("--prefix"), prefix});
        ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();
        const QString program = prefix + QStringLiteral("/bin/kvarnixmonitord");
        const QString unit = prefix + QStringLiteral("/lib/systemd/user/kvarnixmonitord.service");
        EXPECT_TRUE(QFileInfo(program).isExecutable());

        const QHash<QString, QString> keys = UnitKeys(unit);
        EXPECT_EQ(keys.value(QStringLiteral("Service/Type")), "simple");
        EXPECT_EQ(keys.value(QStringLiteral("Service/Restart")), "on-failure");
        EXPECT_EQ(keys.value(QStringLiteral("Install/WantedBy")), "default.target");
        QStringList command = CommandWords(keys.value(QStringLiteral("Service/ExecStart")));
        const QStringList expected = name.contains(u'"')
                                         ? QStringList{QStringLiteral("/usr/bin/env"), program}
                                         : QStringList{program};
        EXPECT_EQ(command, expected);

        if (!QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty()) {
            const CFinished verification =
                RunToEnd(QStringLiteral("systemd-analyze"), {QStringLiteral("verify"), unit});
            EXPECT_EQ(verification.exitCode, 0) << verification.output.toStdString();
        }
        // The command as systemd would run it, asked only for its help, names the files
        // beside the installed program.
        const QString starter = command.takeFirst();
        const CFinished help = RunToEnd(starter, command << QStringLiteral("--help"));
        EXPECT_EQ(help.exitCode, 0) << help.output.toStdString();
        EXPECT_TRUE(help.output.contains(prefix + QStringLiteral("/bin/kvarnixmonitor.mdb")))
            << help.output.toStdString();
    }
}

} // namespace
