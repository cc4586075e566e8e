#ifndef SETTINGSFILE_P_H
#define SETTINGSFILE_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/QSettings>

// settings.ini (by default the one in the current directory), read as UTF-8
// by both builds. Qt 5 would read its bytes as Latin-1, garbling a Chinese
// company name or path; Qt 6 reads UTF-8 anyway.
class SettingsFile : public QSettings
{
public:
    explicit SettingsFile(const QString &file = QStringLiteral("settings.ini"))
        : QSettings(file, QSettings::IniFormat)
    {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
        setIniCodec("UTF-8");
#endif
    }
};

#endif // SETTINGSFILE_P_H
