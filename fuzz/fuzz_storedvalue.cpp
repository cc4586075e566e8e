// Any bytes after the tag read as one value or as nothing, within memory the
// bytes bound; a value read writes back to a blob that reads again. Bytes
// without the tag are the column's own bytes and come back as they are.
#include "storedvalue_p.h"

#include <QtCore/QLoggingCategory>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Most inputs are damaged; the warnings would only slow the run down.
    QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QByteArray tag("\0\x01QVariant\0\x01", 12);
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));

    if (!bytes.startsWith(tag)) {
        const QVariant column = StoredValue::decode(bytes);
        if (column.userType() != QMetaType::QByteArray || column.toByteArray() != bytes)
            abort();
    }

    const QVariant value = StoredValue::decode(tag + bytes);
    if (!value.isValid())
        return 0;
    const QVariant stored = StoredValue::encode(value);
    if (stored.userType() == QMetaType::QByteArray && stored.toByteArray().startsWith(tag)
        && !StoredValue::decode(stored).isValid())
        abort();
    return 0;
}
