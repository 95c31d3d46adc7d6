#include "application/swedishlanguage.h"

#include "base/diagnostics.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstring>
#include <memory>

namespace {

struct CSwedishText {
    const char* context;
    const char* source;
    const char* swedish;
};

// Texts that the program can show and Qt's Swedish catalogue leaves in English.
const CSwedishText kMissingTexts[] = {
    {"QPlatformTheme", "&Yes", "&Ja"},
    {"QPlatformTheme", "&No", "&Nej"},
    {"QPlatformTheme", "Cancel", "Avbryt"},
    {"QFileDialog", "Look in:", "Leta i:"},
    {"QFileDialog", "Show ", "Visa "},
    {"QFileDialog", "&New Folder", "&Ny mapp"},
    {"QFileDialog", "Recent Places", "Senaste platser"},
    {"QFileDialog", "Remove", "Ta bort"},
    {"QFileDialog", "Are you sure you want to delete '%1'?", "Vill du verkligen ta bort '%1'?"},
    {"QFileSystemModel", "Computer", "Dator"},
    {"QFileSystemModel", "Invalid filename", "Ogiltigt filnamn"},
    {"QFileSystemModel",
     "<b>The name \"%1\" cannot be used.</b><p>Try using another name, with fewer characters or "
     "no punctuation marks.",
     "<b>Namnet \"%1\" kan inte användas.</b><p>Försök med ett annat namn, med färre tecken "
     "eller utan skiljetecken."},
    {"QAbstractFileIconProvider", "Folder", "Mapp"},
    {"QAbstractFileIconProvider", "Drive", "Enhet"},
    {"QAbstractFileIconProvider", "Shortcut", "Genväg"},
    {"QAbstractFileIconProvider", "Unknown", "Okänd"},
    {"QWidgetTextControl", "&Undo", "&Ångra"},
    {"QWidgetTextControl", "&Redo", "&Gör om"},
    {"QWidgetTextControl", "Cu&t", "Klipp &ut"},
    {"QWidgetTextControl", "&Copy", "&Kopiera"},
    {"QWidgetTextControl", "Copy &Link Location", "Kopiera &länkadress"},
    {"QWidgetTextControl", "&Paste", "Klistra &in"},
    {"QWidgetTextControl", "Delete", "Ta bort"},
    {"QWidgetTextControl", "Select All", "Markera alla"},
};

// Answers only for the texts above and leaves every other one to the catalogue.
class CMissingSwedishTexts : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char*,
                      int) const override {
        if (!context || !sourceText)
            return {};
        for (const CSwedishText& text : kMissingTexts)
            if (std::strcmp(text.context, context) == 0 &&
                std::strcmp(text.source, sourceText) == 0)
                return QString::fromUtf8(text.swedish);
        return {};
    }
    bool isEmpty() const override { return false; }
};

} // namespace

bool InstallSwedishLanguage(QCoreApplication& application) {
    QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto catalogue = std::make_unique<QTranslator>();
    const bool loaded = catalogue->load(QStringLiteral("qt_sv"), folder);
    if (loaded) {
        catalogue->setParent(&application);
        QCoreApplication::installTranslator(catalogue.release());
    } else {
        qCWarning(lcInstance).noquote()
            << "Qt:s svenska översättning qt_sv.qm kunde inte läsas från" << folder;
    }
    // Installed last, so it is asked first; it answers for none of the catalogue's texts.
    QCoreApplication::installTranslator(new CMissingSwedishTexts(&application));
    return loaded;
}
