#ifndef ANALYSISRESULT_H
#define ANALYSISRESULT_H

#include "core_global.h"
#include "krglobal.h"

class QDataStream;

#include <QtCore/QByteArray>
#include <QtCore/QMetaType>
#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtCore/QVector>

#include <utility>

// The measured signal of one test: equally spaced point segments, addressed by
// one running point index across all segments.
class CORE_EXPORT ClotCurve
{
public:
    enum PointType { Raw, OD };

    struct Segment
    {
        double start; // x of the first point
        double step; // x distance between consecutive points
        QVector<double> values; // y of each point
    };

    ClotCurve();
    ClotCurve(const ClotCurve &other);
    ClotCurve &operator=(const ClotCurve &other);
    ~ClotCurve();

    PointType type() const { return PointType(m_type); }
    void setType(PointType type) { m_type = type; }

    void append(const Segment &segment);
    void append(double start, double step, const QVector<double> &values);
    QVector<Segment> segments() const { return m_segments; }
    void setSegments(const QVector<Segment> &segments);

    bool isEmpty() const { return m_segments.isEmpty(); }
    int size() const;
    double x(int index) const;
    double y(int index) const;
    void remove(int index, int count);
    ClotCurve simplified() const;

    // Same point type and the same segments, value for value.
    bool operator==(const ClotCurve &other) const;
    bool operator!=(const ClotCurve &other) const { return !(*this == other); }

    // A new curve of the target type; only Raw to OD converts anything.
    ClotCurve toType(PointType type) const;

    // The stored byte form: big-endian point type, segment count and segments
    // (start, step, value count, values), as QDataStream writes them.
    // An empty buffer, with a warning, for a curve whose byte form would not
    // fit into one (2 GiB).
    QByteArray toBuffer() const;
    // Reads whatever the bytes hold; missing values are not made up, and a
    // point type other than Raw or OD gives an empty curve with a warning.
    static ClotCurve fromBuffer(const QByteArray &buffer);
    // As above; *ok tells whether the bytes hold exactly one complete curve.
    static ClotCurve fromBuffer(const QByteArray &buffer, bool *ok);

    // Writes one row into the table "curve" of the data database (nothing for
    // a curve without segments); a failed statement is reported as a warning
    // line only.
    void save(int patientId, const QString &item, int version) const;
    // As save(), and tells whether the row was written: false for a curve
    // without segments and for a failed statement.
    bool store(int patientId, const QString &item, int version) const;
    // The curve saved under those keys (the last one saved, if several), or an
    // empty curve; *ok tells whether a complete curve was found.
    static ClotCurve load(int patientId, const QString &item, int version, bool *ok = nullptr);
    // The highest version saved for the patient and item, 0 when there is none.
    static int latestVersion(int patientId, const QString &item);

private:
    // Finds the segment holding global point `index`; `local` receives the
    // index within it. Returns null past the last point.
    const Segment *locate(int index, int *local) const;

    qint32 m_type;
    QVector<Segment> m_segments;
};
Q_DECLARE_TYPEINFO(ClotCurve::Segment, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(ClotCurve, Q_MOVABLE_TYPE);

// One test result: a number (plain, below or above a limit) or the reason why
// there is none, with flag bits, optical density and clot curve. Implicitly
// shared; a default-constructed result shares one static empty block.
class CORE_EXPORT AnalysisResult
{
public:
    enum ErrorCode {
        NullResult,
        InvalidValue,
        UnknownError,
        NoStandardCurve,
        InvalidStandardCurve,
        StandardCurveSettingError,
        InvalidCalculationMethod,
        MissingCalculationParameter,
        NotClotted,
        ValidNumber,
        LessThan,
        GreaterThan
    };

    enum Format {
        FullText, // every mark before the number, the arrow mark after it
        BriefText // only the report-limit marks
    };

    static const double notClottedValue;
    static const double nullValue;
    static const double invalidOD;

    AnalysisResult();
    AnalysisResult(const AnalysisResult &other);
    AnalysisResult(double value);
    AnalysisResult(ErrorCode error);
    AnalysisResult(ErrorCode error, double value);
    // Reads the display text that toString() writes, with the marks and words
    // configured at the time of the call.
    explicit AnalysisResult(const QString &text);
    static AnalysisResult fromString(const QString &text);
    // As above; *ok is false when the text is none of what toString() writes:
    // a number with marks, the not-clotted word, the placeholder of a result
    // without a number, or nothing at all (an empty cell).
    static AnalysisResult fromString(const QString &text, bool *ok);
    ~AnalysisResult();
    AnalysisResult &operator=(const AnalysisResult &other);
    // A moved-from result may only be assigned to or destroyed.
    AnalysisResult(AnalysisResult &&other) noexcept
        : d(std::exchange(other.d, nullptr))
    { }
    AnalysisResult &operator=(AnalysisResult &&other) noexcept
    {
        std::swap(d, other.d);
        return *this;
    }

    int id() const;
    double value() const;
    double od() const;
    int flags() const;
    ErrorCode error() const;
    ClotCurve curve() const;
    int ch() const;
    int version() const;
    int recordId() const;
    int qcRecordId() const;

    bool isNull() const;
    bool isValid() const;
    bool isValidNumber() const;
    bool isCopyOf(const AnalysisResult &other) const { return d == other.d; }
    bool testFlag(kr::ResultFlags flag) const;
    bool isManualTest() const;
    QString errorText() const;
    kr::ResultFlags errorFlags() const;

    static kr::ResultFlags errorFlags(ErrorCode error);
    static ErrorCode errorCode(int flags);
    static ErrorCode opposite(ErrorCode error);
    static bool isNullValue(double value);
    static bool isInvalidODValue(double value);
    static bool isNotClottedValue(double value);

    void setValue(double value);
    void setValue(ErrorCode error, double value);
    void setError(ErrorCode error);
    void setErrorText(const QString &text);
    void clearErrorText();
    void flagsToError();
    void setFlags(int flags);
    void setFlag(kr::ResultFlags flag, bool on = true);
    void setManualTest(bool manual);
    void setId(int id);
    void setCh(int ch);
    void setVersion(int version);
    void setRecordId(int recordId);
    void setQcRecordId(int qcRecordId);
    void setOD(double od);
    void setCurve(const ClotCurve &curve);

    // Display text and colour, from the texts and colours configured in the
    // settings store at the time of each call.
    QString prefix(int mask = -1) const;
    QString suffix() const;
    QString toString(Format format = FullText, char numberFormat = 'g', int precision = 6) const;
    QVariant foregroundRole() const;
    QVariant toVariant() const;

    bool operator==(const AnalysisResult &other) const;

private:
    friend CORE_EXPORT QDataStream &operator<<(QDataStream &out, const AnalysisResult &result);
    friend CORE_EXPORT QDataStream &operator>>(QDataStream &in, AnalysisResult &result);

    struct Data;
    void detach();
    // Detaches, then stores one field.
    template<typename T>
    void setField(T Data::*field, const T &value);

    Data *d;
    static Data shared_null;
};
Q_DECLARE_TYPEINFO(AnalysisResult, Q_MOVABLE_TYPE);

// A result compared with a plain number: "below" and "above" honour the
// qualified codes (a LessThan result lies below its own number, too).
CORE_EXPORT bool operator<(const AnalysisResult &result, double value);
CORE_EXPORT bool operator<(double value, const AnalysisResult &result);
CORE_EXPORT bool operator>(const AnalysisResult &result, double value);
CORE_EXPORT bool operator>(double value, const AnalysisResult &result);

// A curve or a result in a QDataStream, for a QVariant that holds one to be
// saved and loaded (drag and drop, QSettings, item models): a curve in its
// stored byte form, a result in a versioned form of its own that carries
// every field, its curve included. A form that cannot be read sets the
// stream's status to ReadCorruptData.
//
// The library registers both types with the meta-type system by name when it
// is loaded, with these operators and with operator==, so a result crosses a
// queued connection (also a string-based one) and two variants holding equal
// results compare equal.
CORE_EXPORT QDataStream &operator<<(QDataStream &out, const ClotCurve &curve);
CORE_EXPORT QDataStream &operator>>(QDataStream &in, ClotCurve &curve);
CORE_EXPORT QDataStream &operator<<(QDataStream &out, const AnalysisResult &result);
CORE_EXPORT QDataStream &operator>>(QDataStream &in, AnalysisResult &result);

Q_DECLARE_METATYPE(ClotCurve)
Q_DECLARE_METATYPE(AnalysisResult)

#endif // ANALYSISRESULT_H
