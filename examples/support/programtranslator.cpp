#include "programtranslator.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QLibraryInfo>
#include <QtCore/QSettings>
#include <QtCore/QTranslator>

bool installProgramTranslator(const QString &baseName)
{
    // settings.ini names the files the library installs; a program's own file
    // is not among them, so that a site's list needs no entry per program.
    const QSettings settings(QStringLiteral("settings.ini"), QSettings::IniFormat);
    const QString file = baseName + QLatin1Char('_')
        + settings.value(QStringLiteral("settings/language"), QStringLiteral("zh_CN")).toString();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString qtTranslations = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    // Installed, the programs' translations lie beside the library's.
    const QString installed =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                        + QLatin1String(TRANSLATIONS_FROM_PROGRAM));
    auto *translator = new QTranslator(QCoreApplication::instance());
    for (const QString &directory :
         {QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../translations"),
          qtTranslations, installed}) {
        if (translator->load(file, directory))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    return false;
}
