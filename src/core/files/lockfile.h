#pragma once

#include <QString>
#include <optional>

// The mark a logged-in instance leaves beside the program: the operator's name on
// the first line, then the process id and the host name. Its presence keeps a
// second instance out, so it is created only where none exists, in one step no
// other process can split.
class CLockFile {
public:
    enum class CreateResult { Created, AlreadyExists, Failed };
    enum class StaleResult { Removed, Held, Failed };

    explicit CLockFile(QString path);

    QString Path() const { return m_path; }
    // Anything at the path counts, also a link that leads nowhere: the creation
    // would not replace it either.
    bool Exists() const;
    // The first line without its line end; nothing when the file cannot be read.
    std::optional<QString> ReadName();
    // Creates the file only if there is none. The name stays alone on the first
    // line, so a reader of the name alone still finds it; the process id and host
    // name after it let a later start tell a lock whose process is gone. A file
    // that cannot be written completely is removed again.
    CreateResult CreateWithName(const QString& name);
    // Removed when the lock was written on this host by a process that no longer
    // runs (or is gone already). Held for any other lock, also one without
    // process id and host or one that cannot be read, which the caller reports.
    // Failed when a stale lock cannot be removed.
    StaleResult RemoveIfStale();
    bool Remove();
    // The operator's text for the last failed read, creation or removal.
    QString ErrorText() const { return m_errorText; }

private:
    void SetError(const QString& whatFailed, const QString& reason);

    QString m_path;
    QString m_errorText;
};
