#include "variantconversion_p.h"

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

#include <QtCore/QHash>
#include <QtCore/QMap>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The types that Qt 5 compared by their numeric value, whatever the other's type.
bool isNumeric(int type)
{
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

bool isFloatingPoint(int type)
{
    return type == QMetaType::Double || type == QMetaType::Float;
}

bool isGuiType(int type)
{
    return type >= QMetaType::FirstGuiType && type <= QMetaType::LastGuiType;
}

// Qt 5 compared reals fuzzily, unless one of them is zero, infinite or NaN.
bool equalReals(double left, double right)
{
    if (left == right)
        return true;
    const auto fuzzy = [](double value) {
        const int kind = std::fpclassify(value);
        return kind == FP_NORMAL || kind == FP_SUBNORMAL;
    };
    return fuzzy(left) && fuzzy(right) && qFuzzyCompare(left, right);
}

// A real cast to qint64 as x86 casts it: out of range, NaN included, it
// gives the lowest qint64.
qint64 truncated(double value)
{
    const double limit = 9223372036854775808.0; // 2^63
    return value >= -limit && value < limit ? qint64(value) : std::numeric_limits<qint64>::min();
}

// Qt 5's qRound64(), which rounds halves up (-2.5 to -2, where Qt 6 gives
// -3), in the real's own precision, and wraps around out of range.
template<typename Real>
qint64 roundedAsQt5(Real value)
{
    if (value >= Real(0))
        return truncated(value + Real(0.5));
    const qint64 below = truncated(value - Real(1));
    return qint64(quint64(truncated(value - Real(below) + Real(0.5))) + quint64(below));
}

// Qt 5 converted a real to an integer or a boolean through qRound64().
qint64 integerAsQt5(const QVariant &real)
{
    return real.userType() == QMetaType::Float ? roundedAsQt5(real.toFloat())
                                               : roundedAsQt5(real.toDouble());
}

// Qt 5 read a byte array as a C string: the text ends at the first zero byte.
QString bytesAsText(const QVariant &bytes)
{
    return QString::fromUtf8(bytes.toByteArray().constData());
}

// Qt 6 turns text and bytes into a variant list as well; Qt 5 did not.
bool canConvert(const QVariant &variant, QMetaType type)
{
    const int from = variant.userType();
    const bool textToList = (from == QMetaType::QString || from == QMetaType::QByteArray)
        && type.id() == QMetaType::QVariantList;
    return !textToList && variant.canConvert(type);
}

// QVariant::convert() under Qt 5. A null variant (a NULL column, say)
// converts to nothing; any byte array converts to a colour and any text to a
// font, into the empty value when they name none.
bool convert(QVariant &variant, QMetaType type)
{
    if (variant.isNull() || !canConvert(variant, type))
        return false;
    const int from = variant.userType();
    const int to = type.id();
    if (from == QMetaType::QByteArray && to == QMetaType::QString) {
        variant = bytesAsText(variant);
        return true;
    }
    const bool alwaysConverts = (from == QMetaType::QByteArray && to == QMetaType::QColor)
        || (from == QMetaType::QString && to == QMetaType::QFont);
    return variant.convert(type) || alwaysConverts;
}

template<typename Associative>
bool equalValues(const Associative &left, const Associative &right)
{
    if (left.size() != right.size())
        return false;
    for (auto it = left.cbegin(); it != left.cend(); ++it) {
        const auto other = right.constFind(it.key());
        if (other == right.cend() || !VariantConversion::equal(it.value(), other.value()))
            return false;
    }
    return true;
}

// Containers compare their elements the Qt 5 way too.
bool equalSameType(const QVariant &left, const QVariant &right)
{
    switch (left.userType()) {
    case QMetaType::QVariantList: {
        const QVariantList a = left.toList(), b = right.toList();
        return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), VariantConversion::equal);
    }
    case QMetaType::QVariantMap:
        return equalValues(left.toMap(), right.toMap());
    case QMetaType::QVariantHash:
        return equalValues(left.toHash(), right.toHash());
    default:
        return left == right;
    }
}

} // namespace

namespace VariantConversion {

template<>
QString value<QString>(const QVariant &variant)
{
    if (variant.userType() == QMetaType::QByteArray)
        return bytesAsText(variant);
    // Qt 5 had no conversion from a GUI type (a colour, a font) to text.
    if (isGuiType(variant.userType()))
        return QString();
    return variant.value<QString>();
}

template<>
int value<int>(const QVariant &variant)
{
    // Only the low 32 bits of a real's 64-bit value, as under Qt 5.
    return isFloatingPoint(variant.userType()) ? int(integerAsQt5(variant)) : variant.value<int>();
}

template<>
bool value<bool>(const QVariant &variant)
{
    return isFloatingPoint(variant.userType()) ? integerAsQt5(variant) != 0 : variant.value<bool>();
}

bool equal(const QVariant &left, const QVariant &right)
{
    const int leftType = left.userType();
    const int rightType = right.userType();
    if (isNumeric(leftType) && isNumeric(rightType)) {
        if (isFloatingPoint(leftType) || isFloatingPoint(rightType))
            return equalReals(left.toDouble(), right.toDouble());
        return left == right;
    }
    if (leftType == rightType)
        return equalSameType(left, right);
    // The right value goes to the left one's type when it can, else the
    // left value to the right one's.
    const bool toLeft = canConvert(right, left.metaType());
    QVariant converted = toLeft ? right : left;
    const QVariant &other = toLeft ? left : right;
    return convert(converted, other.metaType()) && equalSameType(other, converted);
}

} // namespace VariantConversion

#else

bool VariantConversion::equal(const QVariant &left, const QVariant &right)
{
    return left == right;
}

#endif
