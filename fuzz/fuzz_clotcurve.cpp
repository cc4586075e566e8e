// Any bytes must read as a curve whose size the bytes bound, and what was
// read must survive a second round through the byte form unchanged. Bytes
// reported as one complete curve are exactly that curve's byte form.
#include "analysisresult.h"

#include <QtCore/QLoggingCategory>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Most inputs start with no known point type; the warning would only
    // slow the run down.
    QLoggingCategory::setFilterRules(QStringLiteral("coagulation.core.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    bool complete = false;
    const ClotCurve curve = ClotCurve::fromBuffer(bytes, &complete);
    if (qint64(curve.size()) > qint64(size) / 8)
        abort();
    const QByteArray written = curve.toBuffer();
    if (complete != (written == bytes))
        abort();
    bool again = false;
    if (ClotCurve::fromBuffer(written, &again).toBuffer() != written || !again)
        abort();
    curve.toType(ClotCurve::OD);
    return 0;
}
