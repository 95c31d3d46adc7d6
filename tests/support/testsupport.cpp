#include "testsupport.h"

#include "monitordb/sqliteconnection.h"

#include <QFile>
#include <QTextStream>
#include <gtest/gtest.h>

QDateTime LocalTime(const QString& text) {
    const QString format = text.size() > 19   ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                           : text.size() > 16 ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                              : QStringLiteral("yyyy-MM-dd HH:mm");
    const QDateTime time = QDateTime::fromString(text, format);
    EXPECT_TRUE(time.isValid()) << text.toStdString();
    return time;
}

CTestFolder::CTestFolder(Supervisor supervisor) {
    EXPECT_TRUE(m_dir.isValid());
    if (supervisor == Supervisor::Beside)
        EXPECT_TRUE(
            QFile::link(QStringLiteral(KVARNIX_RUNNER), File(QStringLiteral("kvarnixrun"))));
}

QStringList CTestFolder::ReadLines(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines;
    QTextStream in(&file);
    while (!in.atEnd())
        lines << in.readLine();
    return lines;
}

void CTestFolder::WriteText(const QString& path, const QString& text) const {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

void CTestFolder::CreateModel(const QString& model, const QStringList& macros) const {
    WriteText(model + ".vxm", "modell");
    CSqliteConnection database;
    database.Open(model + ".mac", CSqliteConnection::OpenMode::CreateFile, 1000);
    database.Execute("CREATE TABLE MACRONAMN (NAMN TEXT, KEY INTEGER)");
    for (const QString& macro : macros)
        database.Prepare("INSERT INTO MACRONAMN (NAMN, KEY) VALUES (?, 1)").Bind(1, macro).Run();
}
