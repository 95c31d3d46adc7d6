#pragma once

#include <QString>
#include <stdexcept>

// The one failure the database layer raises: which file, the engine's own code and its text.
// Every operation on a database either returns its value or throws this.
class CDatabaseError : public std::runtime_error {
public:
    // Codes of failures the monitor finds itself, beyond the engine's own codes.
    static constexpr int kNoFile = 0x10000;
    static constexpr int kIncompleteFile = 0x10001;
    static constexpr int kNoRow = 0x10002;
    static constexpr int kWalOnNetwork = 0x10003;
    static constexpr int kKeysExhausted = 0x10004;

    CDatabaseError(const QString& errorText, int engineCode, QString path = {})
        : std::runtime_error(errorText.toStdString()), m_errorText(errorText),
          m_engineCode(engineCode), m_path(std::move(path)) {}

    QString ErrorText() const { return m_errorText; }
    int EngineCode() const { return m_engineCode; }
    // The database file the failure is about; empty when it is not known.
    QString Path() const { return m_path; }

private:
    QString m_errorText;
    int m_engineCode;
    QString m_path;
};
