// Serial over pseudo-terminals (serialport/line.h): natively the test holds
// them itself; under Wine the Linux peer serves them as COM ports. Where Wine
// does not behave as Windows does, or Windows has nothing of what a case
// looks at, the case is skipped with the reason.
#include "childprocess.h"
#include "serial.h"
#include "serialport/line.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtTest/QtTest>

#include <cstdio>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#ifdef Q_OS_WIN
#include <QtCore/qt_windows.h>
#else
#include "serialport/terminalrate.h"

#include <cerrno>
#include <cstring>
#include <termios.h>
#endif

namespace {

const auto invalidHandle = reinterpret_cast<void *>(intptr_t(-1));

#ifdef Q_OS_WIN
const int notFound = ERROR_FILE_NOT_FOUND;
const int notOpen = ERROR_INVALID_HANDLE;
const int busy = ERROR_ACCESS_DENIED;
const int cancelled = ERROR_OPERATION_ABORTED;
#else
const int notFound = ENOENT;
const int notOpen = EBADF;
const int busy = EBUSY;
const int cancelled = ECANCELED;
#endif

// The name a user gives for the port at the far end of `line`.
QString portOf(const Line &line)
{
#ifdef Q_OS_WIN
    return QString::fromStdString(line.portName());
#else
    return QLatin1String("/dev/") + QString::fromStdString(line.portName());
#endif
}

// Up to `size` bytes from the far end; gives up after `silence` ms without one.
QByteArray received(Line &line, int size, int silence = 5000)
{
    return QByteArray::fromStdString(line.receive(std::size_t(size), silence));
}

bool openPort(Serial &serial, const Line &line, int interval = 0, int total = 5000)
{
    serial.setFileName(portOf(line));
    return serial.open() && serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit)
        && serial.setTimeouts(interval, total, 5000);
}

// The standard output of a program run with the arguments.
QString output(const QString &program, const QStringList &arguments)
{
    return QString::fromLocal8Bit(runChild(program, arguments).output);
}

// Opens `path` from a second process: its error string, empty on success.
QString openElsewhere(const QString &path)
{
    return output(QCoreApplication::applicationFilePath(), {QStringLiteral("--try-open"), path});
}

// The system's own message for an error code, as the port reports it.
QString systemText(int error)
{
#ifdef Q_OS_WIN
    return qt_error_string(error).trimmed();
#else
    return QString::fromLocal8Bit(strerror(error));
#endif
}

#ifndef Q_OS_WIN
// The terminal's settings, which both of its sides share.
termios terminalSettings(const Line &line)
{
    termios state = {};
    tcgetattr(line.masterDescriptor(), &state);
    return state;
}

// Every byte value in order, over and over.
QByteArray everyByte(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i);
    return bytes;
}
#endif

// The descriptors of this process; on Windows, its handles.
int openHandles()
{
#ifdef Q_OS_WIN
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return int(count);
#else
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
#endif
}

// What a child started now holds of the port: the descriptors it has, or on
// Windows which of the port's handles (values in this process) are serial
// ports in the child.
QStringList childHolds(const QStringList &portHandles)
{
#ifdef Q_OS_WIN
    return output(QCoreApplication::applicationFilePath(),
                  QStringList{QStringLiteral("--serial-handles")} + portHandles)
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
#else
    Q_UNUSED(portHandles)
    return output(QStringLiteral("/bin/ls"), {QStringLiteral("/proc/self/fd")})
        .split(QLatin1Char('\n'));
#endif
}

} // namespace

class tst_Serial : public QObject
{
    Q_OBJECT

public:
    // The end of a queued call from another thread.
    Q_INVOKABLE void takePortInfo(const SerialPortInfo &port) { m_received = port; }

private slots:
    void identity();
    void pathRule_data();
    void pathRule();
    void relativeNamesOpenUnderDev();
    void exclusiveUntilReleased();
    void misuseWarnings();
    void lineSettings_data();
    void lineSettings();
    void lineSettingsOfNoTerminal();
    void bytesAvailableAndClear();
    void readAfterHangUp();
    void cookedLineComesThroughBinary();
    void lastUsersStateLeavesBytesAlone_data();
    void lastUsersStateLeavesBytesAlone();
    void timeoutsFollowTheDevice();
    void closeWakesBlockedRead();
    void closeRacingOpen();
    void childrenInheritNothing();
    void enumDevices();
    void portInfo();

private:
    std::optional<SerialPortInfo> m_received;
};

void tst_Serial::identity()
{
    Serial serial;
    QCOMPARE(serial.metaObject()->className(), "Serial");
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QCOMPARE(serial.qt_metacast("QRecursiveMutex"),
             static_cast<void *>(static_cast<QRecursiveMutex *>(&serial)));
#else
    QCOMPARE(serial.qt_metacast("QMutex"), static_cast<void *>(static_cast<QMutex *>(&serial)));
#endif
    QVERIFY(serial.isSequential());
    QCOMPARE(serial.handle(), invalidHandle);
    serial.close(); // harmless on a device never opened
    QCOMPARE(serial.handle(), invalidHandle);

    // A scoped locker takes the port itself; its owner may take it again,
    // another thread may not.
    const auto lockedElsewhere = [&serial] {
        bool locked = false;
        std::thread other([&] {
            locked = serial.tryLock();
            if (locked)
                serial.unlock();
        });
        other.join();
        return locked;
    };
    {
        QMutexLocker outer(&serial);
        QVERIFY(serial.tryLock());
        serial.unlock();
        QVERIFY(!lockedElsewhere());
    }
    QVERIFY(lockedElsewhere());
}

void tst_Serial::pathRule_data()
{
    QTest::addColumn<QString>("form"); // %1 stands for the port's name, "pts/3" or "COM10"
#ifdef Q_OS_WIN
    QTest::newRow("name") << "%1";
    QTest::newRow("device prefix") << "\\\\.\\%1";
    QTest::newRow("double slash") << "//./%1";
#else
    QTest::newRow("absolute path") << "/dev/%1";
    QTest::newRow("name under /dev") << "%1";
    QTest::newRow("device prefix") << "\\\\.\\%1";
    QTest::newRow("double slash") << "//dev/%1";
#endif
}

void tst_Serial::pathRule()
{
    QFETCH(QString, form);
    Line line;
    QVERIFY(line.isValid());
    const QString name = form.arg(QString::fromStdString(line.portName()));

    Serial serial;
    serial.setFileName(name);
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
    QCOMPARE(serial.fileName(), name);
    QCOMPARE(serial.openMode(), QIODevice::ReadWrite | QIODevice::Unbuffered);
    QVERIFY(serial.handle() != invalidHandle);

    // The far end of this very terminal hears it.
    QVERIFY(serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit));
    QCOMPARE(serial.write("ping"), qint64(4));
    QCOMPARE(serial.error(), Serial::NoError);
    QCOMPARE(received(line, 4), QByteArray("ping"));
}

void tst_Serial::relativeNamesOpenUnderDev()
{
    // Never in the working directory, even where a file of that name lies.
    QTemporaryDir dir;
    QFile decoy(dir.filePath(QStringLiteral("ttyNothing")));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    Serial serial;
    serial.setFileName(QStringLiteral("ttyNothing"));
    const bool opened = serial.open();
    QDir::setCurrent(previous);

    QVERIFY(!opened);
    QCOMPARE(serial.errorString(), systemText(notFound));
    QCOMPARE(serial.error(), Serial::DeviceGoneError); // as while an adapter is unplugged
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.handle(), invalidHandle);
}

void tst_Serial::exclusiveUntilReleased()
{
    if (underWine())
        QSKIP("Wine opens a COM port a second time; Windows refuses with ERROR_ACCESS_DENIED");
    Line line;
    Serial first;
    QVERIFY(openPort(first, line));

    Serial second;
    second.setFileName(portOf(line));
    QVERIFY(!second.open());
    // TIOCEXCL keeps out ordinary users with EBUSY; the administrator passes
    // it, meets the lock, and learns the same.
    QCOMPARE(second.errorString(), systemText(busy));
    QCOMPARE(second.error(), Serial::OtherError); // a busy device is there
    QCOMPARE(second.handle(), invalidHandle);
    const QString elsewhere = openElsewhere(portOf(line));
    QCOMPARE(elsewhere, systemText(busy));

    // The refusals leave the first connection working.
    QCOMPARE(first.write("still"), qint64(5));
    QCOMPARE(received(line, 5), QByteArray("still"));

    first.close();
    QCOMPARE(first.handle(), invalidHandle);
    QCOMPARE(openElsewhere(portOf(line)), QString());
    QVERIFY(second.open());
    second.close();

    // Destruction releases an open port, too.
    auto *owned = new Serial;
    owned->setFileName(portOf(line));
    QVERIFY(owned->open());
    delete owned;
    QVERIFY(first.open());
}

void tst_Serial::misuseWarnings()
{
    Line line;
    Serial serial;
    serial.setFileName(portOf(line));
    QTest::ignoreMessage(QtWarningMsg, "Serial::setSettings: File is not open");
    QVERIFY(!serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit));
    QCOMPARE(serial.error(), Serial::OtherError);
    serial.clearError();
    QCOMPARE(serial.error(), Serial::NoError);
    QVERIFY(!serial.setTimeouts(0, 100, 100));
    QCOMPARE(serial.errorString(), systemText(notOpen));
    QCOMPARE(serial.error(), Serial::OtherError);

    QVERIFY(serial.open());
    QVERIFY(!serial.setSettings(9600, 9, Serial::NoParity, Serial::OneStopBit));
    const QString refusal = serial.errorString();
    QVERIFY(!refusal.isEmpty());
    QVERIFY(serial.setTimeouts(0, 100, 100));
    QCOMPARE(serial.error(), Serial::NoError);
    void *const handle = serial.handle();
    const QByteArray warning =
        "Serial::open: Serial (" + portOf(line).toUtf8() + ") is already open";
    QTest::ignoreMessage(QtWarningMsg, warning.constData());
    QVERIFY(!serial.open(QIODevice::ReadOnly));
    QCOMPARE(serial.error(), Serial::OtherError);
    QCOMPARE(serial.openMode(), QIODevice::ReadWrite | QIODevice::Unbuffered);
    QCOMPARE(serial.handle(), handle);
    QCOMPARE(serial.errorString(), refusal); // untouched
}

// What a row expects of termios; on Windows only whether there is such a value.
#ifdef Q_OS_WIN
#define TERMIOS(value) 1
#else
#define TERMIOS(value) int(value)
#endif

void tst_Serial::lineSettings_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("speed"); // the B constant read back, 0 for a rate without one
    QTest::addColumn<int>("frame"); // the frame bits a pseudo-terminal keeps

    QTest::newRow("9600 8N1") << 9600 << 8 << 0 << 0 << true << TERMIOS(B9600) << 0;
    QTest::newRow("115200 8O1") << 115200 << 8 << 1 << 0 << true << TERMIOS(B115200)
                                << TERMIOS(PARODD);
    QTest::newRow("19200 7E2") << 19200 << 7 << 2 << 2 << true << TERMIOS(B19200)
                               << TERMIOS(CSTOPB);
    QTest::newRow("1200 8M1") << 1200 << 8 << 3 << 0 << true << TERMIOS(B1200)
                              << TERMIOS(PARODD | CMSPAR);
    QTest::newRow("4800 8S1") << 4800 << 8 << 4 << 0 << true << TERMIOS(B4800) << TERMIOS(CMSPAR);
    QTest::newRow("300 5N1.5") << 300 << 5 << 0 << 1 << true << TERMIOS(B300) << TERMIOS(CSTOPB);
    QTest::newRow("4000000 8N2") << 4000000 << 8 << 0 << 2 << true << TERMIOS(B4000000)
                                 << TERMIOS(CSTOPB);
    // Rates without a B constant go to the driver as they are; a
    // pseudo-terminal keeps every one.
    for (const int rate : {14400, 56000, 128000, 256000, 250000, 31250, 100000, 12345})
        QTest::addRow("%d 8N1", rate) << rate << 8 << 0 << 0 << true << 0 << 0;
    // Refused before any driver is asked: termios takes a rate of 0 as
    // "hang up", and a UART has no such frames.
    QTest::newRow("rate 0") << 0 << 8 << 0 << 0 << false << 0 << 0;
    QTest::newRow("nine data bits") << 9600 << 9 << 0 << 0 << false << 0 << 0;
    QTest::newRow("parity code 5") << 9600 << 8 << 5 << 0 << false << 0 << 0;
    QTest::newRow("1.5 stop bits, 8 data bits") << 9600 << 8 << 0 << 1 << false << 0 << 0;
    QTest::newRow("2 stop bits, 5 data bits") << 9600 << 5 << 0 << 2 << false << 0 << 0;
}

#ifdef Q_OS_WIN

// Rate and stop bits, as the far end sees them.
void tst_Serial::lineSettings()
{
    QFETCH(int, baudRate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(bool, accepted);
    QFETCH(int, speed);

    if (underWine()) {
        if (accepted && dataBits != 8)
            QSKIP("Wine refuses data bits other than 8 on a pseudo-terminal; Windows drivers "
                  "take 5 to 8");
        if (accepted && !speed)
            QSKIP("Wine sets a rate without a termios constant as 38400 with a divisor of its "
                  "own, which a pseudo-terminal does not keep");
    }
    Line line;
    Serial serial;
    QVERIFY(openPort(serial, line));
    QVERIFY(serial.setSettings(2400, 8, Serial::NoParity, Serial::OneStopBit));
    const bool taken =
        serial.setSettings(baudRate, dataBits, Serial::Parity(parity), Serial::StopBits(stopBits));
    const Line::Settings after = line.settings();
    QCOMPARE(serial.error(), accepted ? Serial::NoError : Serial::OtherError);
    if (!accepted) {
        QVERIFY(!taken);
        QCOMPARE(after.baudRate, 2400u);
        QCOMPARE(after.stopBits, 1);
        QCOMPARE(serial.errorString(), systemText(ERROR_INVALID_PARAMETER));
        return;
    }
    QVERIFY2(taken, qPrintable(serial.errorString()));
    QCOMPARE(after.baudRate, uint(baudRate));
    QCOMPARE(after.stopBits, stopBits == Serial::OneStopBit ? 1 : 2);
}

#else

void tst_Serial::lineSettings()
{
    QFETCH(int, baudRate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(bool, accepted);
    QFETCH(int, speed);
    QFETCH(int, frame);

    Line line;
    const int master = line.masterDescriptor();
    termios before = terminalSettings(line);
    cfsetspeed(&before, B2400);
    before.c_cflag = (before.c_cflag | CRTSCTS | PARODD | CMSPAR | CSTOPB) & ~CLOCAL;
    before.c_iflag |= IXON;
    tcsetattr(master, TCSANOW, &before);

    Serial serial;
    serial.setFileName(portOf(line));
    QVERIFY(serial.open());
    before = terminalSettings(line); // what a refused change must leave alone
    const bool taken =
        serial.setSettings(baudRate, dataBits, Serial::Parity(parity), Serial::StopBits(stopBits));
    const termios after = terminalSettings(line);
    QCOMPARE(serial.error(), accepted ? Serial::NoError : Serial::OtherError);
    if (!accepted) {
        QVERIFY(!taken);
        QCOMPARE(serial.errorString(), systemText(EINVAL));
        QCOMPARE(terminalRate(master), 2400u);
        QCOMPARE(after.c_cflag, before.c_cflag);
        QCOMPARE(after.c_iflag, before.c_iflag);
        return;
    }
    QVERIFY2(taken, qPrintable(serial.errorString()));
    QCOMPARE(terminalRate(master), uint(baudRate));
    if (speed) {
        QCOMPARE(int(cfgetospeed(&after)), speed);
        QCOMPARE(int(cfgetispeed(&after)), speed);
    }
    // A pseudo-terminal always reports 8 bits without parity enable; the
    // parity kind and the stop bits are kept as set.
    QCOMPARE(int(after.c_cflag & (PARODD | CMSPAR | CSTOPB)), frame);
    QCOMPARE(after.c_cflag & (CRTSCTS | CLOCAL), tcflag_t(CLOCAL));
    QCOMPARE(after.c_iflag & IXON, tcflag_t(0));
}

#endif

void tst_Serial::lineSettingsOfNoTerminal()
{
    // A device without line settings refuses them: the system says why.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("plain")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close(); // on Windows the port is opened exclusively
    Serial serial;
    serial.setFileName(QDir::toNativeSeparators(file.fileName()));
#ifdef Q_OS_WIN
    const int noLineSettings = ERROR_INVALID_FUNCTION;
#else
    const int noLineSettings = ENOTTY;
#endif
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
    QVERIFY(!serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit));
    QCOMPARE(serial.error(), Serial::OtherError);
    QVERIFY(serial.isOpen());
    if (underWine())
        QSKIP("Wine takes the request for a serial port's and fails it with ERROR_INVALID_HANDLE; "
              "Windows fails it with ERROR_INVALID_FUNCTION");
    QCOMPARE(serial.errorString(), systemText(noLineSettings));
}

void tst_Serial::bytesAvailableAndClear()
{
    Line line;
    Serial serial;
    QVERIFY(openPort(serial, line));
    QCOMPARE(serial.bytesAvailable(), qint64(0));
    QVERIFY(line.send("stale"));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(5));
    serial.clearInputBuffer();
    QCOMPARE(serial.bytesAvailable(), qint64(0));

    // Only the input goes: what was written still reaches the far end.
    QCOMPARE(serial.write("out"), qint64(3));
    serial.clearInputBuffer();
    QCOMPARE(received(line, 3), QByteArray("out"));
    QVERIFY(line.send("new"));
    QCOMPARE(serial.read(3), QByteArray("new"));
    QCOMPARE(serial.error(), Serial::NoError);
}

void tst_Serial::readAfterHangUp()
{
#ifdef Q_OS_WIN
    QSKIP("Wine ends reads over a line that hung up as time-outs and fails writes with "
          "ERROR_NOT_READY; Windows drivers fail the calls on an unplugged adapter with the codes "
          "of a removed device");
#else
    std::optional<Line> line(std::in_place);
    Serial serial;
    QVERIFY(openPort(serial, *line, 0, 20000));
    // The far end sends two bytes while the read waits, then hangs up.
    QElapsedTimer clock;
    clock.start();
    std::thread farEnd([&line] {
        line->send("ab");
        QThread::msleep(200);
        line->hangUp();
    });
    const QByteArray got = serial.read(10);
    farEnd.join();
    QCOMPARE(got, QByteArray("ab"));
    QCOMPARE(serial.errorString(), systemText(EIO));
    QCOMPARE(serial.error(), Serial::DeviceGoneError);

    // As an unplugged adapter: every call fails at once, and says why.
    QCOMPARE(serial.read(10), QByteArray());
    QCOMPARE(serial.error(), Serial::DeviceGoneError);
    QVERIFY(serial.write("x") <= 0);
    QCOMPARE(serial.error(), Serial::DeviceGoneError);
    QVERIFY(!serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit));
    QCOMPARE(serial.error(), Serial::DeviceGoneError);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(serial.isOpen());

    // A caller that reads on regardless has every read back at once, never
    // after the time-out: whatever it spins is its own loop.
    int reads = 0;
    QElapsedTimer loop;
    loop.start();
    while (loop.elapsed() < 1000) {
        serial.read(10);
        ++reads;
    }
    QVERIFY2(reads > 100, qPrintable(QString::number(reads)));

    // Once the last handle of the old terminal is gone, the device comes
    // back, mostly at the same name as a returning adapter, and opens.
    serial.close();
    QCOMPARE(serial.error(), Serial::NoError);
    line.reset();
    Line back;
    QVERIFY(openPort(serial, back));
    QCOMPARE(serial.write("back"), qint64(4));
    QCOMPARE(serial.error(), Serial::NoError);
    QCOMPARE(received(back, 4), QByteArray("back"));
#endif
}

void tst_Serial::cookedLineComesThroughBinary()
{
#ifdef Q_OS_WIN
    QSKIP("A Windows port has no line discipline that its last user could leave; Wine applies "
          "the pseudo-terminal's until the first SetCommState");
#else
    // The line as a login shell leaves it ("stty sane"): line editing, echo,
    // signals, CR/LF translation, output post-processing.
    Line line;
    termios sane = terminalSettings(line);
    sane.c_iflag = BRKINT | ICRNL | IMAXBEL | IXON | IXOFF | INPCK;
    sane.c_oflag = OPOST | ONLCR;
    sane.c_lflag = ISIG | ICANON | IEXTEN | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE;
    sane.c_cflag = (sane.c_cflag & ~(CSIZE | PARENB)) | CS8 | CREAD | HUPCL;
    cfsetspeed(&sane, B19200);
    sane.c_cc[VSTART] = 0x01;
    sane.c_cc[VSTOP] = 0x02;
    tcsetattr(line.masterDescriptor(), TCSANOW, &sane);
    const termios before = terminalSettings(line);

    Serial serial;
    serial.setFileName(portOf(line));
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(0, 500, 500));

    // ENQ alone, no line end after it; EOT at the start of a line.
    QVERIFY(line.send("\x05"));
    QCOMPARE(serial.read(1), QByteArray("\x05"));
    QVERIFY(line.send("\x04"));
    QCOMPARE(serial.read(1), QByteArray("\x04"));
    const QByteArray bytes = everyByte(512);
    QVERIFY(line.send(bytes.toStdString()));
    QCOMPARE(serial.read(bytes.size()).toHex(), bytes.toHex());
    QCOMPARE(received(line, 1, 200), QByteArray()); // nothing echoed

    // Rate, frame and the settings that stay with the driver are untouched.
    const termios after = terminalSettings(line);
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    const tcflag_t kept = CSIZE | PARENB | PARODD | CSTOPB | CREAD | HUPCL;
    QCOMPARE(after.c_cflag & kept, before.c_cflag & kept);
    QCOMPARE(after.c_iflag & (IXOFF | INPCK | BRKINT), tcflag_t(IXOFF | INPCK | BRKINT));
    QCOMPARE(after.c_cc[VSTART], cc_t(0x01));
    QCOMPARE(after.c_cc[VSTOP], cc_t(0x02));
#endif
}

void tst_Serial::lastUsersStateLeavesBytesAlone_data()
{
#ifdef Q_OS_WIN
    QSKIP("What a terminal's last user leaves (parity marks, output stopped) is termios's; a "
          "Windows port's settings are its DCB, which setSettings() sets");
#else
    QTest::addColumn<uint>("inputFlags"); // as the last user left them
    QTest::addColumn<bool>("outputSuspended");

    // PARMRK doubles every 0xff, to tell it from the mark of a parity error.
    QTest::newRow("parity errors marked") << uint(PARMRK) << false;
    QTest::newRow("parity errors marked and checked") << uint(PARMRK | INPCK) << false;
    QTest::newRow("output suspended") << 0u << true;
#endif
}

void tst_Serial::lastUsersStateLeavesBytesAlone()
{
#ifndef Q_OS_WIN
    QFETCH(uint, inputFlags);
    QFETCH(bool, outputSuspended);

    Line line;
    termios left = terminalSettings(line);
    left.c_iflag |= inputFlags;
    QCOMPARE(tcsetattr(line.masterDescriptor(), TCSANOW, &left), 0);
    if (outputSuspended)
        QVERIFY(line.holdOutput(true));

    Serial serial;
    serial.setFileName(portOf(line));
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(100, 2000, 500));
    const QByteArray bytes = everyByte(256);
    QVERIFY(line.send(bytes.toStdString()));
    QCOMPARE(serial.read(2 * bytes.size()).toHex(), bytes.toHex());
    QCOMPARE(serial.write("hello"), qint64(5));
    QCOMPARE(received(line, 5), QByteArray("hello"));
    // The parity check itself stays as the driver has it.
    QCOMPARE(terminalSettings(line).c_iflag & (PARMRK | INPCK), tcflag_t(inputFlags & INPCK));
#endif
}

void tst_Serial::timeoutsFollowTheDevice()
{
    if (underWine())
        QSKIP("Wine forgets a port's time-outs when its handle closes; Windows keeps them in the "
              "port's driver");
    Line line;
    Serial serial;
    QVERIFY(openPort(serial, line, 0, 200));
    serial.close();
    QVERIFY(serial.open()); // no setTimeouts() this time

    // Should the read wait without limit, the far end ends it after 3 s.
    std::thread watchdog([&line] {
        QThread::msleep(3000);
        line.send("0123456789");
    });
    QElapsedTimer clock;
    clock.start();
    char buffer[10];
    const qint64 got = serial.read(buffer, 10);
    const qint64 took = clock.elapsed();
    watchdog.join();
    QCOMPARE(got, qint64(0));
    QCOMPARE(serial.error(), Serial::TimeoutError);
    QVERIFY2(took >= 200 && took < 2500, qPrintable(QString::number(took)));
}

void tst_Serial::closeWakesBlockedRead()
{
    if (underWine())
        QSKIP("Wine's CancelSynchronousIo does not reach a read from a COM port: the close would "
              "wait for the read's time-out");
    Line line;
    Serial serial;
    QVERIFY(openPort(serial, line, 0, 10000));
    QVERIFY(line.send("ab"));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(2));

    QByteArray got;
    qint64 took = 0;
    std::thread reader([&] {
        QElapsedTimer clock;
        clock.start();
        got = serial.read(10);
        took = clock.elapsed();
    });
    QThread::msleep(300);
    serial.close();
    QCOMPARE(serial.handle(), invalidHandle);
    reader.join();

#ifndef Q_OS_WIN
    // Windows reports no count for a cancelled read.
    QCOMPARE(got, QByteArray("ab"));
#endif
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    QCOMPARE(serial.errorString(), systemText(cancelled));
    QCOMPARE(serial.error(), Serial::OtherError); // ended by the close, not by the device

    // The port is free again at once.
    QVERIFY(serial.open());
}

void tst_Serial::closeRacingOpen()
{
    // A reconnect pressed while a worker opens the port again: afterwards the
    // port is either open and working or closed with nothing held.
    Line line;
    Serial serial;
    serial.setFileName(portOf(line));
    const int baseline = openHandles();
    int openButDead = 0;
    int closedButHeld = 0;
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 1000 && clock.elapsed() < 5000; ++round) {
        std::atomic<int> ready{0};
        const auto together = [&ready] {
            ++ready;
            while (ready < 2)
                std::this_thread::yield();
        };
        std::thread opener([&] {
            together();
            serial.open();
        });
        // The close lands anywhere in the first 60 µs of the open.
        std::thread closer([&] {
            together();
            QElapsedTimer delay;
            delay.start();
            while (delay.nsecsElapsed() < round % 60 * 1000) { }
            serial.close();
        });
        opener.join();
        closer.join();
        if (serial.isOpen()) {
            if (serial.handle() == invalidHandle || !serial.setTimeouts(0, 100, 100)
                || serial.write("x", 1) != 1)
                ++openButDead;
        } else if (serial.handle() != invalidHandle) {
            ++closedButHeld;
        }
        serial.close();
        line.receive(1, 0);
    }
    QCOMPARE(openButDead, 0);
    QCOMPARE(closedButHeld, 0);
    QCOMPARE(openHandles(), baseline);
}

void tst_Serial::childrenInheritNothing()
{
    // Children started by one thread while another opens the port again and
    // again: none may hold anything of the port, whenever it starts.
    Line line;
    const QStringList alone = childHolds({});
    Serial serial;
    serial.setFileName(portOf(line));
    std::mutex handlesMutex;
    QStringList handles; // each the port has had
    std::atomic<bool> done{false};
    std::thread reopening([&] {
        while (!done) {
            if (serial.open()) {
                const QString handle = QString::number(quintptr(serial.handle()));
                const std::lock_guard<std::mutex> lock(handlesMutex);
                if (!handles.contains(handle))
                    handles.append(handle);
            }
            serial.close();
        }
    });
    int inherited = 0;
    QStringList example;
    // Under Wine a child takes a while to start.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 200 && clock.elapsed() < 10000; ++i) {
        std::unique_lock<std::mutex> lock(handlesMutex);
        const QStringList candidates = handles;
        lock.unlock();
        const QStringList held = childHolds(candidates);
        if (held != alone) {
            ++inherited;
            example = held;
        }
    }
    done = true;
    reopening.join();
    QVERIFY2(inherited == 0, qPrintable(example.join(QLatin1Char(' '))));
}

void tst_Serial::enumDevices()
{
    const QStringList names = Serial::EnumDevices();
    QCOMPARE(names.size(), QSet<QString>(names.begin(), names.end()).size());
    for (const QString &name : names) {
#ifdef Q_OS_WIN
        // A name of the system's map of serial ports is a device name.
        wchar_t target[MAX_PATH];
        QVERIFY2(QueryDosDeviceW(reinterpret_cast<const wchar_t *>(name.utf16()), target, MAX_PATH),
                 qPrintable(name));
#else
        QVERIFY2(QFileInfo::exists(QLatin1String("/dev/") + name), qPrintable(name));
#endif
    }
}

// The ports' descriptions themselves are the port layer's cases
// (serialport/describeports.cpp); here, what reaches the application.
void tst_Serial::portInfo()
{
    const QList<SerialPortInfo> ports = Serial::portInfo();
    QStringList names;
    for (const SerialPortInfo &port : ports)
        names.append(port.portName());
    QCOMPARE(names, Serial::EnumDevices());
    const SerialPortInfo empty;
    QVERIFY(empty.portName().isEmpty() && empty.displayName().isEmpty());
    QVERIFY(!empty.hasVendorIdentifier() && !empty.hasProductIdentifier());

    // By name, as a queued connection written the Qt 4 way looks the type up.
    const SerialPortInfo sent = ports.value(0);
    std::thread sender([&] {
        QMetaObject::invokeMethod(this, "takePortInfo", Qt::QueuedConnection,
                                  Q_ARG(SerialPortInfo, sent));
    });
    sender.join();
    QTRY_VERIFY(m_received.has_value());
    QCOMPARE(m_received->portName(), sent.portName());
    QCOMPARE(m_received->displayName(), sent.displayName());
}

int main(int argc, char *argv[])
{
    // Helper modes: a second process that tries to open a port, or (on
    // Windows) one that tells which of the given handle values are serial
    // ports in it.
    if (argc == 3 && qstrcmp(argv[1], "--try-open") == 0) {
        Serial serial;
        serial.setFileName(QString::fromLocal8Bit(argv[2]));
        if (serial.open())
            return 0;
        fputs(qPrintable(serial.errorString()), stdout);
        return 1;
    }
#ifdef Q_OS_WIN
    if (argc >= 2 && qstrcmp(argv[1], "--serial-handles") == 0) {
        for (int i = 2; i < argc; ++i) {
            DCB state = {};
            state.DCBlength = sizeof state;
            const quintptr handle = QByteArray(argv[i]).toULongLong();
            if (GetCommState(reinterpret_cast<HANDLE>(handle), &state))
                std::printf("%s\n", argv[i]);
        }
        return 0;
    }
#endif
    QCoreApplication app(argc, argv);
    tst_Serial test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serial.moc"
