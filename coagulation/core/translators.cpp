#include "krglobal.h"

#include "corelogging_p.h"
#include "settingsfile_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDebug>
#include <QtCore/QLibraryInfo>
#include <QtCore/QTranslator>

#include <algorithm>

void installTranslators()
{
    installTranslators(QString());
}

void installTranslators(const QString &directory)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        qCWarning(lcCore, "installTranslators: no application object to install translators into");
        return;
    }
    setDefaultCodec();

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    const QString qtTranslations = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
    QStringList directories = {QStringLiteral("."), QStringLiteral(".."),
                               QStringLiteral("../translations"), qtTranslations};
    if (!directory.isEmpty())
        directories << directory;

    const SettingsFile settings;
    const QString company = settings.value(QStringLiteral("settings/company")).toString();
    const QString language =
        settings.value(QStringLiteral("settings/language"), QStringLiteral("zh_CN")).toString();
    QStringList defaultNames = {QStringLiteral("qt"), QStringLiteral("kr")};
    if (!company.isEmpty())
        defaultNames << company;
    // An explicit list replaces the defaults, the company's file included.
    const QStringList names =
        settings.value(QStringLiteral("settings/translations"), defaultNames).toStringList();

    for (const QString &name : names) {
        const QString file = name + QLatin1Char('_') + language;
        auto *translator = new QTranslator(app);
        // Within one directory load() already falls back from "qt_zh_CN" to
        // "qt_zh" and "qt", so a generic file close by beats an exact one
        // further down the list.
        const bool loaded =
            std::any_of(directories.cbegin(), directories.cend(), [&](const QString &directory) {
                return translator->load(file, directory);
            });
        if (loaded) {
            qCDebug(lcCore) << file << "loaded";
            QCoreApplication::installTranslator(translator);
        } else {
            qCDebug(lcCore) << file << "not found";
            delete translator;
        }
    }
}
