#ifndef PEERPROTOCOL_H
#define PEERPROTOCOL_H

// How the Windows test under Wine reaches the far end of its lines: it writes
// one request per line to its standard output, "peer: <verb> <line>
// <arguments>", and serialport-peer answers with one line on its standard
// input, "ok" and the results, or anything else for a failure. The verbs are
// those of Line, the first one "line" (no line number) for a new line; bytes
// travel in hexadecimal. Every other line of the output, a test log, the peer
// passes on to its own.

#include <string>

constexpr char peerRequest[] = "peer: ";

inline std::string toHex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

inline std::string fromHex(const std::string &hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

#endif // PEERPROTOCOL_H
