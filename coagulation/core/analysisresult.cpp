#include "analysisresult.h"
#include "analysisresult_p.h"

#include <QtCore/QAtomicInt>
#include <QtCore/QCoreApplication>
#include <QtCore/QDataStream>

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

static const double kEpsilon = std::numeric_limits<double>::epsilon();

// The library's own reference keeps the empty block alive for every handle.
AnalysisResult::Data AnalysisResult::shared_null{AnalysisResult::Data::LibraryReference()};

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
{ }

AnalysisResult::AnalysisResult(const AnalysisResult &other) = default;
AnalysisResult::AnalysisResult(AnalysisResult &&other) noexcept = default;

AnalysisResult::AnalysisResult(double value)
    : d(new Data)
{
    setValue(value);
}

AnalysisResult::AnalysisResult(ErrorCode error)
    : AnalysisResult(error, 0.0)
{ }

AnalysisResult::AnalysisResult(ErrorCode error, double value)
    : d(new Data)
{
    d->error = error;
    d->value = value;
}

AnalysisResult::~AnalysisResult() = default;

AnalysisResult &AnalysisResult::operator=(const AnalysisResult &other) = default;

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
    d->error = error;
    d->value = value;
}

void AnalysisResult::setError(ErrorCode error)
{
    d->error = error;
    d->errorText.clear();
}

void AnalysisResult::setErrorText(const QString &text)
{
    d->errorText = text;
    d->error = UnknownError;
}

void AnalysisResult::clearErrorText()
{
    d->errorText.clear();
}

void AnalysisResult::flagsToError()
{
    if (d.constData()->error < ValidNumber)
        return; // nothing changes, nothing is copied
    d->error = errorCode(d->flags);
    d->errorText.clear();
}

void AnalysisResult::setFlags(int flags)
{
    d->flags = flags;
}

void AnalysisResult::setFlag(kr::ResultFlags flag, bool on)
{
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
    d->id = id;
}

void AnalysisResult::setCh(int ch)
{
    d->ch = ch;
}

void AnalysisResult::setVersion(int version)
{
    d->version = version;
}

void AnalysisResult::setRecordId(int recordId)
{
    d->recordId = recordId;
}

void AnalysisResult::setQcRecordId(int qcRecordId)
{
    d->qcRecordId = qcRecordId;
}

void AnalysisResult::setOD(double od)
{
    d->od = od;
}

void AnalysisResult::setCurve(const ClotCurve &curve)
{
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

// ---------------------------------------------------------------------------
// The stream form of a result: a format version, then every field in the
// order of the data block. Numbers go as their IEEE bits, so that neither
// the stream's floating-point precision nor its byte order can change them.

static const quint8 resultStreamVersion = 1;

static quint64 bitsOf(double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

static double fromBits(quint64 bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

QDataStream &operator<<(QDataStream &out, const AnalysisResult &result)
{
    const AnalysisResult::Data &data = *result.d;
    return out << resultStreamVersion << data.id << bitsOf(data.value) << bitsOf(data.od)
               << data.flags << data.error << data.errorText << data.curve << data.ch
               << data.version << data.recordId << data.qcRecordId;
}

QDataStream &operator>>(QDataStream &in, AnalysisResult &result)
{
    quint8 version = 0;
    in >> version;
    if (version != resultStreamVersion) {
        if (in.status() == QDataStream::Ok)
            in.setStatus(QDataStream::ReadCorruptData);
        result = AnalysisResult();
        return in;
    }
    AnalysisResult read(AnalysisResult::NullResult);
    AnalysisResult::Data &data = *read.d;
    quint64 value = 0, od = 0;
    in >> data.id >> value >> od >> data.flags >> data.error >> data.errorText >> data.curve
        >> data.ch >> data.version >> data.recordId >> data.qcRecordId;
    data.value = fromBits(value);
    data.od = fromBits(od);
    result = in.status() == QDataStream::Ok ? read : AnalysisResult();
    return in;
}

// By name, when the library is loaded: a string-based queued connection, a
// QVariant saved to a stream and one loaded from it all look the type up by
// its name. Qt 6 finds the stream operators and operator== by itself.
static void registerValueTypes()
{
    qRegisterMetaType<ClotCurve>("ClotCurve");
    qRegisterMetaType<AnalysisResult>("AnalysisResult");
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    qRegisterMetaTypeStreamOperators<ClotCurve>("ClotCurve");
    qRegisterMetaTypeStreamOperators<AnalysisResult>("AnalysisResult");
    QMetaType::registerEqualsComparator<ClotCurve>();
    QMetaType::registerEqualsComparator<AnalysisResult>();
#endif
}
Q_CONSTRUCTOR_FUNCTION(registerValueTypes)
