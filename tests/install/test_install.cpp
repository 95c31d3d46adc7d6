// `cmake --install` into a fresh folder, as an administrator installs the monitor: the files
// land where the desktop and systemd look for them, and name the installed programs.
#include "support/filequery.h"
#include "support/programrun.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The keys of a desktop entry or unit file as "Section/Key", each with its last value as written.
QHash<QString, QString> FileKeys(const QString& path) {
    QHash<QString, QString> keys;
    QString section;
    for (const QString& text : QString::fromUtf8(FileBytes(path)).split(u'\n')) {
        if (text.startsWith(u'[') && text.endsWith(u']'))
            section = text.mid(1, text.size() - 2);
        else if (text.contains(u'=') && !text.startsWith(u'#'))
            keys.insert(section + u'/' + text.section(u'=', 0, 0), text.section(u'=', 1));
    }
    return keys;
}

// A desktop entry's string with its escapes undone, refusing any other escape as the desktop does.
QString DesktopString(const QString& value) {
    const QHash<QChar, QChar> escapes{
        {u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'\\', u'\\'}};
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) != u'\\')
            text += value.at(i);
        else if (++i < value.size() && escapes.contains(value.at(i)))
            text += escapes.value(value.at(i));
        else
            return "<invalid escape in " + value + ">";
    }
    return text;
}

// A command line as the desktop or systemd splits it: in double quotes a backslash escapes one
// of escapable; %% is %, and $$ is $ after the program's name. Anything else is refused.
QStringList CommandWords(const QString& command, const QString& escapable) {
    QStringList words;
    bool quoted = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (!quoted && c == u' ')
            continue;
        if (!quoted && (i == 0 || command.at(i - 1) == u' '))
            words << QString();
        if (c == u'"') {
            quoted = !quoted;
        } else if (quoted && c == u'\\') {
            if (++i == command.size() || !escapable.contains(command.at(i)))
                return {"<invalid quoting: " + command + ">"};
            words.last() += command.at(i);
        } else {
            words.last() += c;
        }
    }
    // A lone % would be a specifier or field code, a lone $ after the name a variable.
    for (qsizetype i = 0; i < words.size(); ++i) {
        for (const QString& doubled : i > 0 ? QStringList{"%%", "$$"} : QStringList{"%%"}) {
            if (QString(words[i]).remove(doubled).contains(doubled[0]))
                return {"<unexpanded: " + words[i] + ">"};
            words[i].replace(doubled, doubled.left(1));
        }
    }
    return words;
}

// The folders' names hold every character the entry and unit escape; systemd refuses quotes
// in a program's name, so only the second folder's service is started without env.
TEST(Install, PutsBothProgramsAValidMenuEntryAndAUserUnitThatStartThemUnderThePrefix) {
    CTestFolder folder;
    for (const QString& name : {QString("Kvarnix \"drift\" `test` $HOME 100%"),
                                QString("Kvarnix drift åäö $HOME 100%")}) {
        SCOPED_TRACE(name.toStdString());
        const QString prefix = folder.File(name);
        const CProgramRun install =
            RunToEnd(KVARNIX_CMAKE, {"--install", KVARNIX_BUILD_DIR, "--prefix", prefix});
        ASSERT_EQ(install.exitCode, 0) << install.error.toStdString();
        const QString program = prefix + "/bin/kvarnixmonitor";
        const QString service = program + 'd';
        const QString icon = prefix + "/share/icons/hicolor/scalable/apps/kvarnixmonitor.svg";
        const QString entry = prefix + "/share/applications/kvarnixmonitor.desktop";
        const QString unit = prefix + "/lib/systemd/user/kvarnixmonitord.service";
        EXPECT_EQ(FileBytes(icon),
                  FileBytes(KVARNIX_SOURCE_DIR "/src/gui/resources/kvarnixmonitor.svg"));

        const CProgramRun validation = RunToEnd("desktop-file-validate", {entry});
        EXPECT_EQ(validation.exitCode, 0);
        EXPECT_EQ(validation.output + validation.error, QString());
        const QHash<QString, QString> desktop = FileKeys(entry);
        EXPECT_EQ(desktop.value("Desktop Entry/Type"), "Application");
        EXPECT_EQ(desktop.value("Desktop Entry/Name"), "KvarnixMonitor");
        EXPECT_EQ(CommandWords(DesktopString(desktop.value("Desktop Entry/Exec")), "\"`$\\"),
                  QStringList{program});
        EXPECT_EQ(DesktopString(desktop.value("Desktop Entry/Icon")), icon);

        const QHash<QString, QString> keys = FileKeys(unit);
        EXPECT_EQ(keys.value("Service/Type"), "notify");
        EXPECT_EQ(keys.value("Service/Restart"), "on-failure");
        EXPECT_EQ(keys.value("Service/KillMode"), "process");
        EXPECT_EQ(keys.value("Install/WantedBy"), "default.target");
        // The system unit: the same program under its own account, in its state folder.
        const QHash<QString, QString> system =
            FileKeys(prefix + "/lib/systemd/system/kvarnixmonitord.service");
        EXPECT_EQ(system.value("Service/ExecStart"),
                  keys.value("Service/ExecStart") + " --mapp %S/kvarnixmonitor");
        EXPECT_EQ(system.value("Service/User"), "kvarnix");
        EXPECT_EQ(system.value("Service/StateDirectory"), "kvarnixmonitor");
        EXPECT_EQ(system.value("Service/StateDirectoryMode"), "2775");
        EXPECT_EQ(system.value("Service/KillMode"), "process");
        EXPECT_EQ(system.value("Install/WantedBy"), "multi-user.target");
        QStringList command = CommandWords(keys.value("Service/ExecStart"), "\"\\");
        EXPECT_EQ(command, (name.contains(u'"') ? QStringList{"/usr/bin/env", service}
                                                : QStringList{service}));
        if (!QStandardPaths::findExecutable("systemd-analyze").isEmpty()) {
            const CProgramRun verification =
                RunToEnd("systemd-analyze", {"verify", "--man=no", unit});
            EXPECT_EQ(verification.exitCode, 0) << verification.error.toStdString();
        }

        // The window program started from the menu's path and the service as systemd runs it
        // keep one database beside themselves.
        QProcess monitor;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        StartProgram(monitor, program, environment);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return QFileInfo::exists(prefix + "/bin/kvarnixmonitor.mdb"); }, 30000))
            << monitor.readAllStandardError().toStdString();
        monitor.kill();
        monitor.waitForFinished();
        const QString starter = command.takeFirst();
        const CProgramRun help = RunToEnd(starter, command << "--help");
        EXPECT_EQ(help.exitCode, 0) << help.error.toStdString();
        EXPECT_TRUE(help.output.contains(prefix + "/bin/kvarnixmonitor.mdb"))
            << help.output.toStdString();
    }
}

} // namespace
