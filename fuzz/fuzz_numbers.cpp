// Volume texts for any volume and kind, and the CRC against a bitwise
// reference over the same bytes.
#include "krglobal.h"

#include <cstdlib>
#include <cstring>

static unsigned short bitwiseCrc(const uint8_t *data, size_t size)
{
    unsigned crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= unsigned(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
    }
    return static_cast<unsigned short>(crc);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (crc16(data, int(size)) != bitwiseCrc(data, size))
        abort();
    if (size >= 9) {
        int volume, kind;
        std::memcpy(&volume, data, sizeof volume);
        std::memcpy(&kind, data + 4, sizeof kind);
        const bool detailed = data[8] & 1;
        if (humanReadableVolume(volume).isEmpty())
            abort();
        if (humanReadableVolume(kind, volume, detailed).isEmpty())
            abort();
    }
    return 0;
}
