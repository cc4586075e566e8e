#ifndef VARIANTCONVERSION_P_H
#define VARIANTCONVERSION_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/QVariant>

// QVariant's conversion and equality with the results of Qt 5, in both builds.
// The stored settings, the typed getters' callers and the property tree's
// change notifications were written against them, and Qt 6 changed a few: a
// colour read as text, a real read as an integer or a boolean, a byte array
// with a zero byte read as text, and comparisons of reals and of two
// different types.
namespace VariantConversion {

// The value as T, as QVariant::value<T>() gives it under Qt 5: T unchanged,
// converted when a conversion exists, the empty T otherwise.
template<typename T>
T value(const QVariant &variant)
{
    return variant.value<T>();
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
template<>
QString value<QString>(const QVariant &variant);
template<>
int value<int>(const QVariant &variant);
template<>
bool value<bool>(const QVariant &variant);
#endif

// QVariant equality under Qt 5: numbers compare by value; two other types
// compare after converting the right value to the left one's type (or, when
// that conversion does not exist, the left to the right one's type).
bool equal(const QVariant &left, const QVariant &right);

} // namespace VariantConversion

#endif // VARIANTCONVERSION_P_H
