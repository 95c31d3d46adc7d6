// Qt's own texts as the operator meets them, in Swedish.
#include "gui/guisupport.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <memory>

namespace {

// The menu's entries as shown, without the shortcut after the tab.
QStringList EntryTexts(const std::unique_ptr<QMenu>& menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text().section(QLatin1Char('\t'), 0, 0);
    return texts;
}

// The file dialog's columns, a folder's type, the computer, a tip and a missing file too.
TEST(SwedishTexts, TextFieldMenusQuestionButtonsAndTheFileDialog) {
    const QStringList commands = {"&Ångra",      "&Gör om", "Klipp &ut",   "&Kopiera",
                                  "Klistra &in", "Ta bort", "Markera alla"};
    QLineEdit line;
    EXPECT_EQ(EntryTexts(std::unique_ptr<QMenu>(line.createStandardContextMenu())), commands);
    QPlainTextEdit text;
    EXPECT_EQ(EntryTexts(std::unique_ptr<QMenu>(text.createStandardContextMenu())), commands);
    // As the file dialog asks before it deletes a file.
    QMessageBox box(QMessageBox::Question, "Öppna", "?", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), "&Ja");
    EXPECT_EQ(box.button(QMessageBox::No)->text(), "&Nej");

    CTestFolder folder;
    ASSERT_TRUE(QDir(folder.Path()).mkdir("modeller"));
    QStringList headings;
    QString folderType, computer, backTip, notFound;
    ScriptNextDialog([&](QDialog& dialog) {
        auto& files = static_cast<QFileDialog&>(dialog);
        files.setDirectory(folder.Path());
        auto* model = files.findChild<QFileSystemModel*>();
        for (int column = 0; column < model->columnCount(); ++column)
            headings << model->headerData(column, Qt::Horizontal).toString();
        const QModelIndex subfolder = model->index(folder.File("modeller"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model->type(subfolder).isEmpty(); }));
        folderType = model->type(subfolder);
        computer = model->myComputer().toString();
        backTip = Child<QToolButton>(files, "backButton")->toolTip();

        // Runs in the warning's own event loop once it is up.
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                notFound = box->text();
                box->reject();
            }
        });
        // What the open button does, here with a file that has gone meanwhile.
        files.selectFile("saknas.vxm");
        dialog.accept();
    });
    CFileDialogChooser().ChooseModelFile(nullptr);

    EXPECT_EQ(headings, (QStringList{"Namn", "Storlek", "Typ", "Ändringsdatum"}));
    EXPECT_EQ(folderType, "Mapp");
    EXPECT_EQ(computer, "Dator");
    EXPECT_EQ(backTip, "Tillbaka");
    EXPECT_TRUE(notFound.startsWith("saknas.vxm") && notFound.contains("Filen hittades inte."))
        << notFound.toStdString();
}

} // namespace
