#include "storedvalue_p.h"

#include "corelogging_p.h"

#include <QtCore/QBuffer>
#include <QtCore/QDataStream>
#include <QtGui/QColor>

namespace {

// Opens every blob that holds a serialised variant. A byte array of the
// application's own that happens to start with these twelve bytes would be
// read as a variant; nothing else stored by the library or by SQL does.
const QByteArray &tag()
{
    static const QByteArray bytes("\0\x01QVariant\0\x01", 12);
    return bytes;
}

// One stream format for both Qt majors, so that a file written by one build
// reads back in the other.
constexpr QDataStream::Version streamVersion = QDataStream::Qt_5_15;

bool isScalar(int type)
{
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::QChar:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime:
    case QMetaType::QUrl:
    case QMetaType::QUuid:
        return true;
    default:
        return false;
    }
}

bool canStream(const QVariant &value)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return value.metaType().hasRegisteredDataStreamOperators();
#else
    // QVariant's own operator<< only warns about a type it cannot write.
    QBuffer scratch;
    scratch.open(QIODevice::WriteOnly);
    QDataStream probe(&scratch);
    return QMetaType::save(probe, value.userType(), value.constData());
#endif
}

QByteArray serialised(const QVariant &value)
{
    QByteArray blob = tag();
    QDataStream out(&blob, QIODevice::Append);
    out.setVersion(streamVersion);
    out << value;
    return blob;
}

bool deserialised(const QByteArray &blob, QVariant *value)
{
    QDataStream in(blob.mid(tag().size()));
    in.setVersion(streamVersion);
    in >> *value;
    return in.status() == QDataStream::Ok && in.atEnd();
}

} // namespace

namespace StoredValue {

QVariant encode(const QVariant &value)
{
    if (!value.isValid() || isScalar(value.userType()))
        return value;
    // Qt binds a colour that is not opaque as "#aarrggbb"; the table holds
    // "#rrggbb", which every reader of the file understands.
    if (value.userType() == QMetaType::QColor)
        return value.value<QColor>().name();
    if (!canStream(value))
        return QVariant();
    // A list or a map may hold a value Qt cannot write, which it leaves out
    // with a warning: only a blob that reads back to itself is stored.
    const QByteArray blob = serialised(value);
    QVariant back;
    if (!deserialised(blob, &back) || serialised(back) != blob)
        return QVariant();
    return blob;
}

QVariant decode(const QVariant &column)
{
    if (column.userType() != QMetaType::QByteArray)
        return column;
    const QByteArray bytes = column.toByteArray();
    if (!bytes.startsWith(tag()))
        return column;
    QVariant value;
    if (!deserialised(bytes, &value)) {
        qCWarning(lcCore, "Profile: a stored value could not be read back; kept as bytes");
        return column;
    }
    return value;
}

} // namespace StoredValue
