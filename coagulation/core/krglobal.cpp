#include "krglobal.h"

#include <QtCore/QRegExp>
#include <QtCore/QThread>
#include <QtWidgets/QApplication>

#include <array>

double fraction(const QString &text, bool *ok)
{
    // QRegExp keeps the captures of its last search in the object, so one
    // instance shared by all threads would mix up concurrent callers; each
    // thread compiles its own once instead.
    thread_local QRegExp pattern(
        QStringLiteral(R"rx(([+-]?\d+(?:\.\d*)?)\s*[:/]\s*([+-]?\d+(?:\.\d*)?))rx"));
    const bool found = pattern.indexIn(text) >= 0;
    if (ok)
        *ok = found;
    if (!found)
        return 0.0;
    // No zero test: "1/0" and "0/0" give infinity and NaN, and count as found.
    return pattern.cap(1).toDouble() / pattern.cap(2).toDouble();
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
    // Qt 5 always decodes both as UTF-8 and has no setters for them, so there
    // is nothing to do; the locale codec stays as it is on purpose.
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
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

QWidget *topLevelWidget()
{
    QWidget *widget = QApplication::activeModalWidget();
    if (!widget)
        widget = QApplication::activeWindow();
    return widget ? widget->window() : nullptr;
}

static QMessageBox::StandardButton showMessage(QMessageBox::Icon icon, const QString &text,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton)
{
    WaitCursor arrow(Qt::ArrowCursor);
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, topLevelWidget());
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
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
