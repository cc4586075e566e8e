// Any bytes must read as a curve whose size the bytes bound, and what was
// read must survive a second round through the byte form unchanged.
#include "analysisresult.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const ClotCurve curve = ClotCurve::fromBuffer(bytes);
    if (qint64(curve.size()) > qint64(size) / 8)
        abort();
    const QByteArray written = curve.toBuffer();
    if (ClotCurve::fromBuffer(written).toBuffer() != written)
        abort();
    curve.toType(ClotCurve::OD);
    return 0;
}
