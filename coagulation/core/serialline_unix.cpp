#include "serialline_unix_p.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#ifdef __linux__
// The kernel's terminal interface rather than the C library's: its termios2
// carries the rate as a number, so that the driver is asked for any rate and
// not only for those with a B constant.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/sysmacros.h>
#else
#include <termios.h>
#endif

using SerialLine::Error;

namespace {

const struct
{
    std::uint32_t rate;
    speed_t code;
} speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

std::optional<speed_t> speedCode(std::uint32_t rate)
{
    const auto entry = std::find_if(std::begin(speeds), std::end(speeds),
                                    [rate](const auto &known) { return known.rate == rate; });
    if (entry == std::end(speeds))
        return std::nullopt;
    return entry->code;
}

#ifdef __linux__

using LineState = termios2;

Error readLineState(int fd, LineState &state)
{
    return ioctl(fd, TCGETS2, &state) == 0 ? 0 : errno;
}

Error writeLineState(int fd, const LineState &state)
{
    return ioctl(fd, TCSETS2, &state) == 0 ? 0 : errno;
}

Error resumeOutput(int fd)
{
    return ioctl(fd, TCXONC, TCOON) == 0 ? 0 : errno;
}

// A rate with a B constant goes as that constant, as the kernel's own drivers
// report it, so that programs that know only those read it back; any other
// rate goes as the number, for the driver to take or refuse.
bool setRate(LineState &state, std::uint32_t rate)
{
    // Input bits of 0: the input runs at the output's rate.
    state.c_cflag &= ~(CBAUD | CBAUD << IBSHIFT);
    state.c_cflag |= speedCode(rate).value_or(BOTHER);
    state.c_ispeed = rate;
    state.c_ospeed = rate;
    return true;
}

bool sameRate(const LineState &a, const LineState &b)
{
    return a.c_ispeed == b.c_ispeed && a.c_ospeed == b.c_ospeed;
}

#else

using LineState = termios;

Error readLineState(int fd, LineState &state)
{
    return tcgetattr(fd, &state) == 0 ? 0 : errno;
}

Error writeLineState(int fd, const LineState &state)
{
    return tcsetattr(fd, TCSANOW, &state) == 0 ? 0 : errno;
}

Error resumeOutput(int fd)
{
    return tcflow(fd, TCOON) == 0 ? 0 : errno;
}

// Without a way to name any other rate, only those with a B constant.
bool setRate(LineState &state, std::uint32_t rate)
{
    const std::optional<speed_t> code = speedCode(rate);
    return code && cfsetispeed(&state, *code) == 0 && cfsetospeed(&state, *code) == 0;
}

bool sameRate(const LineState &a, const LineState &b)
{
    return cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

#endif

const tcflag_t dataBitCodes[] = {CS5, CS6, CS7, CS8}; // for 5 to 8 data bits

#ifdef CMSPAR
const tcflag_t stickParity = CMSPAR;
#else
const tcflag_t stickParity = 0;
#endif

// Indexed by Serial::Parity; where the system has no stick parity, mark and
// space are refused.
const tcflag_t parityCodes[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | stickParity,
                                PARENB | stickParity};
const tcflag_t parityMask = PARENB | PARODD | stickParity;

// What binary transfer switches off: everything that rewrites, adds or drops
// received bytes (PARMRK doubles every 0xff). The rest of each flag word stays
// with the driver: break handling, parity check and what becomes of a byte
// with a parity error, input XON/XOFF, hang-up on close.
const tcflag_t binaryInputOff = INLCR | IGNCR | ICRNL | ISTRIP | PARMRK
#ifdef IUCLC
    | IUCLC
#endif
    ;
const tcflag_t binaryOutputOff = OPOST;
const tcflag_t binaryLocalOff = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;

// Binary transfer on a terminal, with output XON/XOFF off so that those two
// bytes arrive as data. Rate, frame and the rest stay as the driver has them.
void makeBinary(LineState &state)
{
    state.c_iflag &= ~(IXON | binaryInputOff);
    state.c_oflag &= ~binaryOutputOff;
    state.c_lflag &= ~binaryLocalOff;
    // One byte makes the port readable to poll(); the time-outs do the rest.
    state.c_cc[VMIN] = 1;
    state.c_cc[VTIME] = 0;
}

} // namespace

namespace SerialLine {

// A terminal keeps what its last user left: line editing and echo, marked
// parity errors, output suspended with TCOOFF. A device that is no terminal
// has none of it.
Error takeOver(int fd)
{
    LineState state;
    if (const Error error = readLineState(fd, state))
        return error == ENOTTY ? 0 : error;
    makeBinary(state);
    if (const Error error = writeLineState(fd, state))
        return error;
    return resumeOutput(fd);
}

Error apply(int fd, const SerialLineSettings &settings, bool framed)
{
    LineState state;
    if (const Error error = readLineState(fd, state))
        return error;

    // A rate of 0 is no rate to run at: termios reads it as "hang up". With
    // 5 data bits the stop-bit flag means 1.5.
    if (!isUartFrame(settings))
        return EINVAL;
    const tcflag_t parity = parityCodes[settings.parity];
    if (settings.parity > 2 && !(parity & stickParity))
        return EINVAL;

    if (!setRate(state, settings.baudRate))
        return EINVAL;
    state.c_cflag &= ~(CSIZE | parityMask | CSTOPB | CRTSCTS);
    state.c_cflag |= dataBitCodes[settings.dataBits - 5] | parity | CLOCAL | CREAD;
    if (settings.stopBits != 0)
        state.c_cflag |= CSTOPB;
    makeBinary(state);
    if (const Error error = writeLineState(fd, state))
        return error;

    // Setting succeeds when any part of the change took; read back what the
    // driver kept.
    LineState kept;
    if (const Error error = readLineState(fd, kept))
        return error;
    tcflag_t checked = CSIZE | parityMask | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    if (!framed)
        checked &= ~(CSIZE | PARENB);
    if (!sameRate(kept, state) || (kept.c_cflag & checked) != (state.c_cflag & checked)
        || (kept.c_iflag & (IXON | binaryInputOff)) || (kept.c_oflag & binaryOutputOff)
        || (kept.c_lflag & binaryLocalOff))
        return EINVAL;
    return 0;
}

#ifdef __linux__
Error flushInput(int fd)
{
    return ioctl(fd, TCFLSH, TCIFLUSH) == 0 ? 0 : errno;
}
#else
Error flushInput(int fd)
{
    return tcflush(fd, TCIFLUSH) == 0 ? 0 : errno;
}
#endif

bool isPseudoTerminal(int fd)
{
#ifdef __linux__
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned int major = ::major(info.st_rdev);
    return major >= 136 && major <= 143; // the Unix 98 pty slave majors
#else
    (void)fd;
    return false;
#endif
}

} // namespace SerialLine
