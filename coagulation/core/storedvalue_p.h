#ifndef STOREDVALUE_P_H
#define STOREDVALUE_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/QVariant>

// The form of a setting in the value column of the table `profile`.
//
// Numbers, text, bytes, dates and times go to the SQL driver as they are, and
// a colour as its name "#rrggbb", so the rows of those types are what every
// reader of the file already knows. The driver would bind any other type
// through its text form, which is empty for a list, a map or a geometry;
// those are stored as a tagged blob of their QDataStream form instead and
// read back into their own type.
namespace StoredValue {

// The variant to bind, or an invalid variant when the value has no stored form.
QVariant encode(const QVariant &value);
// The in-memory value of a column read back from the table, or of what
// fromColumn() kept of it. A damaged blob reads as an invalid variant, so that
// the caller's default applies, with a warning that names key when it is given.
QVariant decode(const QVariant &column, const QString &key = QString());

// A blob as start-up keeps it: its decoding waits for the first read of its
// key, so that start-up over thousands of rows stays quick.
struct Undecoded
{
    QByteArray bytes;
};
// The column as it is, or a blob as Undecoded.
QVariant fromColumn(const QVariant &column);
bool isUndecoded(const QVariant &value);

} // namespace StoredValue

Q_DECLARE_METATYPE(StoredValue::Undecoded)

#endif // STOREDVALUE_P_H
