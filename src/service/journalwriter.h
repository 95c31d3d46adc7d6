#pragma once

#include <QString>

// The service's lines on standard error, one a message, each led by its priority in the form
// systemd's journal reads ("<4>…", sd-daemon.h), so that `journalctl -p warning` shows the
// faults without every start. At a terminal the lines stand without it.
class CJournalWriter {
public:
    // syslog's numbers, as the journal takes them.
    enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

    CJournalWriter();

    void Write(Priority priority, const QString& text) const;
    // The line as written: a message whose parts stand on lines of their own in a box has
    // them joined by a blank.
    QString Line(Priority priority, const QString& text) const;

private:
    bool m_prefixed;
};
