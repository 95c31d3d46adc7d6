#pragma once

#include "monitordb/sqliteconnection.h"

// A write transaction taken at once (BEGIN IMMEDIATE), rolled back unless
// committed. Inside a transaction that is already open it does nothing, so an
// operation that needs atomicity can be called from one that already has it.
class CSqliteTransaction {
public:
    explicit CSqliteTransaction(const CSqliteConnection& connection)
        : m_connection(connection), m_owner(!connection.InTransaction()) {
        if (m_owner)
            m_connection.Execute(QStringLiteral("BEGIN IMMEDIATE"));
    }
    ~CSqliteTransaction() {
        if (m_owner && !m_committed) {
            try {
                m_connection.Execute(QStringLiteral("ROLLBACK"));
            } catch (...) {
                // The engine has already rolled back when a statement failed hard.
            }
        }
    }
    CSqliteTransaction(const CSqliteTransaction&) = delete;
    CSqliteTransaction& operator=(const CSqliteTransaction&) = delete;

    void Commit() {
        if (m_owner)
            m_connection.Execute(QStringLiteral("COMMIT"));
        m_committed = true;
    }

private:
    const CSqliteConnection& m_connection;
    bool m_owner;
    bool m_committed = false;
};
