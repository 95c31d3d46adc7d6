#pragma once

#include <QString>
#include <optional>

// The mark a logged-in instance leaves beside the program: a file whose only
// line is the operator's name. Its presence keeps a second instance out, so it
// is created only where none exists, in one step no other process can split.
class CLockFile {
public:
    enum class CreateResult { Created, AlreadyExists, Failed };

    explicit CLockFile(QString path);

    QString Path() const { return m_path; }
    // Anything at the path counts, also a link that leads nowhere: the creation
    // would not replace it either.
    bool Exists() const;
    // The first line without its line end; nothing when the file cannot be read.
    std::optional<QString> ReadName();
    // Creates the file only if there is none and writes the name without a line
    // end. A file that cannot be written completely is removed again.
    CreateResult CreateWithName(const QString& name);
    bool Remove();
    // The operator's text for the last failed read, creation or removal.
    QString ErrorText() const { return m_errorText; }

private:
    void SetError(const QString& whatFailed, const QString& reason);

    QString m_path;
    QString m_errorText;
};
