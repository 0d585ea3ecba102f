#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QTranslator>

Q_LOGGING_CATEGORY(lcTranslations, "zelvo.translations")

bool installQtTranslations(QCoreApplication &app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_pt_BR"), folder)
        || !QCoreApplication::installTranslator(translator)) {
        qCWarning(lcTranslations,
                  "Qt's Portuguese texts (qtbase_pt_BR.qm) are not in '%s': Qt's "
                  "buttons and dialogs speak English",
                  qUtf8Printable(folder));
        delete translator;
        return false;
    }
    return true;
}
