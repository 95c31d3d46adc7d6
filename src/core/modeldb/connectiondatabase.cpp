#include "modeldb/connectiondatabase.h"

#include "base/textutil.h"
#include "files/programpaths.h"

#include <QFileInfo>

namespace {
// The calculation program may be writing the file while the operator looks.
constexpr int kBusyTimeoutMs = 2000;
} // namespace

CConnectionDatabase::CConnectionDatabase(const QString& programPath) {
    const QString path = WithFileSuffix(programPath, QStringLiteral("mdb"));
    m_bFileFound = QFileInfo::exists(path);
    if (m_bFileFound)
        m_database.Open(path, CSqliteConnection::OpenMode::ReadOnly, kBusyTimeoutMs);
}

QString CConnectionDatabase::LookupConnection(const QString& modelFile) const {
    CSqliteStatement row =
        m_database.Prepare(QStringLiteral("SELECT ST_STRING2 FROM KOPPLING WHERE ST_STRING1 = ?"));
    if (!row.Bind(1, modelFile).Step())
        return QStringLiteral("Ej kopplad");
    return TrimmedRight(row.ColumnText(0));
}
