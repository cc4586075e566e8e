// A ratio text never crashes, and a text without a ratio always reads 0 with
// the flag cleared.
#include "krglobal.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    bool ok = true;
    const double value = fraction(text, &ok);
    if (!ok && value != 0.0)
        abort();
    if (fraction(text, nullptr) != value && value == value)
        abort();
    return 0;
}
