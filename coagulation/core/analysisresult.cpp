#include "analysisresult.h"
#include "profile.h"

#include <QtCore/QAtomicInt>
#include <QtCore/QCoreApplication>
#include <QtCore/QDebug>
#include <QtCore/QRegExp>
#include <QtCore/QtEndian>
#include <QtGui/QBrush>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <cmath>
#include <cstring>
#include <limits>

// ---------------------------------------------------------------------------
// ClotCurve

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

QByteArray ClotCurve::toBuffer() const
{
    qint64 size = kHeaderSize;
    for (const Segment &segment : m_segments)
        size += kSegmentHeaderSize + 8 * qint64(segment.values.size());

    QByteArray buffer(int(size), Qt::Uninitialized);
    char *out = buffer.data();
    out = putUInt32(out, quint32(m_type));
    out = putUInt32(out, quint32(m_segments.size()));
    for (const Segment &segment : m_segments) {
        out = putDouble(out, segment.start);
        out = putDouble(out, segment.step);
        out = putUInt32(out, quint32(segment.values.size()));
        for (double value : segment.values)
            out = putDouble(out, value);
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
        QVector<double> values(int(qMin<qint64>(count, m_remaining / 8)));
        double *out = values.data();
        for (int k = 0; k < values.size(); ++k)
            out[k] = doubleAt(m_data + 8 * k);
        advance(8 * values.size());
        return values;
    }

private:
    void advance(int bytes)
    {
        m_data += bytes;
        m_remaining -= bytes;
    }
    void skipRest() { advance(int(m_remaining)); }

    const char *m_data;
    qint64 m_remaining;
};

} // namespace

ClotCurve ClotCurve::fromBuffer(const QByteArray &buffer)
{
    BufferReader in(buffer);
    ClotCurve curve;
    curve.m_type = qint32(in.uint32());

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
    return curve;
}

void ClotCurve::save(int patientId, const QString &item, int version) const
{
    if (m_segments.isEmpty())
        return;

    QSqlQuery query(Profile::instance().dataDatabase());
    if (!query.prepare(QStringLiteral("insert into curve (patientId, item, version, curve) "
                                      "values(:patientId, :item, :version, :curve)")))
        qWarning() << "..\\..\\coagulation\\core\\analysisresult(91):" << query.lastError();
    query.bindValue(QStringLiteral(":patientId"), patientId);
    query.bindValue(QStringLiteral(":item"), item);
    query.bindValue(QStringLiteral(":version"), version);
    query.bindValue(QStringLiteral(":curve"), toBuffer());
    if (!query.exec())
        qWarning() << "..\\..\\coagulation\\core\\analysisresult(103):" << query.lastError();
}

// ---------------------------------------------------------------------------
// AnalysisResult

struct AnalysisResult::Data
{
    QAtomicInt ref;
    qint32 id;
    double value;
    double od;
    qint32 flags;
    qint32 error;
    QString errorText;
    ClotCurve curve;
    qint32 ch;
    qint32 version;
    qint32 recordId;
    qint32 qcRecordId;
};

// The library's own reference keeps the empty block alive for every handle.
AnalysisResult::Data AnalysisResult::shared_null = {
    1, 0, 0.0, 0.0, 0, AnalysisResult::NullResult, QString(), ClotCurve(), 0, 0, 0, 0};

const double AnalysisResult::notClottedValue = 999.9;
const double AnalysisResult::nullValue = 0.0;
const double AnalysisResult::invalidOD = 0.0;

static const char *const errorMessages[] = {
    QT_TRANSLATE_NOOP("QObject", "结果为空"),
    QT_TRANSLATE_NOOP("QObject", "无效的值"),
    QT_TRANSLATE_NOOP("QObject", "未知错误"),
    QT_TRANSLATE_NOOP("QObject", "无标准曲线"),
    QT_TRANSLATE_NOOP("QObject", "标准曲线无效"),
    QT_TRANSLATE_NOOP("QObject", "标准曲线设置错误"),
    QT_TRANSLATE_NOOP("QObject", "无效的计算方法"),
    QT_TRANSLATE_NOOP("QObject", "计算所需的参数不存在"),
};

AnalysisResult::AnalysisResult()
    : d(&shared_null)
{
    d->ref.ref();
}

AnalysisResult::AnalysisResult(const AnalysisResult &other)
    : d(other.d)
{
    d->ref.ref();
}

AnalysisResult::AnalysisResult(double value)
    : d(new Data(shared_null))
{
    d->ref.storeRelaxed(1);
    setValue(value);
}

AnalysisResult::AnalysisResult(ErrorCode error)
    : AnalysisResult(error, 0.0)
{ }

AnalysisResult::AnalysisResult(ErrorCode error, double value)
    : d(new Data(shared_null))
{
    d->ref.storeRelaxed(1);
    d->error = error;
    d->value = value;
}

AnalysisResult::~AnalysisResult()
{
    if (!d->ref.deref())
        delete d;
}

AnalysisResult &AnalysisResult::operator=(const AnalysisResult &other)
{
    other.d->ref.ref();
    if (!d->ref.deref())
        delete d;
    d = other.d;
    return *this;
}

template<typename T>
void AnalysisResult::setField(T Data::*field, const T &value)
{
    detach();
    d->*field = value;
}

void AnalysisResult::detach()
{
    if (d->ref.loadAcquire() == 1)
        return;
    Data *copy = new Data(*d);
    copy->ref.storeRelaxed(1);
    if (!d->ref.deref())
        delete d;
    d = copy;
}

int AnalysisResult::id() const
{
    return d->id;
}
double AnalysisResult::value() const
{
    return d->value;
}
double AnalysisResult::od() const
{
    return d->od;
}
int AnalysisResult::flags() const
{
    return d->flags;
}
AnalysisResult::ErrorCode AnalysisResult::error() const
{
    return ErrorCode(d->error);
}
ClotCurve AnalysisResult::curve() const
{
    return d->curve;
}
int AnalysisResult::ch() const
{
    return d->ch;
}
int AnalysisResult::version() const
{
    return d->version;
}
int AnalysisResult::recordId() const
{
    return d->recordId;
}
int AnalysisResult::qcRecordId() const
{
    return d->qcRecordId;
}

bool AnalysisResult::isNull() const
{
    return d->error == NullResult;
}

bool AnalysisResult::isValid() const
{
    return d->error >= ValidNumber;
}

bool AnalysisResult::isValidNumber() const
{
    return d->error == ValidNumber;
}

bool AnalysisResult::testFlag(kr::ResultFlags flag) const
{
    return (d->flags & flag) != 0;
}

bool AnalysisResult::isManualTest() const
{
    return testFlag(kr::ManualTestFlag);
}

QString AnalysisResult::errorText() const
{
    if (!d->errorText.isEmpty())
        return d->errorText;
    if (d->error >= NullResult && d->error <= MissingCalculationParameter)
        return QCoreApplication::translate("QObject", errorMessages[d->error]);
    return QString();
}

kr::ResultFlags AnalysisResult::errorFlags() const
{
    return errorFlags(error());
}

kr::ResultFlags AnalysisResult::errorFlags(ErrorCode error)
{
    switch (error) {
    case LessThan:
        return kr::LowerReportLimitFlag;
    case GreaterThan:
        return kr::UpperReportLimitFlag;
    default:
        return {};
    }
}

AnalysisResult::ErrorCode AnalysisResult::errorCode(int flags)
{
    if (flags & kr::UpperReportLimitFlag)
        return GreaterThan;
    if (flags & kr::LowerReportLimitFlag)
        return LessThan;
    return ValidNumber;
}

AnalysisResult::ErrorCode AnalysisResult::opposite(ErrorCode error)
{
    switch (error) {
    case LessThan:
        return GreaterThan;
    case GreaterThan:
        return LessThan;
    default:
        return error;
    }
}

bool AnalysisResult::isNullValue(double value)
{
    return std::fabs(value) < kEpsilon;
}

bool AnalysisResult::isInvalidODValue(double value)
{
    return isNullValue(value);
}

bool AnalysisResult::isNotClottedValue(double value)
{
    return std::fabs(value - notClottedValue) < 0.001;
}

void AnalysisResult::setValue(double value)
{
    detach();
    if (isNullValue(value)) {
        d->value = nullValue;
        d->error = NullResult;
    } else if (isNotClottedValue(value)) {
        d->value = notClottedValue;
        d->error = NotClotted;
    } else {
        d->value = value;
        d->error = ValidNumber;
    }
}

void AnalysisResult::setValue(ErrorCode error, double value)
{
    detach();
    d->error = error;
    d->value = value;
}

void AnalysisResult::setError(ErrorCode error)
{
    detach();
    d->error = error;
    d->errorText.clear();
}

void AnalysisResult::setErrorText(const QString &text)
{
    detach();
    d->errorText = text;
    d->error = UnknownError;
}

void AnalysisResult::clearErrorText()
{
    detach();
    d->errorText.clear();
}

void AnalysisResult::flagsToError()
{
    if (d->error < ValidNumber)
        return;
    detach();
    d->error = errorCode(d->flags);
    d->errorText.clear();
}

void AnalysisResult::setFlags(int flags)
{
    setField(&Data::flags, flags);
}

void AnalysisResult::setFlag(kr::ResultFlags flag, bool on)
{
    detach();
    if (on)
        d->flags |= int(flag);
    else
        d->flags &= ~int(flag);
}

void AnalysisResult::setManualTest(bool manual)
{
    setFlag(kr::ManualTestFlag, manual);
}

void AnalysisResult::setId(int id)
{
    setField(&Data::id, id);
}

void AnalysisResult::setCh(int ch)
{
    setField(&Data::ch, ch);
}

void AnalysisResult::setVersion(int version)
{
    setField(&Data::version, version);
}

void AnalysisResult::setRecordId(int recordId)
{
    setField(&Data::recordId, recordId);
}

void AnalysisResult::setQcRecordId(int qcRecordId)
{
    setField(&Data::qcRecordId, qcRecordId);
}

void AnalysisResult::setOD(double od)
{
    setField(&Data::od, od);
}

void AnalysisResult::setCurve(const ClotCurve &curve)
{
    setField(&Data::curve, curve);
}

// ---------------------------------------------------------------------------
// Display text, colour and parsing. Every call asks the settings store, so a
// changed mark or colour takes effect with the next call.

namespace {

using TextSetting = QString (Profile::*)(const QString &);
using ColorSetting = QColor (Profile::*)(const QColor &);

// A configurable mark and the flag it stands for. The default texts are
// translated in the context "Profile"; in Qt 5 tr and trUtf8 both read the
// source as UTF-8, so the arrows and the not-clotted word need no special case.
struct Mark
{
    kr::ResultFlag flag;
    TextSetting setting;
    const char *defaultText;

    QString text() const { return (Profile::instance().*setting)(Profile::tr(defaultText)); }
};

// Marks before the number, in the order they are printed and recognised.
const Mark leadingMarks[] = {
    {kr::ManualInputFlag, &Profile::manual_input_flag, QT_TRANSLATE_NOOP("Profile", "M")},
    {kr::DilutionResultFlag, &Profile::dilution_result_flag, QT_TRANSLATE_NOOP("Profile", "!")},
    {kr::LowerReportLimitFlag, &Profile::lower_report_limit_flag,
     QT_TRANSLATE_NOOP("Profile", "<")},
    {kr::UpperReportLimitFlag, &Profile::upper_report_limit_flag,
     QT_TRANSLATE_NOOP("Profile", ">")},
};

// Arrow marks after the number.
const Mark trailingMarks[] = {
    {kr::LowerMarkLimitFlag, &Profile::lower_mark_limit_flag, QT_TRANSLATE_NOOP("Profile", "↓")},
    {kr::UpperMarkLimitFlag, &Profile::upper_mark_limit_flag, QT_TRANSLATE_NOOP("Profile", "↑")},
};

QString notClottedWord()
{
    return Profile::instance().result_not_clotted(Profile::tr("不凝"));
}

QString noResultPlaceholder()
{
    return Profile::instance().result_can_not_be_calculated(Profile::tr("---.-"));
}

struct MarkTexts
{
    QStringList texts; // in the order of the mark table, empty ones included
    QString alternation; // the non-empty texts, escaped and joined with '|'
};

template<size_t N>
MarkTexts markTexts(const Mark (&marks)[N])
{
    MarkTexts result;
    QStringList escaped;
    for (const Mark &mark : marks) {
        const QString text = mark.text();
        result.texts << text;
        if (!text.isEmpty())
            escaped << QRegExp::escape(text);
    }
    result.alternation = escaped.join(QLatin1Char('|'));
    return result;
}

// Reads a run of adjacent marks: each match of the alternation is compared
// with the mark texts in table order, and the first equal one sets its flag.
template<size_t N>
int scanMarks(const QString &run, const QRegExp &alternation, const MarkTexts &texts,
              const Mark (&marks)[N])
{
    if (texts.alternation.isEmpty() || run.isEmpty())
        return 0;
    int flags = 0;
    int position = 0;
    while ((position = alternation.indexIn(run, position)) != -1) {
        const int length = alternation.matchedLength();
        if (length <= 0)
            break;
        const int index = texts.texts.indexOf(alternation.cap(0));
        if (index >= 0)
            flags |= marks[index].flag;
        position += length;
    }
    return flags;
}

// The parser's patterns. Compiling them costs far more than the settings
// lookups that decide them, so each thread keeps the set it compiled last and
// reuses it for as long as the configured texts give the same pattern text.
// The texts are still read at every call, so a changed mark takes effect at
// once.
struct ParserPatterns
{
    QString source;
    QRegExp text; // marks, number or word, arrows
    QRegExp leading; // the marks alone
    QRegExp trailing; // the arrows alone
};

const ParserPatterns &parserPatterns(const MarkTexts &leading, const QString &word,
                                     const MarkTexts &trailing)
{
    thread_local ParserPatterns cached;
    const QString source = QStringLiteral("^\\s*((?:%1)*)\\s*(%2)\\s*((?:%3)*)\\s*$")
                               .arg(leading.alternation, word, trailing.alternation);
    if (source != cached.source) {
        cached.source = source;
        cached.text = QRegExp(source, Qt::CaseSensitive, QRegExp::RegExp);
        cached.leading = QRegExp(leading.alternation, Qt::CaseSensitive, QRegExp::RegExp);
        cached.trailing = QRegExp(trailing.alternation, Qt::CaseSensitive, QRegExp::RegExp);
    }
    return cached;
}

const QColor markColor(255, 170, 0);

struct ColorRule
{
    kr::ResultFlag flag;
    ColorSetting setting;
    QColor defaultColor;
};

} // namespace

QString AnalysisResult::prefix(int mask) const
{
    const int flags = d->flags & mask;
    QString text;
    for (const Mark &mark : leadingMarks) {
        // Never both report marks: the lower one, earlier in the table, wins.
        const bool shadowed =
            mark.flag == kr::UpperReportLimitFlag && (flags & kr::LowerReportLimitFlag);
        if ((flags & mark.flag) && !shadowed)
            text += mark.text();
    }
    return text;
}

QString AnalysisResult::suffix() const
{
    // Never both arrows: the lower one wins.
    for (const Mark &mark : trailingMarks) {
        if (d->flags & mark.flag)
            return mark.text();
    }
    return QString();
}

QString AnalysisResult::toString(Format format, char numberFormat, int precision) const
{
    if (precision < 0) {
        numberFormat = 'g';
        precision = 6;
    }

    if (d->error < ValidNumber) {
        if (d->error == NotClotted || isNotClottedValue(d->value))
            return notClottedWord();
        if (d->error == NullResult)
            return QString();
        return noResultPlaceholder();
    }

    const bool full = format == FullText;
    QString text = prefix(full ? -1 : int(kr::LowerReportLimitFlag | kr::UpperReportLimitFlag));
    if (!text.isEmpty())
        text += QLatin1Char(' ');
    text += QString::number(d->value, numberFormat, precision);
    if (full) {
        const QString arrow = suffix();
        if (!arrow.isEmpty())
            text += QLatin1Char(' ') + arrow;
    }
    return text;
}

QVariant AnalysisResult::foregroundRole() const
{
    // Unlike the marks, the upper limits win here.
    static const ColorRule rules[] = {
        {kr::UpperReportLimitFlag, &Profile::color_of_upper_report, QColor(Qt::red)},
        {kr::LowerReportLimitFlag, &Profile::color_of_lower_report, QColor(Qt::red)},
        {kr::UpperMarkLimitFlag, &Profile::color_of_upper_mark, markColor},
        {kr::LowerMarkLimitFlag, &Profile::color_of_lower_mark, markColor},
    };
    Profile &profile = Profile::instance();
    if (d->error < ValidNumber)
        return QBrush(profile.color_of_null_result(QColor(Qt::red)), Qt::SolidPattern);
    for (const ColorRule &rule : rules) {
        if (d->flags & rule.flag)
            return QBrush((profile.*rule.setting)(rule.defaultColor), Qt::SolidPattern);
    }
    return QVariant();
}

QVariant AnalysisResult::toVariant() const
{
    return d->error >= ValidNumber ? QVariant(d->value) : QVariant();
}

AnalysisResult::AnalysisResult(const QString &text)
    : AnalysisResult()
{
    const MarkTexts leading = markTexts(leadingMarks);
    const MarkTexts trailing = markTexts(trailingMarks);
    const QString notClotted = notClottedWord();

    QString word = QStringLiteral("[+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?");
    if (!notClotted.isEmpty())
        word += QLatin1Char('|') + QRegExp::escape(notClotted);
    const ParserPatterns &patterns = parserPatterns(leading, word, trailing);
    const QRegExp &pattern = patterns.text;
    if (pattern.indexIn(text, 0) == -1)
        return;

    const int flags = scanMarks(pattern.cap(1), patterns.leading, leading, leadingMarks)
        | scanMarks(pattern.cap(3), patterns.trailing, trailing, trailingMarks);
    setFlags(flags);

    const QString number = pattern.cap(2);
    if (number == notClotted) {
        setValue(NotClotted, notClottedValue);
        return;
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (ok)
        setValue(errorCode(flags), value);
}

AnalysisResult AnalysisResult::fromString(const QString &text)
{
    return AnalysisResult(text);
}

bool AnalysisResult::operator==(const AnalysisResult &other) const
{
    if (d == other.d)
        return true;
    if (d->error != other.d->error)
        return false;
    if (d->error < ValidNumber)
        return true;
    return d->value == other.d->value;
}

// NaN on either side fails every IEEE comparison below, so no result is
// ever below or above a NaN, nor is a NaN result below or above anything.
static bool isBelow(const AnalysisResult &result, double value)
{
    switch (result.error()) {
    case AnalysisResult::ValidNumber:
        return result.value() < value;
    case AnalysisResult::LessThan:
        return result.value() <= value;
    default:
        return false;
    }
}

static bool isAbove(const AnalysisResult &result, double value)
{
    switch (result.error()) {
    case AnalysisResult::ValidNumber:
        return result.value() > value;
    case AnalysisResult::GreaterThan:
        return result.value() >= value;
    default:
        return false;
    }
}

bool operator<(const AnalysisResult &result, double value)
{
    return isBelow(result, value);
}

bool operator<(double value, const AnalysisResult &result)
{
    return isAbove(result, value);
}

bool operator>(const AnalysisResult &result, double value)
{
    return isAbove(result, value);
}

bool operator>(double value, const AnalysisResult &result)
{
    return isBelow(result, value);
}
