#include "installation.h"

#include "schemalayout.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>

bool layOutInstallation(QString *error)
{
    // The same names, relative to the current directory, that the settings
    // store opens at start-up.
    const QSettings settings(QStringLiteral("settings.ini"), QSettings::IniFormat);
    const auto fileOf = [&settings](const QString &schema) {
        return settings.value(QStringLiteral("db/") + schema, schema + QStringLiteral(".db"))
            .toString();
    };
    if (QFileInfo::exists(fileOf(QStringLiteral("profile"))))
        return true;

    for (const QString &schema : SchemaLayout::schemaNames()) {
        const QString file = fileOf(schema);
        if (QFileInfo::exists(file))
            continue;
        if (!QDir().mkpath(QFileInfo(file).path())) {
            if (error)
                *error = QStringLiteral("cannot create the directory of %1").arg(file);
            return false;
        }
        if (!SchemaLayout::createDatabase(file, schema, error))
            return false;
    }
    return true;
}
