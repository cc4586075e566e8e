#include "krglobal.h"

#include <QtCore/QString>

#include <array>
#include <cmath>

// Ratios, volumes, CRC-16 and the dilution list: no state, any thread.

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
