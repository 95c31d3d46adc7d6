#include "journalwriter.h"

#include "base/stderrmessenger.h"

#include <unistd.h>

CJournalWriter::CJournalWriter() : m_prefixed(::isatty(STDERR_FILENO) == 0) {}

void CJournalWriter::Write(Priority priority, const QString& text) const {
    PrintError(Line(priority, text));
}

QString CJournalWriter::Line(Priority priority, const QString& text) const {
    const QString line = CStderrMessenger::OneLine(text);
    return m_prefixed ? QStringLiteral("<%1>").arg(int(priority)) + line : line;
}
