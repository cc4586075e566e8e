#include "serialport_p.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <locale.h>
#include <map>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
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

namespace {

using Clock = std::chrono::steady_clock;
using Error = SerialPort::Error;

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

Error flushInput(int fd)
{
    return ioctl(fd, TCFLSH, TCIFLUSH) == 0 ? 0 : errno;
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

Error flushInput(int fd)
{
    return tcflush(fd, TCIFLUSH) == 0 ? 0 : errno;
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

// A terminal keeps what its last user left: line editing and echo, marked
// parity errors, output suspended with TCOOFF. A device that is no terminal
// has none of it.
Error takeOverTerminal(int fd)
{
    LineState state;
    if (const Error error = readLineState(fd, state))
        return error == ENOTTY ? 0 : error;
    makeBinary(state);
    if (const Error error = writeLineState(fd, state))
        return error;
    return resumeOutput(fd);
}

// The time-outs last set for each device in this process, by canonical path.
struct
{
    std::mutex mutex;
    std::map<std::string, SerialTimeouts> byDevice;
} rememberedTimeouts;

// A pipe that close() writes to, so that a transfer waiting in poll() wakes.
// Close-on-exec from the start: a child that another thread starts meanwhile
// must not inherit it.
Error openWakePipe(int ends[2])
{
    return pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0 ? 0 : errno;
}

void closeDescriptor(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// The kernel's pseudo-terminal slaves have no line: they always report
// 8 data bits without parity, whatever was asked.
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

// "\\.\name" names a device under /dev, unless the rest is itself a path.
std::string unixPath(const std::string &devicePath)
{
    const std::string prefix = "\\\\.\\";
    if (devicePath.compare(0, prefix.size(), prefix) != 0)
        return devicePath;
    const std::string rest = devicePath.substr(prefix.size());
    return rest.compare(0, 1, "/") == 0 ? rest : "/dev/" + rest;
}

// The end of a time limit of `milliseconds` from `start`.
Clock::time_point limitEnd(Clock::time_point start, std::int64_t milliseconds)
{
    // A limit beyond some weeks is none in practice, and keeps the clock's
    // arithmetic in range.
    const std::int64_t bounded = std::min<std::int64_t>(milliseconds, INT_MAX);
    return start + std::chrono::milliseconds(bounded);
}

// Milliseconds left until `end` for poll(): -1 without an end, 0 once passed.
int timeoutUntil(std::optional<Clock::time_point> end)
{
    if (!end)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*end - Clock::now()).count();
    return int(std::clamp<std::int64_t>(left, 0, INT_MAX));
}

std::optional<Clock::time_point> earlier(std::optional<Clock::time_point> a,
                                         std::optional<Clock::time_point> b)
{
    if (!a || !b)
        return a ? a : b;
    return std::min(*a, *b);
}

// Waits up to `timeout` milliseconds (-1: without end) until the port is ready
// for `event` or the time runs out (0). A signal ends the wait early, also 0:
// the caller tries again with the time then left, so that signals never
// stretch a time-out. Fails when the wait failed, the port is gone, or `wake`
// became readable (ECANCELED). A line that hung up is ready, with `hungUp`
// set: what it still holds can be read, and then the transfer must end
// rather than wait on a line that reports itself ready forever.
Error waitUntilReady(int fd, int wake, short event, int timeout, bool *hungUp)
{
    pollfd entries[] = {{fd, event, 0}, {wake, POLLIN, 0}};
    const int result = poll(entries, 2, timeout);
    if (result < 0)
        return errno == EINTR ? 0 : errno;
    if (entries[1].revents)
        return ECANCELED;
    if (result == 0)
        return 0;
    const short revents = entries[0].revents;
    if (revents & POLLNVAL)
        return EBADF;
    *hungUp = revents & (POLLHUP | POLLERR);
    return 0;
}

// Orders "ttyS2" before "ttyS10": by the name's stem, then by its number.
bool kernelOrder(const std::string &a, const std::string &b)
{
    const auto split = [](const std::string &name) {
        const std::size_t digits = name.find_last_not_of("0123456789") + 1;
        const std::string number = name.substr(digits);
        return std::make_pair(name.substr(0, digits),
                              number.empty() ? 0 : std::strtoull(number.c_str(), nullptr, 10));
    };
    return split(a) < split(b);
}

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

} // namespace

struct SerialPort::Data
{
    // Taken by open() and close() only: a port is released exactly once, and
    // never while another thread is still setting it up.
    std::mutex lifecycle;
    std::atomic<int> fd{-1};
    int wake[2] = {-1, -1}; // read and write end of the wake pipe
    bool framed = true; // the device keeps data bits and parity as set
    std::string device; // canonical path, under which the time-outs are kept
    SerialTransferGate gate;

    // Without a value, transfers wait on. Set while another thread may be in
    // a transfer, which takes a copy when it begins.
    std::optional<SerialTimeouts> timeouts;
    std::mutex timeoutsMutex;

    std::optional<SerialTimeouts> currentTimeouts()
    {
        std::lock_guard<std::mutex> lock(timeoutsMutex);
        return timeouts;
    }
    void setCurrentTimeouts(const std::optional<SerialTimeouts> &current)
    {
        std::lock_guard<std::mutex> lock(timeoutsMutex);
        timeouts = current;
    }

    void closeDescriptors()
    {
        closeDescriptor(fd.exchange(-1));
        closeDescriptor(std::exchange(wake[0], -1));
        closeDescriptor(std::exchange(wake[1], -1));
    }
    // Ends the transfers under way and lets the port go. With `lifecycle`.
    void release()
    {
        gate.close([this](std::uintptr_t) {
            // One byte wakes every poll(); a full pipe already does.
            const char byte = 0;
            [[maybe_unused]] const ssize_t written = ::write(wake[1], &byte, 1);
        });
        if (fd < 0)
            return;
        ioctl(fd, TIOCNXCL);
        closeDescriptors();
    }
};

SerialPort::SerialPort()
    : d(new Data)
{ }

SerialPort::~SerialPort()
{
    close();
}

SerialPort::Error SerialPort::open(const std::string &devicePath, bool read, bool write)
{
    const std::lock_guard<std::mutex> lock(d->lifecycle);
    d->release();
    // Access mode 3 is Linux's "ioctl only": a port opened for neither
    // reading nor writing can still be configured.
    const int access = read ? (write ? O_RDWR : O_RDONLY) : (write ? O_WRONLY : 3);
    // Non-blocking: opening does not wait for carrier, and every wait of a
    // transfer is a poll() against its own time-outs.
    const std::string path = unixPath(devicePath);
    d->fd = ::open(path.c_str(), access | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (d->fd < 0)
        return errno;
    const auto fail = [this](Error error) {
        d->closeDescriptors();
        return error;
    };
    // The lock keeps out every other opener; TIOCEXCL also those that do not
    // lock (except the administrator). The device need not be a terminal. A
    // port held elsewhere is busy, as EBUSY says; flock's EWOULDBLOCK would
    // suggest trying again at once.
    if (flock(d->fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (const Error error = takeOverTerminal(d->fd))
        return fail(error);
    if (const Error error = openWakePipe(d->wake))
        return fail(error);
    char device[PATH_MAX];
    if (!realpath(path.c_str(), device))
        return fail(errno);
    ioctl(d->fd, TIOCEXCL);
    d->framed = !isPseudoTerminal(d->fd);
    d->device = device;
    {
        std::lock_guard<std::mutex> lock(rememberedTimeouts.mutex);
        const auto known = rememberedTimeouts.byDevice.find(d->device);
        d->setCurrentTimeouts(known == rememberedTimeouts.byDevice.end()
                                  ? std::nullopt
                                  : std::optional<SerialTimeouts>(known->second));
    }
    d->gate.open();
    return 0;
}

void SerialPort::close()
{
    const std::lock_guard<std::mutex> lock(d->lifecycle);
    d->release();
}

void *SerialPort::handle() const
{
    return reinterpret_cast<void *>(std::intptr_t(d->fd));
}

SerialPort::Error SerialPort::setLineSettings(const SerialLineSettings &settings)
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return EBADF;
    LineState state;
    if (const Error error = readLineState(d->fd, state))
        return error;

    // A rate of 0 is no rate to run at: termios reads it as "hang up".
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8
        || settings.parity >= std::size(parityCodes) || settings.stopBits > 2)
        return EINVAL;
    const tcflag_t parity = parityCodes[settings.parity];
    if (settings.parity > 2 && !(parity & stickParity))
        return EINVAL;
    // As on a UART: 1.5 stop bits exist only with 5 data bits, and there
    // the stop-bit flag means 1.5, so 2 cannot be had.
    const bool fiveBits = settings.dataBits == 5;
    if ((settings.stopBits == 1 && !fiveBits) || (settings.stopBits == 2 && fiveBits))
        return EINVAL;

    if (!setRate(state, settings.baudRate))
        return EINVAL;
    state.c_cflag &= ~(CSIZE | parityMask | CSTOPB | CRTSCTS);
    state.c_cflag |= dataBitCodes[settings.dataBits - 5] | parity | CLOCAL | CREAD;
    if (settings.stopBits != 0)
        state.c_cflag |= CSTOPB;
    makeBinary(state);
    if (const Error error = writeLineState(d->fd, state))
        return error;

    // Setting succeeds when any part of the change took; read back what the
    // driver kept.
    LineState kept;
    if (const Error error = readLineState(d->fd, kept))
        return error;
    tcflag_t checked = CSIZE | parityMask | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    if (!d->framed)
        checked &= ~(CSIZE | PARENB);
    if (!sameRate(kept, state) || (kept.c_cflag & checked) != (state.c_cflag & checked)
        || (kept.c_iflag & (IXON | binaryInputOff)) || (kept.c_oflag & binaryOutputOff)
        || (kept.c_lflag & binaryLocalOff))
        return EINVAL;
    return 0;
}

SerialPort::Error SerialPort::setTimeouts(const SerialTimeouts &timeouts)
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return EBADF;
    d->setCurrentTimeouts(timeouts);
    std::lock_guard<std::mutex> lock(rememberedTimeouts.mutex);
    rememberedTimeouts.byDevice[d->device] = timeouts;
    return 0;
}

SerialPort::Error SerialPort::purgeInput()
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return EBADF;
    return flushInput(d->fd);
}

SerialPort::Error SerialPort::read(char *data, std::int64_t maxSize, std::int64_t *count)
{
    *count = 0;
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return EBADF;
    const std::optional<SerialTimeouts> timeouts = d->currentTimeouts();
    std::optional<Clock::time_point> total;
    if (timeouts)
        total = limitEnd(Clock::now(), timeouts->readTotal + maxSize);
    const std::uint32_t interval = timeouts ? timeouts->interval : 0;
    std::optional<Clock::time_point> pause; // the interval's end, from the first byte on
    bool hungUp = false;
    while (*count < maxSize) {
        const ssize_t got = ::read(d->fd, data + *count, std::size_t(maxSize - *count));
        if (got > 0) {
            *count += got;
            if (interval)
                pause = limitEnd(Clock::now(), interval);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got == 0)
            return EIO; // end of file: the line hung up
        if (errno != EAGAIN)
            return errno;
        if (hungUp)
            return EIO; // nothing left after a hang-up
        const int timeout = timeoutUntil(earlier(total, pause));
        if (timeout == 0)
            break;
        if (const Error error = waitUntilReady(d->fd, d->wake[0], POLLIN, timeout, &hungUp))
            return error;
    }
    return 0;
}

SerialPort::Error SerialPort::write(const char *data, std::int64_t size, std::int64_t *count)
{
    *count = 0;
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return EBADF;
    const std::optional<SerialTimeouts> timeouts = d->currentTimeouts();
    std::optional<Clock::time_point> total;
    if (timeouts)
        total = limitEnd(Clock::now(), timeouts->writeTotal + size);
    bool hungUp = false;
    while (*count < size) {
        const ssize_t put = ::write(d->fd, data + *count, std::size_t(size - *count));
        if (put > 0) {
            *count += put;
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN)
            return errno;
        if (hungUp)
            return EIO; // no room after a hang-up
        const int timeout = timeoutUntil(total);
        if (timeout == 0)
            break;
        if (const Error error = waitUntilReady(d->fd, d->wake[0], POLLOUT, timeout, &hungUp))
            return error;
    }
    return 0;
}

std::int64_t SerialPort::inputQueueSize() const
{
    const SerialTransferGate::Use use(d->gate);
    int queued = 0;
    if (!use || ioctl(d->fd, FIONREAD, &queued) != 0)
        return 0;
    return queued;
}

bool SerialPort::deviceGone(Error error) const
{
    // A terminal whose device went away is hung up: reads find the end of
    // the file (reported as EIO), everything else fails with EIO. A node
    // without its device fails to open with ENXIO or ENODEV (or EIO, for a
    // serial slot without its UART), and an unplugged adapter has no node.
    return error == EIO || error == ENXIO || error == ENODEV || error == ENOENT;
}

std::vector<std::string> SerialPort::portNames()
{
    // Every terminal the kernel has a driver for, except the UART slots that
    // serial-core registers without a UART behind them (port type 0), and
    // those without a device node here.
    const std::string sysfs = "/sys/class/tty/";
    std::vector<std::string> names;
    DIR *const entries = opendir(sysfs.c_str());
    if (!entries)
        return names;
    while (const dirent *entry = readdir(entries)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !exists(sysfs + name + "/device/driver"))
            continue;
        std::string type;
        if (std::ifstream(sysfs + name + "/type") >> type && type == "0")
            continue;
        if (exists("/dev/" + name))
            names.push_back(name);
    }
    closedir(entries);
    std::sort(names.begin(), names.end(), kernelOrder);
    return names;
}

std::string SerialPort::errorText(Error error)
{
    // The message comes in the language of the user's locale and in its
    // character set; the same locale with UTF-8 characters gives it in UTF-8.
    const locale_t current = duplocale(uselocale(locale_t(nullptr)));
    const locale_t utf8 = current ? newlocale(LC_CTYPE_MASK, "C.UTF-8", current) : nullptr;
    if (!utf8) {
        if (current)
            freelocale(current);
        return std::strerror(error);
    }
    const std::string text = strerror_l(error, utf8);
    freelocale(utf8);
    return text;
}
