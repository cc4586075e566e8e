#include "krglobal.h"

#include "corelogging_p.h"
#include "profile.h"
#include "profile_p.h"
#include "settingsfile_p.h"

#include <QtCore/QDate>
#include <QtCore/QDebug>
#include <QtCore/QLibraryInfo>
#include <QtCore/QPointer>
#include <QtCore/QThread>
#include <QtCore/QTranslator>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>
#include <QtSql/QSqlRecord>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#ifdef Q_OS_WIN
#include <QtCore/qt_windows.h>
#endif

namespace {

// Reads one number of a ratio, [+-]?\d+(?:\.\d*)? with \d any decimal digit
// (a full-width or Arabic-Indic digit counts by its digit value), starting at
// `from`. On success *end is where the number ends and *integerEnd where its
// integer digits end.
bool readRatioNumber(const QString &text, int from, double *value, int *integerEnd, int *end)
{
    const int size = text.size();
    QString ascii;
    int i = from;
    if (i < size && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ascii += text.at(i++);
    const auto readDigits = [&] {
        const int first = i;
        for (; i < size && text.at(i).isDigit(); ++i)
            ascii += QLatin1Char(char('0' + text.at(i).digitValue()));
        return i > first;
    };
    if (!readDigits())
        return false;
    *integerEnd = i;
    if (i < size && text.at(i) == QLatin1Char('.')) {
        ascii += text.at(i++);
        readDigits();
    }
    *end = i;
    *value = ascii.toDouble();
    return true;
}

int skipSpaces(const QString &text, int i)
{
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    return i;
}

} // namespace

double fraction(const QString &text, bool *ok)
{
    // The first match of ([+-]?\d+(?:\.\d*)?)\s*[:/]\s*([+-]?\d+(?:\.\d*)?),
    // found in one pass: a number that is not followed by a ratio cannot start
    // one from any later digit of its integer part either (each would read to
    // the same end), so the search goes on after those digits instead of
    // retrying from each of them, which took quadratic time on a long run.
    bool found = false;
    double ratio = 0.0;
    for (int start = 0; start < text.size();) {
        double numerator = 0.0, denominator = 0.0;
        int integerEnd = 0, end = 0, ignored = 0;
        if (!readRatioNumber(text, start, &numerator, &integerEnd, &end)) {
            ++start;
            continue;
        }
        int i = skipSpaces(text, end);
        if (i < text.size() && (text.at(i) == QLatin1Char('/') || text.at(i) == QLatin1Char(':'))
            && readRatioNumber(text, skipSpaces(text, i + 1), &denominator, &ignored, &ignored)) {
            // "1/0" is an infinity and counts; "0/0" is no ratio at all.
            ratio = numerator / denominator;
            found = !std::isnan(ratio);
            if (!found)
                ratio = 0.0;
            break;
        }
        start = integerEnd;
    }
    if (ok)
        *ok = found;
    return ratio;
}

QString humanReadableVolume(int volume)
{
    const double microlitres = volume;
    if (microlitres > 1000000)
        return QStringLiteral("%1 L").arg(microlitres * 0.000001, 0, 'g', 4);
    if (microlitres > 1000)
        return QStringLiteral("%1 mL").arg(microlitres * 0.001, 0, 'g', 4);
    return QStringLiteral("%1 uL").arg(volume);
}

QString humanReadableVolume(int kind, int volume, bool detailed)
{
    // The one kind whose volumes are only ever shown in tenths of a litre.
    const int litreKind = 0x1000;
    if (kind != litreKind || detailed)
        return humanReadableVolume(volume);
    if (volume < 100000)
        return QStringLiteral("<%1 L").arg(0.1, 0, 'f', 1);
    return QStringLiteral("%1 L").arg(volume * 0.000001, 0, 'f', 1);
}

namespace {

// tables[0] is the standard byte-at-a-time table of polynomial 0x1021;
// tables[k][b] is the CRC of byte b followed by k zero bytes, which lets
// crc16 fold eight bytes per step (slicing-by-8) with identical results.
using CrcTables = std::array<std::array<quint16, 256>, 8>;

constexpr CrcTables makeCrcTables()
{
    CrcTables tables{};
    for (int byte = 0; byte < 256; ++byte) {
        quint16 crc = quint16(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint16((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        tables[0][byte] = crc;
    }
    for (int k = 1; k < 8; ++k) {
        for (int byte = 0; byte < 256; ++byte) {
            const quint16 shorter = tables[k - 1][byte];
            tables[k][byte] = quint16((shorter << 8) ^ tables[0][shorter >> 8]);
        }
    }
    return tables;
}

constexpr CrcTables crcTables = makeCrcTables();
static_assert(crcTables[0][1] == 0x1021 && crcTables[0][255] == 0x1EF0,
              "not the standard table of polynomial 0x1021");

} // namespace

unsigned short crc16(const void *data, int length)
{
    quint16 crc = 0xFFFF;
    if (length <= 0)
        return crc;
    const auto &t = crcTables;
    const auto *p = static_cast<const uchar *>(data);
    const uchar *const end = p + length;
    // The register only ever meets the first two bytes of a block; the other
    // six contribute through the tables alone.
    for (; end - p >= 8; p += 8) {
        crc = quint16(t[7][p[0] ^ (crc >> 8)] ^ t[6][p[1] ^ (crc & 0xFF)] ^ t[5][p[2]] ^ t[4][p[3]]
                      ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]]);
    }
    for (; p != end; ++p)
        crc = quint16((crc << 8) ^ t[0][(crc >> 8) ^ *p]);
    return crc;
}

QStringList dilutionList()
{
    return {QStringLiteral("1/1"),   QStringLiteral("1/2"),   QStringLiteral("1/4"),
            QStringLiteral("1/5"),   QStringLiteral("1/8"),   QStringLiteral("1/10"),
            QStringLiteral("1/16"),  QStringLiteral("1/20"),  QStringLiteral("1/30"),
            QStringLiteral("1/40"),  QStringLiteral("1/50"),  QStringLiteral("1/80"),
            QStringLiteral("1/100"), QStringLiteral("1/160"), QStringLiteral("1/320"),
            QStringLiteral("2/5"),   QStringLiteral("3/4"),   QStringLiteral("3/5"),
            QStringLiteral("4/5")};
}

void setDefaultCodec()
{
    // Qt 4 needed UTF-8 installed as the codec for C strings and for tr().
    // Qt 5 and 6 always decode both as UTF-8 and have no setters for them, so
    // there is nothing to do; the locale codec stays as it is on purpose.
}

int nextSampleNo(const QDate &date)
{
    bool ok = false;
    const int number = nextSampleNo(date, &ok);
    return ok ? number : 1;
}

int nextSampleNo(const QDate &date, bool *ok)
{
    bool ignored = false;
    if (!ok)
        ok = &ignored;
    *ok = false;
    const QSqlDatabase db = ProfilePrivate::dataDatabase("nextSampleNo");
    if (!db.isValid())
        return 0;
    QSqlQuery query(db);
    // The cast counts "12A" as 12 and a number without digits as 0, and
    // compares "10" above "9".
    if (!query.prepare(
            QStringLiteral("select max(cast(sampleNo as integer)) from patient where date=:date")))
        qCWarning(lcCore) << "..\\..\\coagulation\\core\\krglobal(174):" << query.lastError();
    query.bindValue(QStringLiteral(":date"), date);
    if (!query.exec()) {
        qCWarning(lcCore) << "..\\..\\coagulation\\core\\krglobal(177):" << query.lastError();
        return 0;
    }
    // The null maximum of no samples counts as 0. Numbers are counted from
    // 1, and one typed in beyond the int range must neither wrap nor overflow.
    const qint64 largest = query.next() ? query.value(0).toLongLong() : 0;
    *ok = true;
    return int(std::clamp<qint64>(largest, 0, std::numeric_limits<int>::max() - 1) + 1);
}

QString samplePrefix(kr::SampleType type)
{
    switch (type) {
    case kr::StatimSample:
        return Profile::instance().statim_sample_prefix(QStringLiteral("S"));
    case kr::QcSample:
        return Profile::instance().qc_sample_prefix(QStringLiteral("QC"));
    case kr::RoutineSample:
        break;
    }
    return QString();
}

void setGeneratedValue(QSqlRecord &record, const QString &name, const QVariant &value)
{
    // Both setters ignore the index -1 of an unknown name.
    const int index = record.indexOf(name);
    record.setValue(index, value);
    record.setGenerated(index, true);
}

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

Core::Core() = default;
Core::Core(const Core &) = default;
Core::~Core() = default;
Core &Core::operator=(const Core &) = default;

BoolLocker::BoolLocker(bool &flag, bool value)
    : m_target(&flag)
    , m_saved(flag)
{
    flag = value;
}

BoolLocker::~BoolLocker()
{
    *m_target = m_saved;
}

// The cursor stack belongs to the GUI application object and its thread.
// Under a plain QCoreApplication, Qt 5 would reach GUI-only data and crash.
static bool onGuiApplicationThread()
{
    const auto *app = qobject_cast<const QGuiApplication *>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

WaitCursor::WaitCursor(Qt::CursorShape shape)
{
    if (onGuiApplicationThread())
        QApplication::setOverrideCursor(QCursor(shape));
}

WaitCursor::~WaitCursor()
{
    if (onGuiApplicationThread())
        QApplication::restoreOverrideCursor();
}

void sleep(int milliseconds)
{
    if (milliseconds <= 0)
        return;
#ifdef Q_OS_WIN
    Sleep(DWORD(milliseconds));
#else
    QThread::msleep(static_cast<unsigned long>(milliseconds));
#endif
}

// Widgets exist only under a QApplication, and only on its thread.
static bool onWidgetThread()
{
    const auto *app = qobject_cast<const QApplication *>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

QWidget *topLevelWidget()
{
    if (!onWidgetThread())
        return nullptr;
    QWidget *widget = QApplication::activeModalWidget();
    if (!widget)
        widget = QApplication::activeWindow();
    return widget ? widget->window() : nullptr;
}

// The button that Escape presses in a box with these buttons, found as the
// message box itself finds it: Cancel; else the only button; else the only
// button with the reject role; else the only one with the "no" role; else none.
static QMessageBox::StandardButton escapeAnswer(QMessageBox::StandardButtons buttons)
{
    if (!buttons)
        return QMessageBox::Ok; // a box without buttons gets an Ok button
    if (buttons & QMessageBox::Cancel)
        return QMessageBox::Cancel;
    const auto only = [buttons](QMessageBox::StandardButtons role) {
        const QMessageBox::StandardButtons present = buttons & role;
        const auto value = uint(present);
        const bool single = value && !(value & (value - 1));
        return single ? QMessageBox::StandardButton(value) : QMessageBox::NoButton;
    };
    if (const auto single = only(buttons))
        return single;
    if (const auto reject = only(QMessageBox::Close | QMessageBox::Abort))
        return reject;
    return only(QMessageBox::No | QMessageBox::NoToAll);
}

static QMessageBox::StandardButton showMessage(QMessageBox::Icon icon, const QString &text,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton)
{
    const QMessageBox::StandardButton escape = escapeAnswer(buttons);
    if (!onWidgetThread()) {
        // A service, a command-line tool or a worker thread: no box can be
        // shown, so the text goes to the warning channel and the answer is
        // the one the user would most likely give without reading it.
        qCWarning(lcCore).noquote() << text;
        return defaultButton != QMessageBox::NoButton ? defaultButton : escape;
    }

    WaitCursor arrow(Qt::ArrowCursor);
    // On the heap behind a guard: the owner may be deleted while the box is
    // open (a window closing itself, a watchdog), and takes the box with it.
    QPointer<QMessageBox> box(new QMessageBox(icon, QCoreApplication::applicationName(), text,
                                              buttons, topLevelWidget()));
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);
    const auto answer = QMessageBox::StandardButton(box->exec());
    if (!box)
        return escape; // deleted with its owner
    delete box.data();
    // No button ends the box when its event loop is ended from outside
    // (QCoreApplication::quit()): closed without a choice, too.
    return answer == QMessageBox::NoButton ? escape : answer;
}

QMessageBox::StandardButton information(const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Information, text, buttons, defaultButton);
}

QMessageBox::StandardButton question(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Question, text, buttons, defaultButton);
}

QMessageBox::StandardButton warning(const QString &text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Warning, text, buttons, defaultButton);
}

QMessageBox::StandardButton critical(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showMessage(QMessageBox::Critical, text, buttons, defaultButton);
}
