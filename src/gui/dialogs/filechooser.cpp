#include "dialogs/filechooser.h"

#include "widgets/screenroom.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTreeView>

namespace {

// The file dialog's size and date as the program's locale writes them. The file system
// model writes them in the system's, which is English under Debian's C.UTF-8.
class CLocalFileDetails : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    // The columns of QFileSystemModel.
    enum Column { Size = 1, Modified = 3 };

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex file = mapToSource(index);
        switch (index.column()) {
        case Size:
            return files->isDir(file) ? QString() : QLocale().formattedDataSize(files->size(file));
        case Modified:
            return QLocale().toString(files->lastModified(file), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

// The size and date columns as wide as their longest usual texts, with a margin either side;
// Qt's own widths are meant for shorter English ones.
void FitDetailColumns(QFileDialog& dialog) {
    auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!details)
        return;
    const QFontMetrics metrics(details->font());
    const int margins = metrics.horizontalAdvance(QStringLiteral("MM"));
    const QLocale locale;
    details->header()->resizeSection(
        CLocalFileDetails::Size,
        metrics.horizontalAdvance(locale.formattedDataSize(qint64(999.99 * 1024 * 1024))) +
            margins);
    details->header()->resizeSection(
        CLocalFileDetails::Modified,
        metrics.horizontalAdvance(
            locale.toString(QDateTime(QDate(2026, 12, 28), QTime(20, 58)), QLocale::ShortFormat)) +
            margins);
}

// An open dialog with Swedish texts, filters and a preset file name.
QString ChooseFile(QWidget* parent, const QStringList& filters, const QString& presetName) {
    QFileDialog dialog(parent, QStringLiteral("Öppna"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(filters);
    dialog.setProxyModel(new CLocalFileDetails(&dialog));
    FitDetailColumns(dialog);
    ResizeWithinScreen(dialog, QSize(760, 460));
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Leta i:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Filnamn:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Filformat:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Öppna"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Avbryt"));
    dialog.selectFile(presetName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

QString CFileDialogChooser::ChooseModelFile(QWidget* parent) {
    return ChooseFile(parent,
                      {QStringLiteral("Modellfiler (*.vxm)"), QStringLiteral("Alla typer (*.*)")},
                      QStringLiteral("vxm"));
}

// The program keeps its Windows name on every platform, so both spellings are offered;
// a program of any other name is found through "Alla program".
QString CFileDialogChooser::ChooseCalculationProgram(QWidget* parent) {
    return ChooseFile(parent,
                      {QStringLiteral("Kvarnix Beräkningsprogram (Kvarnix.exe Kvarnix)"),
                       QStringLiteral("Alla program (*)")},
                      QStringLiteral("Kvarnix*.exe"));
}
