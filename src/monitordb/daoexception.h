#pragma once

#include <QString>
#include <stdexcept>

// The one failure the database layer raises: the engine's own error text and code.
class CDaoException : public std::runtime_error {
public:
    // Codes of failures the monitor finds itself, beyond the engine's own codes.
    static constexpr int kNoFile = 0x10000;
    static constexpr int kIncompleteFile = 0x10001;
    static constexpr int kNoRow = 0x10002;
    static constexpr int kWalOnNetwork = 0x10003;

    CDaoException(const QString& errorText, int engineCode)
        : std::runtime_error(errorText.toStdString()), m_errorText(errorText),
          m_engineCode(engineCode) {}

    QString ErrorText() const { return m_errorText; }
    int EngineCode() const { return m_engineCode; }

private:
    QString m_errorText;
    int m_engineCode;
};
