#include "gui/guisupport.h"
#include "support/testsupport.h"
#include "ui/dlgvisalogg.h"

#include <QFile>
#include <QListWidget>
#include <gtest/gtest.h>

namespace {

class DlgVisaLoggTest : public testing::Test {
protected:
    // Shows content; gives the lines listed and the rows at the list's top and bottom edge.
    QStringList Show(const QByteArray& content, int* topRow = nullptr, int* bottomRow = nullptr) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QStringList lines;
        ScriptNextDialog([&](QDialog& d) {
            auto* list = Child<QListWidget>(d, "lines");
            for (int row = 0; row < list->count(); ++row)
                lines << list->item(row)->text();
            if (topRow && bottomRow) {
                *topRow = list->indexAt(QPoint(1, 1)).row();
                *bottomRow = list->indexAt(QPoint(1, list->viewport()->height() - 1)).row();
            }
            ClickChild(d, "closeButton");
        });
        EXPECT_EQ(CDlgVisaLogg(path, messenger).Run(), CDlgVisaLogg::ResultClosed);
        return lines;
    }

    CTestFolder folder;
    const QString path = folder.File("modell.log");
    CRecordingMessenger messenger;
};

TEST_F(DlgVisaLoggTest, ListsEveryLineFromTheFirstAndSurvivesBytesThatAreNotUtf8) {
    EXPECT_TRUE(Show("").isEmpty());
    int top = -1, bottom = -1;
    EXPECT_EQ(Show("första\r\nandra\n\n\xc3\ntrasig \xff rad", &top, &bottom),
              (QStringList{"första", "andra", "", "\uFFFD", "trasig \uFFFD rad"}));
    EXPECT_EQ(top, 0);
}

TEST_F(DlgVisaLoggTest, ALongFileIsScrolledSoItsLastLineIsAtTheBottom) {
    QByteArray content;
    for (int line = 1; line <= 500; ++line)
        content += "rad " + QByteArray::number(line) + '\n';
    int top = -1, bottom = -1;
    EXPECT_EQ(Show(content, &top, &bottom).size(), 500);
    EXPECT_GT(top, 0);
    EXPECT_EQ(bottom, 499);
}

// Run() must come back without a modal loop; one that starts anyway is ended.
TEST_F(DlgVisaLoggTest, AMissingOrUnreadableFileIsReportedWithoutADialog) {
    for (const QString& file : {folder.File("saknas.log"), folder.Path()}) {
        CDlgVisaLogg dialog(file, messenger);
        QTimer::singleShot(0, &dialog, [&] {
            ADD_FAILURE() << "shown";
            dialog.reject();
        });
        EXPECT_EQ(dialog.Run(), CDlgVisaLogg::ResultNotShown);
    }
    ASSERT_EQ(messenger.messages.size(), 2);
    EXPECT_EQ(messenger.messages[0], "Felaktig sökväg till logfilen");
    EXPECT_TRUE(messenger.messages[1].startsWith(
        QString("Loggfilen %1 kunde inte läsas: ").arg(folder.Path())));
}

} // namespace
