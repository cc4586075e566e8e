#include "storedvalue_p.h"

#include "corelogging_p.h"

#include <QtCore/QBuffer>
#include <QtCore/QDataStream>
#include <QtCore/QTimeZone>
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

// Type ids as a Qt_5_15 stream holds them. Both Qt majors write the gui
// types with Qt 5's numbers there, and a type of the application's own as the
// user-type marker followed by its name.
enum StreamType : quint32 {
    StreamColor = 67,
    StreamPolygon = 71,
    StreamTransform = 80,
    StreamMatrix4x4 = 81,
    StreamVector2D = 82,
    StreamVector3D = 83,
    StreamVector4D = 84,
    StreamQuaternion = 85,
    StreamPolygonF = 86,
    StreamUserType = 1024,
};

// Reading recurses once per level of nesting, on whatever stack the store is
// read from; script results, the deepest values an application has, stop at
// 1000 levels.
constexpr int maxDepth = 1024;

// The bytes of a type of fixed size in the stream, or 0. Floats are written
// as doubles at the stream's default precision.
int fixedSize(quint32 type)
{
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return 1;
    case QMetaType::QChar:
    case QMetaType::Short:
    case QMetaType::UShort:
        return 2;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::QTime:
        return 4;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QDate:
    case QMetaType::QSize:
    case QMetaType::QPoint:
        return 8;
    case QMetaType::QRect:
    case QMetaType::QLine:
    case QMetaType::QSizeF:
    case QMetaType::QPointF:
    case QMetaType::QUuid:
    case StreamVector2D:
        return 16;
    case StreamVector3D:
        return 24;
    case QMetaType::QRectF:
    case QMetaType::QLineF:
    case StreamVector4D:
    case StreamQuaternion:
        return 32;
    case StreamTransform:
        return 72;
    case StreamMatrix4x4:
        return 128;
    default:
        return 0;
    }
}

// A zone is read back by its id, which names a file of the system's zone
// database (a fifo there would block the read for good): only the characters
// of real ids, and no way out of the database.
bool isZoneId(const QString &id)
{
    if (id.startsWith(QLatin1Char('/')) || id.contains(QLatin1String("..")))
        return false;
    for (const QChar c : id) {
        const bool ascii = c.unicode() < 128;
        if (!(ascii && c.isLetterOrNumber()) && !QStringLiteral("/_+-:.").contains(c))
            return false;
    }
    return true;
}

// Goes through a stream as QDataStream would read it, building nothing, and
// accepts it only if every count and length in it fits in the bytes that
// follow. QDataStream reserves a list's claimed size before it reads the
// elements, so that a damaged count of four bytes asks for gigabytes.
class StreamWalk
{
public:
    explicit StreamWalk(const QByteArray &payload)
        : m_in(payload)
    {
        m_in.setVersion(streamVersion);
    }

    // Whether the bytes are one variant and nothing more.
    bool wholeVariant() { return variant(0) && m_in.atEnd(); }

private:
    bool ok() const { return m_in.status() == QDataStream::Ok; }
    qint64 left() const { return m_in.device()->bytesAvailable(); }
    bool skip(qint64 bytes) { return bytes <= left() && m_in.skipRawData(int(bytes)) == bytes; }
    // A count of elements, each of which takes at least minimum bytes.
    bool count(quint32 *n, qint64 minimum)
    {
        m_in >> *n;
        return ok() && *n * minimum <= left();
    }

    bool variant(int depth);
    bool value(quint32 type, int depth);
    bool string(QString *text = nullptr);
    bool bytes(QByteArray *data = nullptr);
    bool dateTime();
    bool timeZone();
    bool userValue(const QByteArray &name);

    QDataStream m_in;
};

bool StreamWalk::variant(int depth)
{
    if (depth > maxDepth)
        return false;
    quint32 type;
    qint8 isNull;
    m_in >> type >> isNull;
    if (!ok())
        return false;
    if (type != StreamUserType)
        return value(type, depth);
    QByteArray name;
    return bytes(&name) && userValue(name);
}

bool StreamWalk::value(quint32 type, int depth)
{
    if (const int size = fixedSize(type))
        return skip(size);
    quint32 n = 0;
    switch (type) {
    case QMetaType::UnknownType: // an invalid variant is its header alone
        return true;
    case QMetaType::QString:
    case QMetaType::QLocale:
        return string();
    case QMetaType::QByteArray:
    case QMetaType::QUrl:
        return bytes();
    case QMetaType::QRegularExpression:
        return string() && skip(4);
    case QMetaType::QBitArray:
        m_in >> n;
        return ok() && skip((qint64(n) + 7) / 8);
    case QMetaType::QDateTime:
        return dateTime();
    case StreamColor: {
        // Its model, then five 16-bit fields; a model Qt does not know makes
        // no colour.
        qint8 colourModel;
        m_in >> colourModel;
        return ok() && colourModel >= QColor::Invalid && colourModel <= QColor::ExtendedRgb && skip(10);
    }
    case StreamPolygon:
        return count(&n, 8) && skip(qint64(n) * 8);
    case StreamPolygonF:
        return count(&n, 16) && skip(qint64(n) * 16);
    case QMetaType::QVariant:
        return variant(depth + 1);
    case QMetaType::QStringList:
        if (!count(&n, 4))
            return false;
        for (; n > 0; --n) {
            if (!string())
                return false;
        }
        return true;
    case QMetaType::QByteArrayList:
        if (!count(&n, 4))
            return false;
        for (; n > 0; --n) {
            if (!bytes())
                return false;
        }
        return true;
    case QMetaType::QVariantList:
        if (!count(&n, 5)) // an invalid variant is the shortest
            return false;
        for (; n > 0; --n) {
            if (!variant(depth + 1))
                return false;
        }
        return true;
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        if (!count(&n, 4 + 5))
            return false;
        for (; n > 0; --n) {
            if (!string() || !variant(depth + 1))
                return false;
        }
        return true;
    default:
        // Fonts, images, JSON and the like: where they end and what they
        // claim is theirs to know. encode() stores none of them either.
        return false;
    }
}

bool StreamWalk::string(QString *text)
{
    quint32 size;
    m_in >> size;
    if (!ok())
        return false;
    if (size == 0xffffffff) // a null string
        return true;
    if (size % 2 || size > left())
        return false;
    if (!text)
        return skip(size);
    // Now that the length is known to fit, QDataStream reads the string.
    m_in.device()->seek(m_in.device()->pos() - 4);
    m_in >> *text;
    return ok();
}

bool StreamWalk::bytes(QByteArray *data)
{
    quint32 size;
    m_in >> size;
    if (!ok())
        return false;
    if (size == 0xffffffff) // a null byte array
        return true;
    if (size > left())
        return false;
    if (!data)
        return skip(size);
    data->resize(int(size));
    return m_in.readRawData(data->data(), int(size)) == int(size);
}

bool StreamWalk::dateTime()
{
    // The date and the time, then whether it is local, UTC, at an offset or
    // in a zone.
    qint8 colourModel;
    if (!skip(8 + 4))
        return false;
    m_in >> colourModel;
    if (!ok())
        return false;
    switch (colourModel) {
    case Qt::LocalTime:
    case Qt::UTC:
        return true;
    case Qt::OffsetFromUTC:
        return skip(4);
    case Qt::TimeZone:
        return timeZone();
    default:
        return false;
    }
}

bool StreamWalk::timeZone()
{
    const qint64 start = m_in.device()->pos();
    QString id;
    if (!string(&id))
        return false;
    // A zone made from an offset: its id, offset, name, abbreviation,
    // territory and comment.
    if (id == QLatin1String("OffsetFromUtc")
        && !(string(&id) && skip(4) && string() && string() && skip(4) && string()))
        return false;
    if (!isZoneId(id))
        return false;
    // Qt writes a date-time in an invalid zone by dereferencing the zone's
    // missing data: only a zone that reads back valid is accepted.
    const qint64 end = m_in.device()->pos();
    m_in.device()->seek(start);
    QTimeZone zone;
    m_in >> zone;
    return ok() && m_in.device()->pos() == end && zone.isValid();
}

// A type of the application's own is read by its own stream operator, which
// answers for what it reads; the walk goes on where that stopped. Qt's
// container templates are refused: they reserve whatever count the bytes
// claim, for elements the walk cannot bound.
bool StreamWalk::userValue(const QByteArray &name)
{
    // As written: the type's name and one zero byte.
    if (name.size() < 2 || name.indexOf('\0') != name.size() - 1 || name.contains('<'))
        return false;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QMetaType type = QMetaType::fromName(QByteArrayView(name.constData(), name.size() - 1));
    if (type.id() < QMetaType::User || !type.hasRegisteredDataStreamOperators())
        return false;
    void *value = type.create();
    if (!value)
        return false;
    const bool read = type.load(m_in, value);
    type.destroy(value);
#else
    const int type = QMetaType::type(name.constData());
    if (type < QMetaType::User)
        return false;
    void *value = QMetaType::create(type);
    if (!value)
        return false;
    const bool read = QMetaType::load(m_in, type, value);
    QMetaType::destroy(type, value);
#endif
    return read && ok();
}

// Only a blob the walk accepts goes to QDataStream, which then reserves no
// more than the bytes can hold.
bool deserialised(const QByteArray &blob, QVariant *value)
{
    const QByteArray payload =
        QByteArray::fromRawData(blob.constData() + tag().size(), blob.size() - tag().size());
    if (!StreamWalk(payload).wholeVariant())
        return false;
    QDataStream in(payload);
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

QVariant fromColumn(const QVariant &column)
{
    if (column.userType() != QMetaType::QByteArray)
        return column;
    const QByteArray bytes = column.toByteArray();
    return bytes.startsWith(tag()) ? QVariant::fromValue(Undecoded{bytes}) : column;
}

bool isUndecoded(const QVariant &value)
{
    return value.userType() == qMetaTypeId<Undecoded>();
}

QVariant decode(const QVariant &column, const QString &key)
{
    const bool undecoded = isUndecoded(column);
    if (!undecoded && column.userType() != QMetaType::QByteArray)
        return column;
    const QByteArray bytes = undecoded ? column.value<Undecoded>().bytes : column.toByteArray();
    if (!bytes.startsWith(tag()))
        return column;
    QVariant value;
    if (!deserialised(bytes, &value)) {
        // Invalid, so that the caller's default applies.
        qCWarning(lcCore).noquote()
            << QStringLiteral("Profile: the stored value%1 is damaged and reads as the default "
                              "(%2 bytes)")
                   .arg(key.isEmpty() ? QString() : QStringLiteral(" of \"%1\"").arg(key),
                        QString::number(bytes.size()));
        return QVariant();
    }
    return value;
}

} // namespace StoredValue
