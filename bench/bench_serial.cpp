// Serial transfers over a pseudo-terminal, each against raw read/write on the
// same pair, and the precision of a read time-out against the total that the
// time-outs state.
#include "serial.h"

#include <QtCore/QByteArray>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

struct PtyPair
{
    int master = -1;
    int slave = -1;
    QString slavePath;

    PtyPair()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios raw;
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        slavePath = QString::fromLocal8Bit(name);
    }
    ~PtyPair()
    {
        ::close(master);
        ::close(slave);
    }
};

const int chunk = 1024;

template<typename Io>
bool transferFully(Io io, int fd, char *data, int size)
{
    for (int done = 0; done < size;) {
        const ssize_t n = io(fd, data + done, size_t(size - done));
        if (n <= 0)
            return false;
        done += int(n);
    }
    return true;
}

bool readFully(int fd, char *data)
{
    return transferFully(::read, fd, data, chunk);
}

bool writeFully(int fd, char *data)
{
    return transferFully([](int f, char *d, size_t n) { return ::write(f, d, n); }, fd, data,
                         chunk);
}

bool openSerial(Serial &serial, const PtyPair &pty, int readTotal = 1000)
{
    serial.setFileName(pty.slavePath);
    return serial.open() && serial.setTimeouts(0, readTotal, 1000);
}

// One chunk of every byte value per iteration, handed to `send` and taken back
// by `receive`.
template<typename Send, typename Receive>
void transfer(benchmark::State &state, Send send, Receive receive)
{
    QByteArray out(chunk, Qt::Uninitialized);
    for (int i = 0; i < chunk; ++i)
        out[i] = char(i);
    QByteArray in(chunk, Qt::Uninitialized);
    for (auto _ : state) {
        if (!send(out.data()) || !receive(in.data()))
            state.SkipWithError("short transfer");
    }
    state.SetBytesProcessed(state.iterations() * chunk);
}

} // namespace

static void BM_serial_write(benchmark::State &state)
{
    PtyPair pty;
    Serial serial;
    if (!openSerial(serial, pty))
        return state.SkipWithError("cannot open the pseudo-terminal");
    transfer(
        state, [&](char *data) { return serial.write(data, chunk) == chunk; },
        [&](char *data) { return readFully(pty.master, data); });
}
BENCHMARK(BM_serial_write);

static void BM_raw_write(benchmark::State &state)
{
    PtyPair pty;
    transfer(
        state, [&](char *data) { return writeFully(pty.slave, data); },
        [&](char *data) { return readFully(pty.master, data); });
}
BENCHMARK(BM_raw_write);

static void BM_serial_read(benchmark::State &state)
{
    PtyPair pty;
    Serial serial;
    if (!openSerial(serial, pty))
        return state.SkipWithError("cannot open the pseudo-terminal");
    transfer(
        state, [&](char *data) { return writeFully(pty.master, data); },
        [&](char *data) { return serial.read(data, chunk) == chunk; });
}
BENCHMARK(BM_serial_read);

static void BM_raw_read(benchmark::State &state)
{
    PtyPair pty;
    transfer(
        state, [&](char *data) { return writeFully(pty.master, data); },
        [&](char *data) { return readFully(pty.slave, data); });
}
BENCHMARK(BM_raw_read);

// Reads of 10 bytes that nothing answers, with a constant of 20 ms: each
// should end after the stated 30 ms. The counters give how much later than
// that they ended, as median and worst.
static void BM_serial_readTimeout(benchmark::State &state)
{
    const int constant = 20;
    const int size = 10;
    const double stated = constant + size;
    PtyPair pty;
    Serial serial;
    if (!openSerial(serial, pty, constant))
        return state.SkipWithError("cannot open the pseudo-terminal");
    std::vector<double> overshoots;
    char buffer[size];
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const qint64 got = serial.read(buffer, size);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (got != 0)
            state.SkipWithError("bytes arrived");
        state.SetIterationTime(took.count() / 1000);
        overshoots.push_back(took.count() - stated);
    }
    std::sort(overshoots.begin(), overshoots.end());
    const std::size_t middle = overshoots.size() / 2;
    state.counters["stated_ms"] = stated;
    state.counters["overshoot_median_ms"] = overshoots.size() % 2
        ? overshoots[middle]
        : (overshoots[middle - 1] + overshoots[middle]) / 2;
    state.counters["overshoot_worst_ms"] = overshoots.back();
}
BENCHMARK(BM_serial_readTimeout)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);
