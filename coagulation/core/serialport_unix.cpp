#include "serialport_p.h"
#include "serialline_unix_p.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <map>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using Error = SerialPort::Error;

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
    if (const Error error = SerialLine::takeOver(d->fd))
        return fail(error);
    if (const Error error = openWakePipe(d->wake))
        return fail(error);
    char device[PATH_MAX];
    if (!realpath(path.c_str(), device))
        return fail(errno);
    ioctl(d->fd, TIOCEXCL);
    d->framed = !SerialLine::isPseudoTerminal(d->fd);
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
    return SerialLine::apply(d->fd, settings, d->framed);
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
    return SerialLine::flushInput(d->fd);
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
