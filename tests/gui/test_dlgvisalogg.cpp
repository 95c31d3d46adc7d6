#include "dialogs/dlgvisalogg.h"
#include "gui/guisupport.h"

#include <QLabel>
#include <QListWidget>

namespace {

struct DlgVisaLoggTest : testing::Test {
    // Shows content: the lines listed, and the rows at the list's top and bottom edge kept.
    QStringList Show(const QByteArray& content) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QStringList lines;
        ScriptNextDialog([&](QDialog& d) {
            auto* list = Child<QListWidget>(d, "lines");
            for (int row = 0; row < list->count(); ++row)
                lines << list->item(row)->text();
            auto* shortenedNote = Child<QLabel>(d, "shortenedNote");
            note = shortenedNote->isVisible() ? shortenedNote->text() : QString();
            top = list->indexAt(QPoint(1, 1)).row();
            bottom = list->indexAt(QPoint(1, list->viewport()->height() - 1)).row();
            ClickChild(d, "closeButton");
        });
        EXPECT_EQ(CDlgVisaLogg(path, CDlgVisaLogg::LogKind::MonitorLog, messenger).Run(),
                  CDlgVisaLogg::ResultClosed);
        return lines;
    }
    CTestFolder folder;
    const QString path = folder.File("modell.log");
    CRecordingMessenger messenger;
    QString note;
    int top = -1;
    int bottom = -1;
};

// Bytes that are not UTF-8 must not cut a line short; a missing file opens no modal loop.
TEST_F(DlgVisaLoggTest, ListsEveryLineAndShowsTheLastOneAtTheBottom) {
    EXPECT_TRUE(Show("").isEmpty());
    EXPECT_EQ(Show("första\r\nandra\n\n\xc3\ntrasig \xff rad"),
              (QStringList{"första", "andra", "", "\uFFFD", "trasig \uFFFD rad"}));
    EXPECT_EQ(top, 0);
    QByteArray content;
    for (int line = 1; line <= 500; ++line)
        content += "rad " + QByteArray::number(line) + '\n';
    EXPECT_EQ(Show(content).size(), 500);
    EXPECT_GT(top, 0);
    EXPECT_EQ(bottom, 499);
    CDlgVisaLogg missing(folder.File("saknas.log"), CDlgVisaLogg::LogKind::MonitorLog, messenger);
    QTimer::singleShot(0, &missing, [&] {
        ADD_FAILURE() << "shown";
        missing.reject();
    });
    EXPECT_EQ(missing.Run(), CDlgVisaLogg::ResultNotShown);
    EXPECT_EQ(messenger.messages, QStringList{"Felaktig sökväg till logfilen"});
}

// A long log shows its whole last lines at once, the cut inside a line or just before one.
TEST_F(DlgVisaLoggTest, ALongLogShowsOnlyItsLastWholeLinesAndSaysSo) {
    for (const int lineBytes : {100, 64}) {
        QStringList written;
        QByteArray content;
        for (int line = 0; content.size() <= CDlgVisaLogg::kShownBytes + 3 * lineBytes; ++line) {
            written << QString::number(line).leftJustified(lineBytes - 1, u'x');
            content += written.back().toUtf8() + '\n';
        }
        // Lines of equal length end the file, so the whole ones in its last part are these.
        const qsizetype wholeLines = CDlgVisaLogg::kShownBytes / lineBytes;
        const QStringList shown = Show(content);
        EXPECT_EQ(shown, written.mid(written.size() - wholeLines)) << lineBytes;
        EXPECT_EQ(bottom, shown.size() - 1);
        EXPECT_EQ(note, "Loggen är lång: bara de sista 4 MB visas, tidigare rader visas inte.");
    }
    EXPECT_EQ(Show("kort\n").size(), 1);
    EXPECT_TRUE(note.isEmpty());
}

} // namespace
