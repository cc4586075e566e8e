#include "krglobal.h"

#include "corelogging_p.h"
#include "settingsfile_p.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QLibraryInfo>
#include <QtCore/QTranslator>

#include <algorithm>

#ifdef Q_OS_WIN
#include <QtCore/qt_windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The directory of the library's own file, found from the address of one of
// its functions: an installation moved to another prefix keeps working.
QString libraryDirectory()
{
#ifdef Q_OS_WIN
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH];
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
                                | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&libraryDirectory), &module))
        return QString();
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return QString();
    return QFileInfo(QString::fromWCharArray(path, int(length))).absolutePath();
#else
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&libraryDirectory), &info) || !info.dli_fname)
        return QString();
    return QFileInfo(QFile::decodeName(info.dli_fname)).absolutePath();
#endif
}

// Where the library's translations are installed beside it.
QString installedTranslations()
{
    const QString directory = libraryDirectory();
    return directory.isEmpty()
        ? QString()
        : QDir::cleanPath(directory + QLatin1Char('/')
                          + QLatin1String(COAGULATION_TRANSLATIONS_FROM_LIBRARY));
}

// The library's texts are written in Chinese, Qt's own in English: a file
// in its texts' own language is not missed.
bool isSourceLanguage(const QString &name, const QString &language)
{
    return language.startsWith(name == QLatin1String("qt") ? QLatin1String("en")
                                                           : QLatin1String("zh"));
}

} // namespace

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
    const QString installed = installedTranslations();
    if (!installed.isEmpty() && !directories.contains(installed))
        directories << installed;

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
            delete translator;
            if (isSourceLanguage(name, language))
                continue;
            QStringList searched;
            for (const QString &directory : qAsConst(directories))
                searched << QLatin1Char('"') + directory + QLatin1Char('"');
#ifdef Q_OS_LINUX
            const QString where = name == QLatin1String("qt")
                ? QStringLiteral(" (Qt's own translations: Debian packages them as "
                                 "qttranslations5-l10n and qt6-translations-l10n)")
                : QString();
#else
            const QString where; // they come with the Qt that the application deploys
#endif
            qCDebug(lcCore).noquote() << QLatin1Char('"') + file
                    + QStringLiteral("\" not found; looked in ")
                    + searched.join(QStringLiteral(", ")) + where;
        }
    }
}
