#ifndef ANALYSISRESULT_H
#define ANALYSISRESULT_H

#include "core_global.h"
#include "krtypes.h"

class QDataStream;

#include <QtCore/QByteArray>
#include <QtCore/QMetaType>
#include <QtCore/QSharedDataPointer>
#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtCore/QVector>

#include <utility>

/**
 * @file analysisresult.h
 * The value types of test results and clot curves.
 *
 * Everything here is a value: copy it, pass it to any thread. Only the calls
 * marked "settings store" read settings: their first use starts the settings
 * store (Profile::instance()), which reads settings.ini from the current
 * directory and shows a modal warning box for each problem it finds there, so
 * make that first call from the GUI thread after the application object
 * exists and settings.ini is in place (see Installation::layOut()).
 */

/**
 * The measured signal of one test: equally spaced point segments, addressed
 * by one running point index across all segments.
 *
 * Copies share the segments until one of them changes (implicit sharing).
 * Conversion to optical density is toType(); the stored byte form is
 * toBuffer()/fromBuffer(); rows of the table `curve` are save(), store(),
 * load() and latestVersion().
 *
 * @code
 * ClotCurve raw;
 * raw.append(0.0, 0.1, signal);              // x of the first point, x step, y values
 * const ClotCurve od = raw.toType(ClotCurve::OD);
 * const int version = ClotCurve::latestVersion(sampleNo, QStringLiteral("PT")) + 1;
 * if (!od.store(sampleNo, QStringLiteral("PT"), version))
 *     ;                                      // not stored; the warning line says why
 * @endcode
 *
 * @ingroup results
 */
class CORE_EXPORT ClotCurve
{
public:
    /** What the y values mean. */
    enum PointType {
        Raw, ///< raw signal values as recorded (the default)
        OD ///< optical density, made from a Raw curve by toType()
    };

    /** Points at x = start + j * step, for j from 0 to values.size() - 1. */
    struct Segment
    {
        double start; ///< x of the first point
        double step; ///< x distance between consecutive points
        QVector<double> values; ///< y of each point
    };

    ClotCurve();
    ClotCurve(const ClotCurve &other);
    ClotCurve &operator=(const ClotCurve &other);
    ~ClotCurve();

    PointType type() const { return PointType(m_type); }
    /** Sets the point type only; the values are not converted (see toType()). */
    void setType(PointType type) { m_type = type; }

    void append(const Segment &segment);
    void append(double start, double step, const QVector<double> &values);
    QVector<Segment> segments() const { return m_segments; }
    void setSegments(const QVector<Segment> &segments);

    /** True without segments; a curve whose segments hold no points is not empty. */
    bool isEmpty() const { return m_segments.isEmpty(); }
    /** The number of points of all segments. */
    int size() const;
    /** x of the point with the running index @p index; 0.0 outside the curve. */
    double x(int index) const;
    /** y of the point with the running index @p index; 0.0 outside the curve. */
    double y(int index) const;
    /**
     * Removes @p count points from the running index @p index on, across
     * segment borders; a segment left without points is taken out. The
     * points after the removed ones keep their segment's start and step, so
     * they move down in x. Negative arguments remove nothing.
     */
    void remove(int index, int count);
    /** A copy of the curve: same type, same segments. */
    ClotCurve simplified() const;

    /** Same point type and the same segments, value for value. */
    bool operator==(const ClotCurve &other) const;
    bool operator!=(const ClotCurve &other) const { return !(*this == other); }

    /**
     * A new curve of the type @p type. Only Raw to OD computes anything;
     * any other request returns an unchanged copy (an OD curve is never
     * converted back, and keeps its type).
     *
     * Raw to OD converts the first segment only: later segments keep their
     * raw values, as the stored curves do. Within the first segment (start,
     * step, n points):
     * - the baseline window starts at the point nearest x = 3.0 (index
     *   b = round((max(3.0, start) - start) / step), 0 if the segment starts
     *   later) and holds one unit of x, w = max(1, round(1.0 / step)) points,
     *   cut at the end of the segment;
     * - the baseline is the mean of the window's values; a segment that ends
     *   before the window is set to 0.0 throughout;
     * - the points before the window's middle (b + m / 2) become 0.0, every
     *   later value v becomes log10(baseline / max(v, DBL_EPSILON)), and a
     *   density above 5.0 is cut to 5.0. There is no lower bound: values above
     *   the baseline give negative densities.
     *
     * A step of 0, a NaN step or one too small to index the window zeroes the
     * segment.
     */
    ClotCurve toType(PointType type) const;

    /**
     * The stored byte form, as QDataStream writes it by default (big-endian):
     * the point type (int32), the segment count (uint32), then per segment
     * start and step (IEEE doubles), the value count (uint32) and the values.
     * An empty buffer, with a warning, for a curve whose byte form would not
     * fit into one (2 GiB).
     */
    QByteArray toBuffer() const;
    /**
     * Reads whatever the bytes hold: values the bytes end before are left
     * out, counts larger than the bytes are not believed, and a point type
     * other than Raw or OD gives an empty curve with a warning. Never fails
     * visibly; use the other overload to learn whether the bytes were good.
     */
    static ClotCurve fromBuffer(const QByteArray &buffer);
    /** As above; @p ok tells whether the bytes hold exactly one complete curve. */
    static ClotCurve fromBuffer(const QByteArray &buffer, bool *ok);

    /**
     * Writes one row (patientId, item, version, the byte form) into the table
     * `curve` of the data database; a curve without segments writes nothing.
     * A failed statement is reported as a warning line only. Settings store;
     * any thread (a thread other than the store's gets a connection of its
     * own).
     */
    void save(int patientId, const QString &item, int version) const;
    /**
     * As save(), and tells whether the row was written: false for a curve
     * without segments and for a failed statement (with its warning line).
     */
    bool store(int patientId, const QString &item, int version) const;
    /**
     * The curve saved under those keys (the last one saved, if several), or
     * an empty curve; @p ok tells whether a complete curve was found. A
     * failed statement writes a warning line. Settings store; any thread.
     */
    static ClotCurve load(int patientId, const QString &item, int version, bool *ok = nullptr);
    /**
     * The highest version saved for the patient and item, 0 when there is
     * none (or the statement failed, with a warning line). Settings store;
     * any thread.
     */
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

/**
 * One test result: a number (plain, below or above a limit) or the reason why
 * there is none, with flag bits, optical density and clot curve.
 *
 * Implicitly shared: copies share one block until one of them is changed; a
 * default-constructed result shares one static empty block. Reference counts
 * are atomic, so copies may live in different threads; one handle must not
 * be changed from two threads at once.
 *
 * Display text, colour and parsing (toString(), foregroundRole(),
 * fromString()) use the marks, words and colours configured in the settings
 * store, and start it on first use.
 *
 * @code
 * AnalysisResult result(12.5);
 * result.setFlags(kr::ManualInputFlag | kr::LowerReportLimitFlag | kr::UpperMarkLimitFlag);
 * result.flagsToError();                     // now LessThan
 * cell->setText(result.toString(AnalysisResult::FullText, 'f', 1)); // "M< 12.5 ↑"
 * cell->setForeground(result.foregroundRole().value<QBrush>());      // red
 *
 * bool ok = false;
 * const AnalysisResult typed = AnalysisResult::fromString(cell->text(), &ok);
 * @endcode
 *
 * @ingroup results
 */
class CORE_EXPORT AnalysisResult
{
public:
    /** The state of a result; codes from ValidNumber up carry a number. */
    enum ErrorCode {
        NullResult, ///< never set; "结果为空"
        InvalidValue, ///< "无效的值"
        UnknownError, ///< "未知错误"; also what setErrorText() sets
        NoStandardCurve, ///< "无标准曲线"
        InvalidStandardCurve, ///< "标准曲线无效"
        StandardCurveSettingError, ///< "标准曲线设置错误"
        InvalidCalculationMethod, ///< "无效的计算方法"
        MissingCalculationParameter, ///< "计算所需的参数不存在"
        NotClotted, ///< no clot formed (number 999.9)
        ValidNumber, ///< the result is value()
        LessThan, ///< the true result lies below value()
        GreaterThan ///< the true result lies above value()
    };

    /** What toString() prints besides the number. */
    enum Format {
        FullText, ///< every mark before the number, the arrow mark after it
        BriefText ///< only the report-limit marks
    };

    static const double notClottedValue; ///< 999.9
    static const double nullValue; ///< 0.0
    static const double invalidOD; ///< 0.0

    AnalysisResult();
    AnalysisResult(const AnalysisResult &other);
    /** A number, classified: about 0.0 is NullResult, about 999.9 NotClotted. */
    AnalysisResult(double value);
    AnalysisResult(ErrorCode error);
    /** The code and the number as given, not classified. */
    AnalysisResult(ErrorCode error, double value);
    /**
     * Reads the display text that toString() writes, with the marks and words
     * configured at the time of the call (settings store). Text that is none
     * of that gives the null result; see fromString(const QString &, bool *).
     */
    explicit AnalysisResult(const QString &text);
    /** The same as the constructor from text. */
    static AnalysisResult fromString(const QString &text);
    /**
     * As above; @p ok is false when the text is none of what toString()
     * writes: a number with marks, the not-clotted word, the placeholder of a
     * result without a number, or nothing at all (an empty cell).
     */
    static AnalysisResult fromString(const QString &text, bool *ok);
    ~AnalysisResult();
    AnalysisResult &operator=(const AnalysisResult &other);
    /** A moved-from result may only be assigned to or destroyed. */
    AnalysisResult(AnalysisResult &&other) noexcept;
    AnalysisResult &operator=(AnalysisResult &&other) noexcept
    {
        d.swap(other.d);
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

    /** error() is NullResult. */
    bool isNull() const;
    /** error() is ValidNumber, LessThan or GreaterThan: there is a number. */
    bool isValid() const;
    bool isValidNumber() const;
    /** Both handles share one block. */
    bool isCopyOf(const AnalysisResult &other) const { return d == other.d; }
    /** Whether flags() and @p flag have a bit in common. */
    bool testFlag(kr::ResultFlags flag) const;
    bool isManualTest() const;
    /** The free text if set, else the translated message of codes 0 to 7, else empty. */
    QString errorText() const;
    kr::ResultFlags errorFlags() const;

    /** LessThan gives LowerReportLimitFlag, GreaterThan UpperReportLimitFlag, others nothing. */
    static kr::ResultFlags errorFlags(ErrorCode error);
    /** GreaterThan if the upper report bit is set, else LessThan for the lower one, else
     * ValidNumber. */
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

    /** The marks of the flags set both here and in @p mask (settings store). */
    QString prefix(int mask = -1) const;
    /** The arrow mark, or empty (settings store). */
    QString suffix() const;
    /**
     * The cell text: marks, the number as QString::number() formats it, the
     * arrow; the not-clotted word, the placeholder "---.-" or nothing for a
     * result without a number (settings store; any thread). A changed setting
     * or language shows at the next call.
     */
    QString toString(Format format = FullText, char numberFormat = 'g', int precision = 6) const;
    /** A solid QBrush of the cell colour, or an invalid variant (settings store). */
    QVariant foregroundRole() const;
    /** The number as a double for codes from ValidNumber up, else invalid. */
    QVariant toVariant() const;

    /** Same code and, for codes with a number, the same number; nothing else counts. */
    bool operator==(const AnalysisResult &other) const;

private:
    friend CORE_EXPORT QDataStream &operator<<(QDataStream &out, const AnalysisResult &result);
    friend CORE_EXPORT QDataStream &operator>>(QDataStream &in, AnalysisResult &result);

    struct Data;
    QSharedDataPointer<Data> d;
    static Data shared_null;
};
Q_DECLARE_TYPEINFO(AnalysisResult, Q_MOVABLE_TYPE);

/**
 * @name Results compared with numbers
 * "Below" and "above" honour the qualified codes: a LessThan result lies
 * below its own number too, a GreaterThan result above it. Results without a
 * number, and NaN on either side, compare false.
 */
///@{
CORE_EXPORT bool operator<(const AnalysisResult &result, double value);
CORE_EXPORT bool operator<(double value, const AnalysisResult &result);
CORE_EXPORT bool operator>(const AnalysisResult &result, double value);
CORE_EXPORT bool operator>(double value, const AnalysisResult &result);
///@}

/**
 * @name Stream operators
 * A curve or a result in a QDataStream, for a QVariant that holds one to be
 * saved and loaded (drag and drop, item models, settings): a curve in its
 * stored byte form, a result in a versioned form of its own that carries
 * every field, its curve included. A form that cannot be read sets the
 * stream's status to ReadCorruptData.
 *
 * The library registers both types with the meta-type system by name when it
 * is loaded, with these operators and with operator==, so a result crosses a
 * queued connection (also a string-based one) and two variants holding equal
 * results compare equal.
 */
///@{
CORE_EXPORT QDataStream &operator<<(QDataStream &out, const ClotCurve &curve);
CORE_EXPORT QDataStream &operator>>(QDataStream &in, ClotCurve &curve);
CORE_EXPORT QDataStream &operator<<(QDataStream &out, const AnalysisResult &result);
CORE_EXPORT QDataStream &operator>>(QDataStream &in, AnalysisResult &result);
///@}

Q_DECLARE_METATYPE(ClotCurve)
Q_DECLARE_METATYPE(AnalysisResult)

#endif // ANALYSISRESULT_H
