#include "settingsfile_p.h"

#include "corelogging_p.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtCore/QTemporaryFile>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtCore/QStringDecoder>
#else
#include <QtCore/QTextCodec>
#endif

namespace {

bool isUtf8(const QByteArray &bytes)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder(bytes);
    return !decoder.hasError();
#else
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
#endif
}

// Null when the build has no GB18030 codec.
QString fromGb18030(const QByteArray &bytes)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringDecoder decoder("GB18030");
    return decoder.isValid() ? QString(decoder(bytes)) : QString();
#else
    const QTextCodec *codec = QTextCodec::codecForName("GB18030");
    return codec ? codec->toUnicode(bytes) : QString();
#endif
}

// Text that is not UTF-8: UTF-16 with its byte-order mark (what Windows
// editors save as "Unicode"), else GB18030, a superset of the GBK of Chinese
// Windows. Null when it is neither; *encoding names what was taken.
QString decodeLegacy(const QByteArray &bytes, QString *encoding)
{
    const bool littleEndian = bytes.startsWith("\xff\xfe");
    if (littleEndian || bytes.startsWith("\xfe\xff")) {
        *encoding = QStringLiteral("UTF-16");
        QString text;
        for (int i = 2; i + 1 < bytes.size(); i += 2) {
            const uchar first = uchar(bytes.at(i)), second = uchar(bytes.at(i + 1));
            text += littleEndian ? QChar(first, second) : QChar(second, first); // (low, high)
        }
        return text;
    }
    *encoding = QStringLiteral("GB18030");
    const QString text = fromGb18030(bytes);
    // A NUL is in no settings file: binary, or a wide encoding without its mark.
    return text.contains(QChar(0)) ? QString() : text;
}

} // namespace

const char *const SettingsFile::databaseKeys[4] = {"db/profile", "db/data", "db/qc", "db/syslog"};

QString SettingsFile::defaultDatabaseName(int database)
{
    static const char *const names[4] = {"profile.db", "data.db", "qc.db", "syslog.db"};
    return QLatin1String(names[database]);
}

SettingsFile::SettingsFile(const QString &file)
{
    QString readFrom = file;
    const QFileInfo info(file);
    const QString path = info.absoluteFilePath();
    QFile in(file);
    if (info.exists() && !in.open(QIODevice::ReadOnly)) {
        m_problem = in.errorString();
    } else if (in.isOpen()) {
        const QByteArray bytes = in.readAll();
        QString encoding;
        const QString text =
            isUtf8(bytes) ? QString::fromUtf8(bytes) : decodeLegacy(bytes, &encoding);
        // QSettings reads INI files as UTF-8 only (Qt 6) or with one codec for
        // the whole file (Qt 5), and takes a back-slash for an escape, where a
        // Windows path such as D:\数据\data.db means what it says: it reads a
        // UTF-8 copy with every back-slash doubled.
        const bool copied = !encoding.isEmpty() || text.contains(QLatin1Char('\\'));
        if (!encoding.isEmpty() && text.isNull()) {
            m_problem = QStringLiteral("not text in UTF-8, UTF-16 or GB18030");
        } else if (copied) {
            m_converted.reset(new QTemporaryFile);
            const QByteArray literal =
                QString(text).replace(QLatin1Char('\\'), QStringLiteral("\\\\")).toUtf8();
            if (m_converted->open() && m_converted->write(literal) >= 0 && m_converted->flush())
                readFrom = m_converted->fileName();
            else
                m_problem = QStringLiteral("cannot be copied for reading: %1")
                                .arg(m_converted->errorString());
            if (!encoding.isEmpty())
                qCWarning(lcCore).noquote()
                    << QStringLiteral("%1 is not UTF-8; read as %2").arg(path, encoding);
        }
    }
    m_settings.reset(new QSettings(readFrom, QSettings::IniFormat));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    m_settings->setIniCodec("UTF-8");
#endif
    if (m_problem.isEmpty() && m_settings->status() != QSettings::NoError)
        m_problem = m_settings->status() == QSettings::FormatError
            ? QStringLiteral("a line that is no setting")
            : QStringLiteral("cannot be read");
    if (!m_problem.isEmpty())
        qCWarning(lcCore).noquote()
            << QStringLiteral("%1: %2; what it holds beyond that is not read").arg(path, m_problem);
}

SettingsFile::~SettingsFile() = default;

QVariant SettingsFile::value(const QString &key, const QVariant &defaultValue) const
{
    return m_settings->value(key, defaultValue);
}

QString sharedFile(const QStringList &paths)
{
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    QStringList seen;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        const QString canonical =
            info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
        if (seen.contains(canonical, sensitivity))
            return path;
        seen << canonical;
    }
    return QString();
}
