// The port layer's cases, the same for every system: natively against the
// termios layer, and cross-built against the Win32 layer under Wine, on
// pseudo-terminals either way (line.h). Where Wine does not behave as Windows
// does, a case names what Wine cannot show instead of asserting what Wine does.

#include "line.h"
#include "porttest.h"
#include "serialport_p.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>
#endif

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;
using Error = SerialPort::Error;

#ifdef _WIN32
const Error notFound = ERROR_FILE_NOT_FOUND;
const Error notOpen = ERROR_INVALID_HANDLE;
const Error cancelled = ERROR_OPERATION_ABORTED;
const char absentPort[] = "COM99";
#else
const Error notFound = ENOENT;
const Error notOpen = EBADF;
const Error cancelled = ECANCELED;
const char absentPort[] = "ttyNothing";
#endif

void *const invalidHandle = reinterpret_cast<void *>(std::intptr_t(-1));

std::int64_t millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Error openAt(SerialPort &port, const Line &line)
{
    return port.open(SerialPort::devicePath(line.portName()), true, true);
}

// The port at the far end of `line`, at 9600 8N1 with the given time-outs.
bool openPort(SerialPort &port, const Line &line, SerialTimeouts timeouts = {0, 5000, 5000})
{
    SerialLineSettings settings;
    settings.baudRate = 9600;
    settings.dataBits = 8;
    return line.isValid() && openAt(port, line) == 0 && port.setLineSettings(settings) == 0
        && port.setTimeouts(timeouts) == 0;
}

struct Transfer
{
    Error error = 0;
    std::string bytes; // what was moved
    std::int64_t took = 0; // ms
};

Transfer readFrom(SerialPort &port, std::size_t size)
{
    Transfer transfer;
    std::string buffer(size, '\0');
    std::int64_t count = 0;
    const auto start = Clock::now();
    transfer.error = port.read(buffer.data(), std::int64_t(size), &count);
    transfer.took = millisecondsSince(start);
    transfer.bytes = buffer.substr(0, std::size_t(count));
    return transfer;
}

Transfer writeTo(SerialPort &port, const std::string &bytes)
{
    Transfer transfer;
    std::int64_t count = 0;
    const auto start = Clock::now();
    transfer.error = port.write(bytes.data(), std::int64_t(bytes.size()), &count);
    transfer.took = millisecondsSince(start);
    transfer.bytes = bytes.substr(0, std::size_t(count));
    return transfer;
}

// The driver takes its time to queue what the far end sent.
bool waitForInput(const SerialPort &port, std::int64_t size)
{
    for (const auto start = Clock::now(); Clock::now() - start < 5s;) {
        if (port.inputQueueSize() == size)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Every byte value in a scrambled order, control characters and XON/XOFF
// included.
std::string scrambledBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 7;
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 16);
    }
    return bytes;
}

#ifdef _WIN32

// Windows tells nothing of a handle closed twice; only another user of
// handles sees the harm it does (useOwnHandle).
int closesOfClosedDescriptors()
{
    return 0;
}

#else

// The test is linked with --wrap=close: this counts the closes of descriptors
// that were not open, each a close that came too late and could as well have
// hit a file that another thread opened meanwhile.
std::atomic<int> closedTwice{0};

int closesOfClosedDescriptors()
{
    return closedTwice;
}

#endif

// As another part of the program does while the port is opened and closed:
// takes a handle of its own, uses it and closes it. False when it was closed
// under it.
bool useOwnHandle()
{
#ifdef _WIN32
    const HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) && CloseHandle(handle);
#else
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return fcntl(fd, F_GETFD) >= 0 && ::close(fd) == 0;
#endif
}

std::string joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

#ifndef _WIN32
extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd)
{
    const int result = __real_close(fd);
    if (result != 0 && errno == EBADF)
        ++closedTwice;
    return result;
}
#endif

PORT_TEST(pathRule)
{
    Line line;
    CHECK(line.isValid());
    const std::string name = line.portName();
    const std::string prefixed = "\\\\.\\" + name;
#ifdef _WIN32
    const std::string slashed = "//./" + name;
    const std::vector<std::string> names = {name, prefixed, slashed};
#else
    const std::string slashed = "//dev/" + name;
    const std::vector<std::string> names = {name, prefixed, slashed, "/dev/" + name};
#endif
    CHECK_EQUAL(SerialPort::devicePath(name), prefixed);
    CHECK_EQUAL(SerialPort::devicePath(prefixed), prefixed);
    CHECK_EQUAL(SerialPort::devicePath(slashed), slashed);

    for (const std::string &given : names) {
        const porttest::Row row(given);
        [&] {
            SerialPort port;
            CHECK_EQUAL(port.open(SerialPort::devicePath(given), true, true), 0);
            CHECK(port.handle() != invalidHandle);
            // The far end of this very line hears it.
            CHECK_EQUAL(writeTo(port, "ping").bytes, std::string("ping"));
            CHECK_EQUAL(line.receive(4, 5000), std::string("ping"));
        }();
    }
}

PORT_TEST(absentAndClosedPort)
{
    SerialPort port;
    const Error error = port.open(SerialPort::devicePath(absentPort), true, true);
    CHECK_EQUAL(error, notFound);
    CHECK(port.deviceGone(error)); // nothing at the name, as after an unplug
    CHECK(port.handle() == invalidHandle);

    const std::string text = SerialPort::errorText(error);
    porttest::note("the system says: " + text);
    CHECK(!text.empty());
    CHECK(text.find_last_of(" \r\n") != text.size() - 1);
#ifdef _WIN32
    // UTF-8 throughout; in a Chinese user interface, Chinese.
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         int(text.size()), nullptr, 0);
    CHECK(size > 0);
    std::wstring wide(std::size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), size);
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE)
        CHECK(std::any_of(wide.begin(), wide.end(),
                          [](wchar_t c) { return c >= 0x4e00 && c <= 0x9fff; }));
#else
    CHECK_EQUAL(text, std::string(std::strerror(ENOENT)));
#endif

    // A port that is not open refuses everything with the system's own code.
    std::int64_t count = -1;
    char byte = 0;
    CHECK_EQUAL(port.setTimeouts(SerialTimeouts()), notOpen);
    CHECK_EQUAL(port.setLineSettings(SerialLineSettings()), notOpen);
    CHECK_EQUAL(port.purgeInput(), notOpen);
    CHECK_EQUAL(port.read(&byte, 1, &count), notOpen);
    CHECK_EQUAL(count, std::int64_t(0));
    CHECK_EQUAL(port.write(&byte, 1, &count), notOpen);
    CHECK(!port.deviceGone(notOpen));
    CHECK_EQUAL(port.inputQueueSize(), std::int64_t(0));
    port.close(); // harmless
    CHECK(port.handle() == invalidHandle);
}

PORT_TEST(secondOpenRefused)
{
    if (underWine())
        SKIP("Wine opens a COM port a second time; Windows refuses with ERROR_ACCESS_DENIED");
    Line line;
    SerialPort first;
    CHECK(openPort(first, line));
    SerialPort second;
    const Error error = openAt(second, line);
#ifdef _WIN32
    CHECK_EQUAL(error, Error(ERROR_ACCESS_DENIED));
#else
    // TIOCEXCL keeps out ordinary users; the administrator meets the lock,
    // and learns the same.
    CHECK_EQUAL(error, Error(EBUSY));
#endif
    CHECK(!second.deviceGone(error)); // a busy device is there
    CHECK(second.handle() == invalidHandle);
    CHECK_EQUAL(writeTo(first, "still").bytes, std::string("still"));
    CHECK_EQUAL(line.receive(5, 5000), std::string("still"));
    first.close();
    CHECK_EQUAL(openAt(second, line), 0);
}

PORT_TEST(rateAndStopBits)
{
    const struct
    {
        std::uint32_t baudRate;
        std::uint8_t stopBits; // a Serial::StopBits code
        int seen;
        bool termiosConstant; // Linux has a B constant for the rate
    } rows[] = {
        {1200, 0, 1, true},   {9600, 2, 2, true},    {19200, 0, 1, true},   {57600, 2, 2, true},
        {115200, 0, 1, true}, {230400, 2, 2, true},  {460800, 0, 1, true},  {921600, 2, 2, true},
        {14400, 0, 1, false}, {128000, 2, 2, false}, {250000, 0, 1, false}, {31250, 2, 2, false},
    };
    Line line;
    SerialPort port;
    CHECK(openPort(port, line));
    for (const auto &expected : rows) {
        const porttest::Row row(std::to_string(expected.baudRate) + " baud, "
                                + std::to_string(expected.seen) + " stop bits");
        [&] {
            SerialLineSettings settings;
            settings.baudRate = expected.baudRate;
            settings.dataBits = 8;
            settings.stopBits = expected.stopBits;
            CHECK_EQUAL(port.setLineSettings(settings), 0);
            const Line::Settings seen = line.settings();
            if (underWine() && !expected.termiosConstant)
                porttest::note("Wine sets the rate as 38400 with a divisor of its own, which a "
                               "pseudo-terminal does not keep");
            else
                CHECK_EQUAL(seen.baudRate, expected.baudRate);
            CHECK_EQUAL(seen.stopBits, expected.seen);
        }();
    }
}

#ifdef _WIN32

struct DcbField
{
    const char *name;
    unsigned (*get)(const DCB &);
};
// clang-format off
#define DCB_FIELD(field) DcbField{#field, [](const DCB &dcb) { return unsigned(dcb.field); }}
// clang-format on

PORT_TEST(driverSettingsKept)
{
    Line line;
    SerialPort port;
    CHECK(line.isValid());
    CHECK_EQUAL(openAt(port, line), 0);
    const HANDLE handle = port.handle();
    DCB preset = {};
    preset.DCBlength = sizeof preset;
    CHECK(GetCommState(handle, &preset));
    // What the port keeps, away from the usual values, and the handshake
    // that the line settings switch off.
    preset.fParity = TRUE;
    preset.fDtrControl = DTR_CONTROL_DISABLE;
    preset.fRtsControl = RTS_CONTROL_DISABLE;
    preset.fTXContinueOnXoff = TRUE;
    preset.fInX = TRUE;
    preset.fErrorChar = TRUE;
    preset.ErrorChar = '?';
    preset.fNull = TRUE;
    preset.fAbortOnError = TRUE;
    preset.XonLim = 100;
    preset.XoffLim = 200;
    preset.XonChar = 0x01;
    preset.XoffChar = 0x02;
    preset.fOutxCtsFlow = TRUE;
    preset.fOutxDsrFlow = TRUE;
    preset.fDsrSensitivity = TRUE;
    preset.fOutX = TRUE;
    CHECK(SetCommState(handle, &preset));
    DCB before = {};
    before.DCBlength = sizeof before;
    CHECK(GetCommState(handle, &before));

    SerialLineSettings settings;
    settings.baudRate = 19200;
    settings.dataBits = 8;
    CHECK_EQUAL(port.setLineSettings(settings), 0);
    DCB after = {};
    after.DCBlength = sizeof after;
    CHECK(GetCommState(handle, &after));

    const DcbField kept[] = {
        DCB_FIELD(fParity),       DCB_FIELD(fDtrControl),
        DCB_FIELD(fRtsControl),   DCB_FIELD(fTXContinueOnXoff),
        DCB_FIELD(fInX),          DCB_FIELD(fErrorChar),
        DCB_FIELD(ErrorChar),     DCB_FIELD(fNull),
        DCB_FIELD(fAbortOnError), DCB_FIELD(XonLim),
        DCB_FIELD(XoffLim),       DCB_FIELD(XonChar),
        DCB_FIELD(XoffChar),
    };
    std::string unreported;
    for (const DcbField &field : kept) {
        if (field.get(before) != field.get(preset))
            unreported += std::string(unreported.empty() ? "" : ", ") + field.name;
        const porttest::Row row(field.name);
        [&] {
            CHECK_EQUAL(field.get(after), field.get(before));
        }();
    }
    if (!unreported.empty())
        porttest::note("the driver does not report " + unreported
                       + " as set, so that they stay cannot be seen here");

    const struct
    {
        DcbField field;
        unsigned value;
    } forced[] = {
        {DCB_FIELD(fBinary), 1},         {DCB_FIELD(fOutxCtsFlow), 0}, {DCB_FIELD(fOutxDsrFlow), 0},
        {DCB_FIELD(fDsrSensitivity), 0}, {DCB_FIELD(fOutX), 0},        {DCB_FIELD(BaudRate), 19200},
    };
    for (const auto &expected : forced) {
        const porttest::Row row(expected.field.name);
        [&] {
            CHECK_EQUAL(expected.field.get(after), expected.value);
        }();
    }
}

#else

PORT_TEST(driverSettingsKept)
{
    Line line;
    CHECK(line.isValid());
    const int master = line.masterDescriptor();
    termios before = {};
    CHECK_EQUAL(tcgetattr(master, &before), 0);
    before.c_iflag |= IXOFF | INPCK | IXANY | BRKINT | ICRNL | IXON | PARMRK;
    before.c_cflag |= HUPCL | CRTSCTS;
    before.c_oflag |= OPOST;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_cc[VSTART] = 0x01;
    before.c_cc[VSTOP] = 0x02;
    CHECK_EQUAL(tcsetattr(master, TCSANOW, &before), 0);

    SerialPort port;
    CHECK(openPort(port, line));
    termios after = {};
    CHECK_EQUAL(tcgetattr(master, &after), 0);
    // Input XON/XOFF with its characters, parity check, break handling and
    // hang-up on close stay as the driver had them.
    const tcflag_t kept = IXOFF | INPCK | IXANY | BRKINT;
    CHECK_EQUAL(after.c_iflag & kept, kept);
    CHECK_EQUAL(after.c_cflag & HUPCL, tcflag_t(HUPCL));
    CHECK_EQUAL(unsigned(after.c_cc[VSTART]), 0x01u);
    CHECK_EQUAL(unsigned(after.c_cc[VSTOP]), 0x02u);
    // Binary transfer without output handshake: no translation, marks, echo,
    // line editing, CTS or output XON/XOFF.
    CHECK_EQUAL(after.c_iflag & (ICRNL | IXON | PARMRK), tcflag_t(0));
    CHECK_EQUAL(after.c_oflag & OPOST, tcflag_t(0));
    CHECK_EQUAL(after.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    CHECK_EQUAL(after.c_cflag & CRTSCTS, tcflag_t(0));
}

#endif

PORT_TEST(readTimeouts)
{
    const struct
    {
        const char *name;
        std::uint32_t interval;
        std::uint32_t total;
        std::size_t queued; // bytes sent before the read of 10
        std::int64_t atLeast; // ms
        std::int64_t below;
    } rows[] = {
        {"nothing arrives: total + n, and no error", 0, 300, 0, 310, 2300},
        {"nothing arrives: no interval before the first byte", 50, 300, 0, 310, 2300},
        {"the interval ends a partial read", 100, 20000, 3, 100, 4000},
        {"zero interval: total + n ends a partial read", 0, 400, 3, 410, 2400},
        {"the full count returns at once", 3000, 20000, 10, 0, 2500},
    };
    for (const auto &expected : rows) {
        const porttest::Row row(expected.name);
        [&] {
            Line line;
            SerialPort port;
            CHECK(openPort(port, line, {expected.interval, expected.total, 5000}));
            const std::string sent = std::string("0123456789").substr(0, expected.queued);
            CHECK(line.send(sent));
            CHECK(waitForInput(port, std::int64_t(expected.queued)));
            const Transfer read = readFrom(port, 10);
            CHECK_EQUAL(read.error, 0);
            CHECK_EQUAL(read.bytes, sent);
            CHECK_BETWEEN(read.took, expected.atLeast, expected.below);
        }();
    }
}

#ifndef _WIN32

PORT_TEST(signalsKeepTimeouts)
{
    // A handler without SA_RESTART, as a plain one has: each signal ends the
    // wait of the transfer early.
    struct sigaction action = {};
    action.sa_handler = [](int) {
    };
    struct sigaction previous = {};
    sigaction(SIGUSR1, &action, &previous);
    for (const bool reading : {true, false}) {
        const porttest::Row row(reading ? "read" : "write");
        [&] {
            Line line;
            SerialPort port;
            CHECK(openPort(port, line, {0, 200, 200}));
            CHECK(reading || line.holdOutput(true));
            // A signal every 50 ms, for 3 s at most: far longer than the
            // 200 + 10 ms that the transfer is given.
            std::promise<void> done;
            std::thread signals([finished = done.get_future(), transfer = pthread_self()] {
                for (int i = 0; i < 60 && finished.wait_for(50ms) == std::future_status::timeout;
                     ++i)
                    pthread_kill(transfer, SIGUSR1);
            });
            const Transfer transfer =
                reading ? readFrom(port, 10) : writeTo(port, std::string(10, 'x'));
            done.set_value();
            signals.join();
            line.holdOutput(false);
            CHECK_EQUAL(transfer.error, 0);
            CHECK_EQUAL(transfer.bytes, std::string());
            CHECK_BETWEEN(transfer.took, std::int64_t(210), std::int64_t(1000));
        }();
    }
    sigaction(SIGUSR1, &previous, nullptr);
}

#endif

PORT_TEST(intervalRestartsWithEachByte)
{
    Line line;
    SerialPort port;
    CHECK(openPort(port, line, {250, 20000, 5000}));
    // Ten bytes 50 ms apart: longer than the interval in all, never between two.
    CHECK(line.startSending("abcdefghij", 50));
    const Transfer read = readFrom(port, 10);
    line.finish();
    CHECK_EQUAL(read.error, 0);
    CHECK_EQUAL(read.bytes, std::string("abcdefghij"));
}

PORT_TEST(writeTimeout)
{
    Line line;
    SerialPort port;
    CHECK(openPort(port, line, {0, 5000, 300}));
    CHECK(line.holdOutput(true));
    const Transfer write = writeTo(port, std::string(100, 'y')); // 300 + 100 ms
    line.holdOutput(false);
    CHECK_EQUAL(write.error, 0);
    CHECK_EQUAL(write.bytes, std::string());
    CHECK_BETWEEN(write.took, std::int64_t(400), std::int64_t(3000));
}

PORT_TEST(inputQueueAndPurge)
{
    Line line;
    SerialPort port;
    CHECK(openPort(port, line));
    CHECK_EQUAL(port.inputQueueSize(), std::int64_t(0));
    CHECK(line.send("stale"));
    CHECK(waitForInput(port, 5));
    CHECK_EQUAL(port.purgeInput(), 0);
    CHECK_EQUAL(port.inputQueueSize(), std::int64_t(0));

    // Only the input goes: what was written still reaches the far end.
    CHECK_EQUAL(writeTo(port, "out").bytes, std::string("out"));
    CHECK_EQUAL(port.purgeInput(), 0);
    CHECK_EQUAL(line.receive(3, 5000), std::string("out"));
    CHECK(line.send("new"));
    CHECK_EQUAL(readFrom(port, 3).bytes, std::string("new"));
}

PORT_TEST(transfer64KiB)
{
    Line line;
    SerialPort port;
    CHECK(openPort(port, line, {5000, 10000, 10000}));
    const std::string data = scrambledBytes(64 * 1024);

    CHECK(line.startReceiving(data.size(), 10000));
    const Transfer write = writeTo(port, data);
    const std::string heard = line.finish();
    CHECK_EQUAL(write.error, 0);
    CHECK_EQUAL(write.bytes.size(), data.size());
    CHECK(heard == data);

    CHECK(line.startSending(data, 0));
    const Transfer read = readFrom(port, data.size());
    line.finish();
    CHECK_EQUAL(read.error, 0);
    CHECK(read.bytes == data);
}

#ifdef _WIN32

PORT_TEST(portNames)
{
    if (!underWine())
        SKIP("rewrites the machine's map of serial ports; runs only in a Wine prefix of its own");
    const wchar_t path[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
    CHECK(SerialPort::portNames().empty());

    HKEY key = nullptr;
    CHECK_EQUAL(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
                LONG(ERROR_SUCCESS));
    const auto set = [key](const wchar_t *name, DWORD type, const std::wstring &data) {
        RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE *>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
    };
    // In name order, the order of Wine's registry; Windows keeps the order of
    // creation, which is the same here.
    set(L"\\Device\\Serial0", REG_SZ, L"COM7");
    set(L"\\Device\\Serial1", REG_SZ, L"COM3");
    set(L"\\Device\\Serial2", REG_SZ, L"COM7"); // the same port again
    const DWORD number = 5;
    RegSetValueExW(key, L"\\Device\\Serial3", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number),
                   sizeof number);
    set(L"\\Device\\Serial4", REG_EXPAND_SZ, L"COM8");
    set(L"\\Device\\Serial5", REG_MULTI_SZ, std::wstring(L"COM9\0", 5));
    set(L"\\Device\\Serial6 with a longer name than the others", REG_SZ, L"COM10");
    set(L"\\Device\\Serial7", REG_SZ,
        L"\u7aef\u53e3"
        L"7");
    RegCloseKey(key);
    CHECK_EQUAL(joined(SerialPort::portNames()), std::string("COM7, COM3, COM10, \u7aef\u53e37"));

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
    CHECK_EQUAL(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
                LONG(ERROR_SUCCESS));
    RegCloseKey(key);
    CHECK(SerialPort::portNames().empty());
}

#else

PORT_TEST(portNames)
{
    const std::vector<std::string> names = SerialPort::portNames();
    porttest::note("ports here: " + joined(names));
    CHECK_EQUAL(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    for (const std::string &name : names) {
        const porttest::Row row(name);
        [&] {
            CHECK(access(("/dev/" + name).c_str(), F_OK) == 0);
        }();
    }
}

#endif

PORT_TEST(timeoutsFollowTheDevice)
{
    if (underWine())
        SKIP("Wine forgets a port's time-outs when its handle closes; Windows keeps them in "
             "the port's driver");
    Line line;
    SerialPort port;
    CHECK(openPort(port, line, {0, 200, 200}));
    port.close();
    CHECK_EQUAL(openAt(port, line), 0); // no time-outs set this time

    // Should the read wait without limit, a close after 3 s ends it.
    std::promise<void> done;
    std::thread watchdog([&port, finished = done.get_future()] {
        if (finished.wait_for(3s) == std::future_status::timeout)
            port.close();
    });
    const Transfer read = readFrom(port, 10);
    done.set_value();
    watchdog.join();
    CHECK_EQUAL(read.error, 0);
    CHECK_BETWEEN(read.took, std::int64_t(200), std::int64_t(2500));
}

PORT_TEST(closeWakesBlockedRead)
{
    Line line;
    SerialPort port;
    CHECK(openPort(port, line, {0, 3000, 1000}));
    CHECK(line.send("ab"));
    CHECK(waitForInput(port, 2));

    Transfer read;
    std::thread reader([&] { read = readFrom(port, 10); });
    std::this_thread::sleep_for(300ms);
    port.close(); // returns once the read has left the port
    reader.join();
    CHECK(port.handle() == invalidHandle);
    if (underWine()) {
        porttest::note("Wine's CancelSynchronousIo does not reach a read from a COM port: the "
                       "close waited for the read's time-out");
        CHECK_EQUAL(read.error, 0);
        CHECK_EQUAL(read.bytes, std::string("ab"));
        return;
    }
    CHECK_EQUAL(read.error, cancelled);
    CHECK(!port.deviceGone(read.error)); // the close ended it, not the driver
    CHECK_BETWEEN(read.took, std::int64_t(250), std::int64_t(2000));
#ifndef _WIN32
    // Windows reports no count for a cancelled read.
    CHECK_EQUAL(read.bytes, std::string("ab"));
#endif
    CHECK_EQUAL(openAt(port, line), 0);
}

PORT_TEST(unpluggedDevice)
{
    // The far end goes while a read waits, as an unplugged adapter does.
    Line line;
    SerialPort port;
    CHECK(openPort(port, line, {0, 3000, 3000}));
    Transfer read;
    std::thread reader([&] { read = readFrom(port, 10); });
    std::this_thread::sleep_for(100ms);
    const bool sent = line.send("ab");
    std::this_thread::sleep_for(300ms);
    const bool hungUp = line.hangUp();
    reader.join();
    CHECK(sent && hungUp);
    if (underWine()) {
        porttest::note("the read over a line that hung up gave error " + std::to_string(read.error)
                       + " with " + porttest::printable(read.bytes) + " after "
                       + std::to_string(read.took) + " ms");
        SKIP("Wine ends reads over a line that hung up as time-outs and fails writes with "
             "ERROR_NOT_READY, the pseudo-terminal's EIO; Windows drivers fail the calls on an "
             "unplugged adapter with the codes of a removed device");
    }
    // What came before the hang-up, at once, and an error that says so.
    CHECK_EQUAL(read.bytes, std::string("ab"));
    CHECK(port.deviceGone(read.error));
    CHECK_BETWEEN(read.took, std::int64_t(250), std::int64_t(2000));

    // From then on every transfer fails at once, however long its time-out.
    for (const bool reading : {true, false}) {
        const porttest::Row row(reading ? "read" : "write");
        [&] {
            const Transfer transfer = reading ? readFrom(port, 10) : writeTo(port, "x");
            CHECK(port.deviceGone(transfer.error));
            CHECK_BETWEEN(transfer.took, std::int64_t(0), std::int64_t(500));
        }();
    }
}

PORT_TEST(closeFromTwoThreads)
{
    Line line;
    CHECK(line.isValid());
    const std::string path = SerialPort::devicePath(line.portName());
    SerialPort port;
    std::atomic<bool> done{false};
    std::atomic<int> robbed{0};
    std::thread bystander([&] {
        while (!done)
            robbed += !useOwnHandle();
    });
    const int closedBefore = closesOfClosedDescriptors();
    int opened = 0;
    for (const auto start = Clock::now(); opened < 1000 && Clock::now() - start < 5s && !robbed;) {
        if (port.open(path, true, true) != 0)
            continue;
        ++opened;
        std::atomic<int> ready{0};
        const auto closer = [&] {
            ++ready;
            while (ready < 2)
                std::this_thread::yield();
            port.close();
        };
        std::thread first(closer);
        std::thread second(closer);
        first.join();
        second.join();
    }
    done = true;
    bystander.join();
    porttest::note(std::to_string(opened) + " opens, each closed by two threads at once");
    CHECK(opened > 0);
    CHECK_EQUAL(robbed.load(), 0);
    CHECK_EQUAL(closesOfClosedDescriptors() - closedBefore, 0);
    CHECK(port.handle() == invalidHandle);
    CHECK_EQUAL(openAt(port, line), 0);
}

PORT_TEST(settingsChangeWhileReading)
{
    Line line;
    SerialPort port;
    CHECK(openPort(port, line, {0, 20, 20}));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        char buffer[16];
        std::int64_t count = 0;
        while (!done) {
            port.read(buffer, sizeof buffer, &count);
            ++reads;
        }
    });
    SerialLineSettings settings;
    settings.dataBits = 8;
    for (std::uint32_t round = 0; round < 100; ++round) {
        port.setTimeouts({round % 3, 20 + round % 5, 20});
        settings.baudRate = round % 2 ? 9600 : 19200;
        port.setLineSettings(settings);
        port.inputQueueSize();
        std::this_thread::sleep_for(2ms);
    }
    done = true;
    reader.join();
    CHECK(reads > 0);

    // The next read runs by the time-outs set last.
    CHECK_EQUAL(port.setTimeouts({0, 300, 300}), 0);
    const Transfer read = readFrom(port, 10);
    CHECK_EQUAL(read.error, 0);
    CHECK_BETWEEN(read.took, std::int64_t(310), std::int64_t(2300));
}

int main(int argc, char **argv)
{
    return porttest::run(argc, argv);
}
