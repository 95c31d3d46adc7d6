#include "exedatabase.h"

#include "app/programpaths.h"
#include "app/textutil.h"

#include <QFileInfo>

namespace {
// The calculation program may be writing the file while the operator looks.
constexpr int kBusyTimeoutMs = 2000;
} // namespace

CExeDatabaSE::CExeDatabaSE(const QString& programPath) {
    const QString path = WithFileSuffix(programPath, QStringLiteral("mdb"));
    m_bFileFound = QFileInfo::exists(path);
    if (m_bFileFound)
        m_database.Open(path, CSqliteConnection::OpenMode::ReadOnly, kBusyTimeoutMs);
}

QString CExeDatabaSE::LookupConnection(const QString& modelFile) const {
    CSqliteStatement row =
        m_database.Prepare(QStringLiteral("SELECT ST_STRING2 FROM KOPPLING WHERE ST_STRING1 = ?"));
    if (!row.Bind(1, modelFile).Step())
        return QStringLiteral("Ej kopplad");
    return TrimmedRight(row.ColumnText(0));
}
