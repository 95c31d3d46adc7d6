#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// One option of a program's command line.
struct CCommandOption {
    // "history", or {"h", "help"}.
    QStringList names;
    // The value's name in the help ("NYCKEL"), empty for an option without one.
    QString valueName;
    // The help's Swedish line; more lines after a line break.
    QString help;
    // What the value is, for the line told when it is missing: "ett radnummer, till exempel
    // --history 12".
    QString valueNeeded;
    // A command: the program does one of them at a time.
    bool command = false;
};

// A program's arguments through QCommandLineParser, with the help and every mistake in
// Swedish: an unknown option, a missing value, an argument of its own, two commands. A
// mistake ends the program with status 2.
class CCommandLine {
public:
    static constexpr int kUsageStatus = 2;

    CCommandLine(QString program, QString description, QVector<CCommandOption> options);

    // "--version" and "-h, --help", which every program has, last in its help.
    static QVector<CCommandOption> VersionAndHelp();

    // False, with the mistake in Problem(), when the arguments cannot be used.
    bool Parse(const QStringList& arguments);
    QString Problem() const { return m_problem; }
    bool IsSet(const QString& name) const { return m_parser.isSet(name); }
    QString Value(const QString& name) const { return m_parser.value(name); }
    // The command asked for (its first name), or empty.
    QString Command() const;
    // The option's value as a number above 0, or nothing with the mistake in Problem().
    std::optional<int> PositiveNumber(const QString& name);

    QString HelpText() const;
    // Writes the mistake and where help is to standard error; the exit status.
    int Refuse() const;

private:
    const CCommandOption* Find(const QString& name) const;
    QString MissingValueProblem(const QStringList& arguments) const;

    QString m_program;
    QString m_description;
    QVector<CCommandOption> m_options;
    QCommandLineParser m_parser;
    QString m_problem;
};
