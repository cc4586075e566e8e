#include "analysisresult.h"

#include "corelogging_p.h"

#include <QtCore/QDataStream>
#include <QtCore/QtEndian>

#include <algorithm>
#ifdef __SSE2__
#include <immintrin.h>
#endif
#include <cmath>
#include <cstring>
#include <limits>

ClotCurve::ClotCurve()
    : m_type(Raw)
{ }

ClotCurve::ClotCurve(const ClotCurve &other) = default;
ClotCurve &ClotCurve::operator=(const ClotCurve &other) = default;
ClotCurve::~ClotCurve() = default;

void ClotCurve::append(const Segment &segment)
{
    m_segments.append(segment);
}

void ClotCurve::append(double start, double step, const QVector<double> &values)
{
    m_segments.append(Segment{start, step, values});
}

void ClotCurve::setSegments(const QVector<Segment> &segments)
{
    m_segments = segments;
}

int ClotCurve::size() const
{
    int total = 0;
    for (const Segment &segment : m_segments)
        total += segment.values.size();
    return total;
}

const ClotCurve::Segment *ClotCurve::locate(int index, int *local) const
{
    if (index < 0)
        return nullptr;
    for (const Segment &segment : m_segments) {
        if (index < segment.values.size()) {
            *local = index;
            return &segment;
        }
        index -= segment.values.size();
    }
    return nullptr;
}

double ClotCurve::x(int index) const
{
    int local = 0;
    const Segment *segment = locate(index, &local);
    return segment ? segment->start + local * segment->step : 0.0;
}

double ClotCurve::y(int index) const
{
    int local = 0;
    const Segment *segment = locate(index, &local);
    return segment ? segment->values.at(local) : 0.0;
}

void ClotCurve::remove(int index, int count)
{
    // Negative arguments lie outside the contract; removing nothing keeps
    // every access within the segments' storage.
    if (index < 0 || count <= 0)
        return;

    int position = index; // relative to the segment being looked at
    int remaining = count;
    int k = 0;
    while (remaining > 0 && k < m_segments.size()) {
        const int n = m_segments.at(k).values.size();
        if (position >= n) {
            position -= n;
            ++k;
            continue;
        }
        const int removed = qMin(remaining, n - position);
        QVector<double> &values = m_segments[k].values;
        values.remove(position, removed);
        remaining -= removed;
        if (values.isEmpty()) {
            // position is 0 here: the removal ran to the segment's end
            m_segments.remove(k);
            continue;
        }
        position -= values.size();
        ++k;
    }
}

ClotCurve ClotCurve::simplified() const
{
    return *this;
}

static const double kEpsilon = std::numeric_limits<double>::epsilon();

// qRound of a non-negative window index, clamped to [0, limit] first: a step of
// zero, a NaN or a huge quotient must not overflow the conversion to int.
// Within the range the result is qRound's, and every caller only compares it
// with limit, so clamping changes nothing there.
static int roundedIndex(double x, int limit)
{
    if (!(x > 0.0))
        return 0;
    if (x >= limit)
        return limit;
    return qRound(x);
}

ClotCurve ClotCurve::toType(PointType type) const
{
    if (type == this->type() || type != OD || this->type() != Raw)
        return *this;

    ClotCurve curve = simplified();
    curve.setType(OD);
    if (curve.m_segments.isEmpty())
        return curve;

    // Only the first segment is converted; later segments keep their raw values.
    Segment &segment = curve.m_segments.first();
    QVector<double> &values = segment.values;
    const int n = values.size();

    // Baseline window: one unit of x starting at the point nearest x = 3.0.
    const int b = roundedIndex((qMax(3.0, segment.start) - segment.start) / segment.step, n);
    const int w = qMax(1, roundedIndex(1.0 / segment.step, n));
    const int m = qMin(w, n - b);
    if (m <= 0) {
        values.fill(0.0);
        return curve;
    }

    double sum = 0.0;
    for (int i = b; i < b + m; ++i)
        sum += values.at(i);
    const double base = sum / m;

    const int z = b + m / 2;
    double *v = values.data();
    std::fill(v, v + z, 0.0);
    for (int k = z; k < n; ++k) {
        const double density = std::log10(base / qMax(v[k], kEpsilon));
        v[k] = density > 5.0 ? 5.0 : density;
    }
    return curve;
}

// The byte form is QDataStream's (big-endian integers, 8-byte IEEE doubles);
// it is written and read directly so that 100 000 points cost a byte swap
// each rather than a stream call each.
static const int kHeaderSize = 8;
static const int kSegmentHeaderSize = 20;
// The largest byte form a buffer takes in both Qt majors (a Qt 5 byte array
// holds a little less than 2 GiB).
static const qint64 kMaxBufferSize = std::numeric_limits<int>::max() - 64;

static char *putUInt32(char *out, quint32 value)
{
    qToBigEndian(value, out);
    return out + 4;
}

static char *putDouble(char *out, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToBigEndian(bits, out);
    return out + 8;
}

// Copies `count` doubles, swapping the byte order of each: a curve's values
// are most of its bytes. Either side may be unaligned. The portable loop
// handles what the vector loops leave over.
static void swappedCopyTail(const char *from, char *to, int first, int count)
{
    for (int k = first; k < count; ++k) {
        quint64 bits;
        std::memcpy(&bits, from + 8 * k, sizeof bits);
        bits = qbswap(bits);
        std::memcpy(to + 8 * k, &bits, sizeof bits);
    }
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
// Four values per register, with the byte shuffle of AVX2 where the processor
// has it (chosen once, at run time).
__attribute__((target("avx2"))) static void swappedCopyAvx2(const char *from, char *to, int count)
{
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + 8 * k));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 8 * k),
                            _mm256_shuffle_epi8(x, reverse));
    }
    swappedCopyTail(from, to, k, count);
}
#define HAVE_SWAPPED_COPY_AVX2
#endif

static void swappedCopy(const char *from, char *to, int count)
{
#ifdef HAVE_SWAPPED_COPY_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return swappedCopyAvx2(from, to, count);
#endif
    int k = 0;
#ifdef __SSE2__
    // Two values per register: the bytes of each 16-bit word swapped, then
    // the four words of each value reversed.
    for (; k + 2 <= count; k += 2) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 8 * k));
        x = _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
        x = _mm_shufflelo_epi16(x, _MM_SHUFFLE(0, 1, 2, 3));
        x = _mm_shufflehi_epi16(x, _MM_SHUFFLE(0, 1, 2, 3));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 8 * k), x);
    }
#endif
    swappedCopyTail(from, to, k, count);
}

QByteArray ClotCurve::toBuffer() const
{
    qint64 size = kHeaderSize;
    for (const Segment &segment : m_segments)
        size += kSegmentHeaderSize + 8 * qint64(segment.values.size());
    if (size > kMaxBufferSize) {
        qCWarning(lcCore, "ClotCurve::toBuffer: a curve of %lld bytes does not fit into one buffer",
                  size);
        return QByteArray();
    }

    QByteArray buffer(int(size), Qt::Uninitialized);
    char *out = buffer.data();
    out = putUInt32(out, quint32(m_type));
    out = putUInt32(out, quint32(m_segments.size()));
    for (const Segment &segment : m_segments) {
        out = putDouble(out, segment.start);
        out = putDouble(out, segment.step);
        out = putUInt32(out, quint32(segment.values.size()));
        swappedCopy(reinterpret_cast<const char *>(segment.values.constData()), out,
                    segment.values.size());
        out += 8 * qint64(segment.values.size());
    }
    return buffer;
}

namespace {

double doubleAt(const char *bigEndian)
{
    const quint64 bits = qFromBigEndian<quint64>(bigEndian);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Reads big-endian fields; past the end of the data every field reads as 0,
// as a QDataStream does.
class BufferReader
{
public:
    explicit BufferReader(const QByteArray &buffer)
        : m_data(buffer.constData())
        , m_remaining(buffer.size())
    { }

    qint64 remaining() const { return m_remaining; }
    // Whether a field read past the end of the data.
    bool truncated() const { return m_truncated; }

    quint32 uint32()
    {
        if (m_remaining < 4)
            return skipRest(), 0;
        const quint32 value = qFromBigEndian<quint32>(m_data);
        advance(4);
        return value;
    }

    double float64()
    {
        if (m_remaining < 8)
            return skipRest(), 0.0;
        const double value = doubleAt(m_data);
        advance(8);
        return value;
    }

    // Up to `count` doubles in one sweep, as many as the remaining bytes hold.
    QVector<double> float64s(quint32 count)
    {
        if (count > m_remaining / 8)
            m_truncated = true;
        QVector<double> values(int(qMin<qint64>(count, m_remaining / 8)));
        swappedCopy(m_data, reinterpret_cast<char *>(values.data()), values.size());
        advance(8 * values.size());
        return values;
    }

private:
    void advance(int bytes)
    {
        m_data += bytes;
        m_remaining -= bytes;
    }
    void skipRest()
    {
        advance(int(m_remaining));
        m_truncated = true;
    }

    const char *m_data;
    qint64 m_remaining;
    bool m_truncated = false;
};

} // namespace

ClotCurve ClotCurve::fromBuffer(const QByteArray &buffer)
{
    return fromBuffer(buffer, nullptr);
}

ClotCurve ClotCurve::fromBuffer(const QByteArray &buffer, bool *ok)
{
    BufferReader in(buffer);
    ClotCurve curve;
    const quint32 type = in.uint32();
    if (type != Raw && type != OD) {
        qCWarning(lcCore, "ClotCurve::fromBuffer: %u is no point type", type);
        if (ok)
            *ok = false;
        return ClotCurve();
    }
    curve.m_type = qint32(type);

    // The counts come from outside: a segment or value the remaining bytes
    // cannot hold is not made up, so a hostile count costs no memory and a
    // truncated buffer yields the points it does hold.
    const quint32 segmentCount = in.uint32();
    for (quint32 i = 0; i < segmentCount && in.remaining() > 0; ++i) {
        Segment segment;
        segment.start = in.float64();
        segment.step = in.float64();
        segment.values = in.float64s(in.uint32());
        curve.m_segments.append(segment);
    }
    if (ok)
        *ok = !in.truncated() && quint32(curve.m_segments.size()) == segmentCount
            && in.remaining() == 0;
    return curve;
}

bool ClotCurve::operator==(const ClotCurve &other) const
{
    const auto sameSegment = [](const Segment &a, const Segment &b) {
        return a.start == b.start && a.step == b.step && a.values == b.values;
    };
    return m_type == other.m_type
        && std::equal(m_segments.cbegin(), m_segments.cend(), other.m_segments.cbegin(),
                      other.m_segments.cend(), sameSegment);
}

QDataStream &operator<<(QDataStream &out, const ClotCurve &curve)
{
    return out << curve.toBuffer();
}

QDataStream &operator>>(QDataStream &in, ClotCurve &curve)
{
    QByteArray bytes;
    in >> bytes;
    bool ok = false;
    const ClotCurve read = ClotCurve::fromBuffer(bytes, &ok);
    if (in.status() == QDataStream::Ok && !ok)
        in.setStatus(QDataStream::ReadCorruptData);
    curve = ok ? read : ClotCurve();
    return in;
}
