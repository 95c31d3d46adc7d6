#include "base/commandline.h"

#include "base/stderrmessenger.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

QString Spelled(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

QString Names(const CCommandOption& option) {
    QStringList spelled;
    for (const QString& name : option.names)
        spelled << Spelled(name);
    QString text = spelled.join(QStringLiteral(", "));
    if (!option.valueName.isEmpty())
        text += u' ' + option.valueName;
    return text;
}

QString JoinedAsAlternatives(const QStringList& names) {
    if (names.size() < 2)
        return names.join(QString());
    return QStringList(names.mid(0, names.size() - 1)).join(QStringLiteral(", ")) +
           QStringLiteral(" och ") + names.last();
}

} // namespace

CCommandLine::CCommandLine(QString program, QString description, QVector<CCommandOption> options)
    : m_program(std::move(program)), m_description(std::move(description)),
      m_options(std::move(options)) {
    for (const CCommandOption& option : m_options)
        m_parser.addOption(QCommandLineOption(option.names, option.help, option.valueName));
}

bool CCommandLine::Parse(const QStringList& arguments) {
    m_problem.clear();
    if (!m_parser.parse(arguments)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        m_problem = !unknown.isEmpty() ? QStringLiteral("Okänt alternativ: %1").arg(unknown.first())
                                       : MissingValueProblem(arguments);
        return false;
    }
    if (!m_parser.positionalArguments().isEmpty()) {
        m_problem =
            QStringLiteral("Okänt argument: %1").arg(m_parser.positionalArguments().first());
        return false;
    }
    QStringList commands;
    QStringList given;
    for (const CCommandOption& option : m_options) {
        if (!option.command)
            continue;
        commands << Spelled(option.names.last());
        if (m_parser.isSet(option.names.first()))
            given << option.names.first();
    }
    if (given.size() > 1) {
        m_problem = QStringLiteral("Ange bara ett av %1.").arg(JoinedAsAlternatives(commands));
        return false;
    }
    return true;
}

// The parser fails a value option only when nothing follows it, or when "--name=" is empty.
QString CCommandLine::MissingValueProblem(const QStringList& arguments) const {
    for (qsizetype i = arguments.size() - 1; i > 0; --i) {
        const QString name =
            arguments.at(i).section(u'=', 0, 0).remove(QRegularExpression(QStringLiteral("^--?")));
        if (const CCommandOption* option = Find(name); option && !option->valueName.isEmpty())
            return QStringLiteral("%1 kräver %2")
                .arg(Spelled(option->names.last()), option->valueNeeded);
    }
    return m_parser.errorText();
}

const CCommandOption* CCommandLine::Find(const QString& name) const {
    const auto found = std::find_if(m_options.begin(), m_options.end(), [&](const auto& option) {
        return option.names.contains(name);
    });
    return found == m_options.end() ? nullptr : &*found;
}

QString CCommandLine::Command() const {
    for (const CCommandOption& option : m_options)
        if (option.command && m_parser.isSet(option.names.first()))
            return option.names.first();
    return QString();
}

std::optional<int> CCommandLine::PositiveNumber(const QString& name) {
    bool isNumber = false;
    const int number = Value(name).toInt(&isNumber);
    if (isNumber && number > 0)
        return number;
    const CCommandOption* option = Find(name);
    m_problem = QStringLiteral("%1 kräver %2 (\"%3\" är inget positivt heltal)")
                    .arg(Spelled(option->names.last()), option->valueNeeded, Value(name));
    return std::nullopt;
}

// The usage line, the description and one entry an option, their help texts in one column.
QString CCommandLine::HelpText() const {
    QStringList options;
    QStringList commands;
    qsizetype width = 0;
    for (const CCommandOption& option : m_options) {
        QString usage = Spelled(option.names.last());
        if (!option.valueName.isEmpty())
            usage += u' ' + option.valueName;
        (option.command ? commands : options) << usage;
        width = std::max(width, Names(option).size());
    }
    QString text = QStringLiteral("Användning: %1").arg(m_program);
    for (const QString& option : options)
        text += QStringLiteral(" [%1]").arg(option);
    text += QStringLiteral(" [%1]\n\n%2\n\nAlternativ:\n")
                .arg(commands.join(QStringLiteral(" | ")), m_description);
    const QString indent(width + 4, u' ');
    for (const CCommandOption& option : m_options)
        text += QStringLiteral("  ") + Names(option).leftJustified(width + 2) +
                option.help.split(u'\n').join(u'\n' + indent) + u'\n';
    return text;
}

int CCommandLine::Refuse() const {
    PrintError(m_problem + QStringLiteral("\nSe %1 --help.").arg(m_program));
    return kUsageStatus;
}

QVector<CCommandOption> CCommandLine::VersionAndHelp() {
    return {{{QStringLiteral("version")},
             QString(),
             QStringLiteral("visa programmets version"),
             QString(),
             true},
            {{QStringLiteral("h"), QStringLiteral("help")},
             QString(),
             QStringLiteral("visa den här texten"),
             QString(),
             true}};
}
