#include "analysisresult.h"

#include <QtCore/QAtomicInt>
#include <QtCore/QCoreApplication>

#include <cmath>
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

static const double kEpsilon = std::numeric_limits<double>::epsilon();

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
    detach();
    d->flags = flags;
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
    detach();
    d->id = id;
}

void AnalysisResult::setCh(int ch)
{
    detach();
    d->ch = ch;
}

void AnalysisResult::setVersion(int version)
{
    detach();
    d->version = version;
}

void AnalysisResult::setRecordId(int recordId)
{
    detach();
    d->recordId = recordId;
}

void AnalysisResult::setQcRecordId(int qcRecordId)
{
    detach();
    d->qcRecordId = qcRecordId;
}

void AnalysisResult::setOD(double od)
{
    detach();
    d->od = od;
}

void AnalysisResult::setCurve(const ClotCurve &curve)
{
    detach();
    d->curve = curve;
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
