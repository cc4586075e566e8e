#ifndef ANALYSISRESULT_H
#define ANALYSISRESULT_H

#include "core_global.h"
#include "krglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QMetaType>
#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtCore/QVector>

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

    // A new curve of the target type; only Raw to OD converts anything.
    ClotCurve toType(PointType type) const;

    // The stored byte form: big-endian point type, segment count and segments
    // (start, step, value count, values), as QDataStream writes them.
    QByteArray toBuffer() const;
    static ClotCurve fromBuffer(const QByteArray &buffer);

    // Writes one row into the table "curve" of the data database.
    void save(int patientId, const QString &item, int version) const;

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
    ~AnalysisResult();
    AnalysisResult &operator=(const AnalysisResult &other);

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

Q_DECLARE_METATYPE(ClotCurve)
Q_DECLARE_METATYPE(AnalysisResult)

#endif // ANALYSISRESULT_H
