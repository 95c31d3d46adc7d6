#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

// The one failure the database layer raises: the engine's own error text and code.
class CDaoException : public std::runtime_error {
public:
    CDaoException(const QString& errorText, int engineCode)
        : std::runtime_error(errorText.toStdString()), m_errorText(errorText),
          m_engineCode(engineCode) {}

    QString ErrorText() const { return m_errorText; }
    int EngineCode() const { return m_engineCode; }
    // The file is held by another process, as opposed to unusable.
    bool IsBusy() const;

private:
    QString m_errorText;
    int m_engineCode;
};
