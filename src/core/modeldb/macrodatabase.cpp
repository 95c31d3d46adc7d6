#include "modeldb/macrodatabase.h"

#include "base/textutil.h"
#include "monitordb/databaseerror.h"

namespace {
constexpr int kBusyTimeoutMs = 2000;
}

CMacroDatabase::CMacroDatabase(QString path) : m_strPath(std::move(path)) {}

void CMacroDatabase::Open() {
    try {
        m_database.Open(m_strPath, CSqliteConnection::OpenMode::ReadOnly, kBusyTimeoutMs);
        // The engine opens lazily; reading the schema tells a database from any other file.
        m_database.Execute(QStringLiteral("SELECT COUNT(*) FROM sqlite_master"));
    } catch (const CDatabaseError&) {
        m_database.Close();
        throw;
    }
}

QList<CMacroDatabase::Macro> CMacroDatabase::Macros() const {
    CSqliteStatement rows = m_database.Prepare(QStringLiteral("SELECT NAMN, KEY FROM MACRONAMN"));
    QList<Macro> macros;
    while (rows.Step()) {
        // A row without a name offers nothing to choose.
        const QString name = TrimmedRight(rows.ColumnText(0));
        if (!name.isEmpty())
            macros.append({name, rows.ColumnInt(1)});
    }
    return macros;
}
