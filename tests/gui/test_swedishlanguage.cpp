// Qt's own texts as the operator meets them, in Swedish.
#include "gui/guisupport.h"
#include "widgets/cuttexttipdelegate.h"

#include <QAbstractProxyModel>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
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

// A program of any name can be chosen; its size and date are Swedish whatever the system's
// locale (the tests' is C), the date whole in its column.
TEST(SwedishTexts, TheProgramChooserTakesAnyProgramAndWritesSizesAndDatesInSwedish) {
    CTestFolder folder;
    const QString program = folder.File("berakna");
    folder.WriteText(program, "echo ok");
    QFile file(program);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        file.setFileTime(LocalTime("2026-12-07 11:40:10"), QFileDevice::FileModificationTime));
    file.close();
    QStringList filters;
    QString size, modified, shownDate;
    ScriptNextDialog([&](QDialog& dialog) {
        auto& files = static_cast<QFileDialog&>(dialog);
        filters = files.nameFilters();
        files.selectNameFilter("Alla program (*)");
        files.setDirectory(folder.Path());
        auto* model = files.findChild<QFileSystemModel*>();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->size(model->index(program)) == 7; }));
        const QModelIndex details = files.proxyModel()->mapFromSource(model->index(program));
        size = details.siblingAtColumn(1).data().toString();
        modified = details.siblingAtColumn(3).data().toString();
        // As the style draws it in its column.
        auto* view = files.findChild<QTreeView*>("treeView");
        QStyleOptionViewItem cell;
        cell.initFrom(view->viewport());
        cell.rect = view->visualRect(details.siblingAtColumn(3));
        shownDate = CCutTextTipDelegate().ShownText(cell, details.siblingAtColumn(3), view);
        files.selectFile("berakna");
        dialog.accept();
    });
    EXPECT_EQ(CFileDialogChooser().ChooseCalculationProgram(nullptr), program);
    EXPECT_EQ(filters,
              (QStringList{"Kvarnix Beräkningsprogram (Kvarnix.exe Kvarnix)", "Alla program (*)"}));
    EXPECT_EQ(size, "7 byte");
    EXPECT_EQ(modified, "2026-12-07 11:40");
    EXPECT_EQ(shownDate, modified);
}

} // namespace
