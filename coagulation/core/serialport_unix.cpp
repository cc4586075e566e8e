#include "serialport_p.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <unistd.h>

namespace {

// Keeps errno across clean-up calls made after a failure.
class ErrnoKeeper
{
public:
    ErrnoKeeper()
        : m_saved(errno)
    { }
    ~ErrnoKeeper() { errno = m_saved; }

private:
    int m_saved;
};

bool fail(int error)
{
    errno = error;
    return false;
}

const struct
{
    quint32 rate;
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

// What binary transfer switches off. The rest of each flag word stays with
// the driver: break and parity-error handling, parity check, input XON/XOFF,
// hang-up on close.
const tcflag_t binaryInputOff = INLCR | IGNCR | ICRNL | ISTRIP
#ifdef IUCLC
    | IUCLC
#endif
    ;
const tcflag_t binaryOutputOff = OPOST;
const tcflag_t binaryLocalOff = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;

// Binary transfer on a terminal, with output XON/XOFF off so that those two
// bytes arrive as data. Rate, frame and the rest stay as the driver has them.
void makeBinary(termios &state)
{
    state.c_iflag &= ~(IXON | binaryInputOff);
    state.c_oflag &= ~binaryOutputOff;
    state.c_lflag &= ~binaryLocalOff;
    // One byte makes the port readable to poll(); the time-outs do the rest.
    state.c_cc[VMIN] = 1;
    state.c_cc[VTIME] = 0;
}

// A terminal keeps the line discipline of its last user, who may have left it
// editing lines and echoing; a device that is no terminal has none to change.
bool switchToBinary(int fd)
{
    termios state;
    if (tcgetattr(fd, &state) != 0)
        return errno == ENOTTY;
    makeBinary(state);
    return tcsetattr(fd, TCSANOW, &state) == 0;
}

// The time-outs last set for each device in this process, by canonical path.
struct
{
    std::mutex mutex;
    std::map<std::string, SerialTimeouts> byDevice;
} rememberedTimeouts;

// A pipe that close() writes to, so that a transfer waiting in poll() wakes.
bool openWakePipe(int ends[2])
{
    if (pipe(ends) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        fcntl(ends[i], F_SETFD, FD_CLOEXEC);
        fcntl(ends[i], F_SETFL, O_NONBLOCK);
    }
    return true;
}

void closeDescriptor(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The kernel's pseudo-terminal slaves have no line: they always report
// 8 data bits without parity, whatever was asked.
bool isPseudoTerminal(int fd)
{
#ifdef Q_OS_LINUX
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned int major = ::major(info.st_rdev);
    return major >= 136 && major <= 143; // the Unix 98 pty slave majors
#else
    Q_UNUSED(fd)
    return false;
#endif
}

// "\\.\name" names a device under /dev, unless the rest is itself a path.
QByteArray devicePath(const QString &name)
{
    static const QString devicePrefix = QStringLiteral("\\\\.\\");
    if (!name.startsWith(devicePrefix))
        return QFile::encodeName(name);
    const QString rest = name.mid(devicePrefix.size());
    if (rest.startsWith(QLatin1Char('/')))
        return QFile::encodeName(rest);
    return QFile::encodeName(QLatin1String("/dev/") + rest);
}

// Milliseconds left of `limit` since `clock` started; INT_MAX stands for "no limit".
int remaining(const QElapsedTimer &clock, qint64 limit)
{
    if (limit < 0)
        return INT_MAX;
    return int(qBound<qint64>(0, limit - clock.elapsed(), INT_MAX));
}

// Waits up to `timeout` milliseconds (INT_MAX: without end) until the port is
// ready for `event` or the time runs out. False, with the cause left for
// qt_error_string(), when the wait failed, the port is gone, the line hung up
// or `wake` became readable (ECANCELED).
bool waitUntilReady(int fd, int wake, short event, int timeout)
{
    pollfd entries[] = {{fd, event, 0}, {wake, POLLIN, 0}};
    int result;
    while ((result = poll(entries, 2, timeout == INT_MAX ? -1 : timeout)) < 0) {
        if (errno != EINTR)
            return false;
    }
    if (entries[1].revents)
        return fail(ECANCELED);
    if (result == 0)
        return true;
    const short revents = entries[0].revents;
    if (revents & POLLNVAL)
        return fail(EBADF);
    if ((revents & (POLLHUP | POLLERR)) && !(revents & event))
        return fail(EIO);
    return true;
}

// Orders "ttyS2" before "ttyS10": by the name's stem, then by its number.
bool kernelOrder(const QString &a, const QString &b)
{
    const auto split = [](const QString &name) {
        int digits = name.size();
        while (digits > 0 && name.at(digits - 1).isDigit())
            --digits;
        return std::make_pair(name.left(digits), name.mid(digits).toULongLong());
    };
    return split(a) < split(b);
}

} // namespace

struct SerialPort::Data
{
    int fd = -1;
    int wake[2] = {-1, -1}; // read and write end of the wake pipe
    bool framed = true; // the device keeps data bits and parity as set
    std::string device; // canonical path, under which the time-outs are kept
    bool limited = false; // time-outs apply; without them transfers wait on
    SerialTimeouts timeouts;
    SerialTransferGate gate;
};

SerialPort::SerialPort()
    : d(new Data)
{ }

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::open(const QString &name, bool read, bool write)
{
    close();
    // Access mode 3 is Linux's "ioctl only": a port opened for neither
    // reading nor writing can still be configured.
    const int access = read ? (write ? O_RDWR : O_RDONLY) : (write ? O_WRONLY : 3);
    // Non-blocking: opening does not wait for carrier, and every wait of a
    // transfer is a poll() against its own time-outs.
    const QByteArray path = devicePath(name);
    const int fd = ::open(path.constData(), access | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    d->fd = fd;
    // The lock keeps out every other opener; TIOCEXCL also those that do not
    // lock (except the administrator). The device need not be a terminal.
    char device[PATH_MAX];
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !switchToBinary(fd) || !openWakePipe(d->wake)
        || !realpath(path.constData(), device)) {
        ErrnoKeeper keep;
        closeDescriptor(d->wake[0]);
        closeDescriptor(d->wake[1]);
        closeDescriptor(d->fd);
        return false;
    }
    ioctl(fd, TIOCEXCL);
    d->framed = !isPseudoTerminal(fd);
    d->device = device;
    {
        std::lock_guard<std::mutex> lock(rememberedTimeouts.mutex);
        const auto known = rememberedTimeouts.byDevice.find(d->device);
        d->limited = known != rememberedTimeouts.byDevice.end();
        if (d->limited)
            d->timeouts = known->second;
    }
    d->gate.open();
    return true;
}

void SerialPort::close()
{
    ErrnoKeeper keep;
    d->gate.close([this](std::uintptr_t) {
        // One byte wakes every poll(); a full pipe already does.
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(d->wake[1], &byte, 1);
    });
    if (d->fd < 0)
        return;
    ioctl(d->fd, TIOCNXCL);
    closeDescriptor(d->fd);
    closeDescriptor(d->wake[0]);
    closeDescriptor(d->wake[1]);
}

void *SerialPort::handle() const
{
    return reinterpret_cast<void *>(intptr_t(d->fd));
}

bool SerialPort::setLineSettings(const SerialLineSettings &settings)
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return fail(EBADF);
    termios state;
    if (tcgetattr(d->fd, &state) != 0)
        return false;

    const auto rate =
        std::find_if(std::begin(speeds), std::end(speeds),
                     [&settings](const auto &entry) { return entry.rate == settings.baudRate; });
    if (rate == std::end(speeds) || settings.dataBits < 5 || settings.dataBits > 8
        || settings.parity >= std::size(parityCodes) || settings.stopBits > 2)
        return fail(EINVAL);
    const tcflag_t parity = parityCodes[settings.parity];
    if (settings.parity > 2 && !(parity & stickParity))
        return fail(EINVAL);
    // As on a UART: 1.5 stop bits exist only with 5 data bits, and there
    // the stop-bit flag means 1.5, so 2 cannot be had.
    const bool fiveBits = settings.dataBits == 5;
    if ((settings.stopBits == 1 && !fiveBits) || (settings.stopBits == 2 && fiveBits))
        return fail(EINVAL);

    if (cfsetispeed(&state, rate->code) != 0 || cfsetospeed(&state, rate->code) != 0)
        return false;
    state.c_cflag &= ~(CSIZE | parityMask | CSTOPB | CRTSCTS);
    state.c_cflag |= dataBitCodes[settings.dataBits - 5] | parity | CLOCAL | CREAD;
    if (settings.stopBits != 0)
        state.c_cflag |= CSTOPB;
    makeBinary(state);
    if (tcsetattr(d->fd, TCSANOW, &state) != 0)
        return false;

    // tcsetattr() succeeds when any part of the change took; read back what
    // the driver kept.
    termios kept;
    if (tcgetattr(d->fd, &kept) != 0)
        return false;
    tcflag_t checked = CSIZE | parityMask | CSTOPB | CRTSCTS | CLOCAL | CREAD;
    if (!d->framed)
        checked &= ~(CSIZE | PARENB);
    if (cfgetispeed(&kept) != cfgetispeed(&state) || cfgetospeed(&kept) != cfgetospeed(&state)
        || (kept.c_cflag & checked) != (state.c_cflag & checked)
        || (kept.c_iflag & (IXON | binaryInputOff)) || (kept.c_oflag & binaryOutputOff)
        || (kept.c_lflag & binaryLocalOff))
        return fail(EINVAL);
    return true;
}

bool SerialPort::setTimeouts(const SerialTimeouts &timeouts)
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return fail(EBADF);
    d->timeouts = timeouts;
    d->limited = true;
    std::lock_guard<std::mutex> lock(rememberedTimeouts.mutex);
    rememberedTimeouts.byDevice[d->device] = timeouts;
    return true;
}

bool SerialPort::purgeInput()
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return fail(EBADF);
    return tcflush(d->fd, TCIFLUSH) == 0;
}

bool SerialPort::read(char *data, qint64 maxSize, qint64 *count)
{
    *count = 0;
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return fail(EBADF);
    const SerialTimeouts &limits = d->timeouts;
    const qint64 total = d->limited ? limits.readTotal + limits.readMultiplier * maxSize : -1;
    const qint64 interval = d->limited && limits.interval ? qint64(limits.interval) : -1;
    QElapsedTimer sinceStart;
    QElapsedTimer sinceByte; // starts with the first byte
    sinceStart.start();
    while (*count < maxSize) {
        const ssize_t got = ::read(d->fd, data + *count, size_t(maxSize - *count));
        if (got > 0) {
            *count += got;
            sinceByte.start();
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got == 0)
            return fail(EIO); // end of file: the line hung up
        if (errno != EAGAIN)
            return false;
        int timeout = remaining(sinceStart, total);
        if (sinceByte.isValid())
            timeout = qMin(timeout, remaining(sinceByte, interval));
        if (timeout == 0)
            break;
        if (!waitUntilReady(d->fd, d->wake[0], POLLIN, timeout))
            return false;
    }
    return true;
}

bool SerialPort::write(const char *data, qint64 size, qint64 *count)
{
    *count = 0;
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return fail(EBADF);
    const SerialTimeouts &limits = d->timeouts;
    const qint64 total = d->limited ? limits.writeTotal + limits.writeMultiplier * size : -1;
    QElapsedTimer sinceStart;
    sinceStart.start();
    while (*count < size) {
        const ssize_t put = ::write(d->fd, data + *count, size_t(size - *count));
        if (put > 0) {
            *count += put;
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN)
            return false;
        const int timeout = remaining(sinceStart, total);
        if (timeout == 0)
            break;
        if (!waitUntilReady(d->fd, d->wake[0], POLLOUT, timeout))
            return false;
    }
    return true;
}

bool SerialPort::inputQueueSize(qint64 *count) const
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return fail(EBADF);
    int queued = 0;
    if (ioctl(d->fd, FIONREAD, &queued) != 0)
        return false;
    *count = queued;
    return true;
}

QStringList SerialPort::portNames()
{
    // Every terminal the kernel has a driver for, except the UART slots that
    // serial-core registers without a UART behind them (port type 0), and
    // those without a device node here.
    const QDir sysfs(QStringLiteral("/sys/class/tty"));
    QStringList names;
    const QStringList entries = sysfs.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const QString base = sysfs.filePath(entry);
        if (!QFileInfo::exists(base + QLatin1String("/device/driver")))
            continue;
        QFile type(base + QLatin1String("/type"));
        if (type.open(QIODevice::ReadOnly) && type.readAll().trimmed() == "0")
            continue;
        if (QFileInfo::exists(QLatin1String("/dev/") + entry))
            names.append(entry);
    }
    std::sort(names.begin(), names.end(), kernelOrder);
    return names;
}
