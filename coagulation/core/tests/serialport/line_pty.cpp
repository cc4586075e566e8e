#include "line.h"
#include "terminalrate.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

struct Line::Data
{
    int master = -1;
    // Kept open: the port under test opens the slave by its name, and the
    // pseudo-terminal lives on between the port's opens.
    int slave = -1;
    std::string name;
    std::thread background;
    std::string received;
};

Line::Line()
    : d(new Data)
{
    termios raw = {};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    char path[PATH_MAX];
    if (openpty(&d->master, &d->slave, path, &raw, nullptr) != 0)
        return;
    fcntl(d->master, F_SETFL, O_NONBLOCK);
    d->name = std::string(path).substr(std::size("/dev/") - 1);
}

Line::~Line()
{
    finish();
    if (d->master >= 0)
        ::close(d->master);
    if (d->slave >= 0)
        ::close(d->slave);
}

bool Line::isValid() const
{
    return d->master >= 0;
}

std::string Line::portName() const
{
    return d->name;
}

bool Line::send(const std::string &bytes)
{
    pollfd entry = {d->master, POLLOUT, 0};
    for (std::size_t sent = 0; sent < bytes.size();) {
        if (poll(&entry, 1, 10000) <= 0)
            return false;
        const ssize_t n = ::write(d->master, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        sent += std::size_t(std::max<ssize_t>(n, 0));
    }
    return true;
}

std::string Line::receive(std::size_t size, int silence)
{
    std::string bytes(size, '\0');
    std::size_t got = 0;
    pollfd entry = {d->master, POLLIN, 0};
    while (got < size && poll(&entry, 1, silence) > 0) {
        const ssize_t n = ::read(d->master, &bytes[got], size - got);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    bytes.resize(got);
    return bytes;
}

bool Line::startSending(const std::string &bytes, int gap)
{
    finish();
    d->background = std::thread([this, bytes, gap] {
        if (gap == 0) {
            send(bytes);
            return;
        }
        for (const char byte : bytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gap));
            send(std::string(1, byte));
        }
    });
    return true;
}

bool Line::startReceiving(std::size_t size, int silence)
{
    finish();
    d->background = std::thread([this, size, silence] { d->received = receive(size, silence); });
    return true;
}

std::string Line::finish()
{
    if (d->background.joinable())
        d->background.join();
    std::string received;
    received.swap(d->received);
    return received;
}

bool Line::holdOutput(bool hold)
{
    return tcflow(d->slave, hold ? TCOOFF : TCOON) == 0;
}

bool Line::hangUp()
{
    finish();
    return ::close(std::exchange(d->master, -1)) == 0;
}

Line::Settings Line::settings() const
{
    termios state = {};
    Settings settings;
    if (tcgetattr(d->master, &state) != 0)
        return settings;
    settings.baudRate = terminalRate(d->master);
    settings.stopBits = state.c_cflag & CSTOPB ? 2 : 1;
    return settings;
}

int Line::masterDescriptor() const
{
    return d->master;
}

bool underWine()
{
    return false;
}
