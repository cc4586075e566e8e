#include "childprocess.h"
#include "serial.h"
#include "serialport/terminalrate.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtTest/QtTest>

#include <cstdio>

#include <atomic>
#include <thread>
#include <utility>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

const auto invalidHandle = reinterpret_cast<void *>(intptr_t(-1));

// A pseudo-terminal whose master side plays the far end of the line. It
// starts raw, so that nothing is echoed or translated before a test asks.
struct Pty
{
    Pty()
    {
        termios raw = {};
        cfmakeraw(&raw);
        char name[PATH_MAX];
        if (openpty(&master, &slave, name, &raw, nullptr) == 0)
            path = QString::fromLocal8Bit(name);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty()
    {
        ::close(master);
        ::close(slave); // opened before the port: exclusive opening does not keep it out
    }

    termios settings() const
    {
        termios state = {};
        tcgetattr(master, &state);
        return state;
    }
    // Gives up after `timeout` ms without room, so that a helper thread ends.
    bool send(const QByteArray &bytes, int timeout = 10000) const
    {
        pollfd entry = {master, POLLOUT, 0};
        for (int sent = 0; sent < bytes.size();) {
            if (poll(&entry, 1, timeout) <= 0)
                return false;
            const ssize_t n =
                ::write(master, bytes.constData() + sent, size_t(bytes.size() - sent));
            if (n < 0 && errno != EAGAIN)
                return false;
            sent += int(qMax<ssize_t>(n, 0));
        }
        return true;
    }
    // Up to `size` bytes from the far end; gives up after `timeout` ms of silence.
    QByteArray receive(int size, int timeout = 5000) const
    {
        QByteArray bytes(size, Qt::Uninitialized);
        int got = 0;
        pollfd entry = {master, POLLIN, 0};
        while (got < size && poll(&entry, 1, timeout) > 0) {
            const ssize_t n = ::read(master, bytes.data() + got, size_t(size - got));
            if (n <= 0)
                break;
            got += int(n);
        }
        return bytes.left(got);
    }

    int master = -1;
    int slave = -1;
    QString path;
};

bool openPort(Serial &serial, const Pty &pty, int interval = 0, int total = 5000)
{
    serial.setFileName(pty.path);
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
    return QString::fromLocal8Bit(strerror(error));
}

// Every byte value in order, over and over.
QByteArray everyByte(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i);
    return bytes;
}

int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

// The descriptors that a child started now holds.
QStringList childDescriptors()
{
    return output(QStringLiteral("/bin/ls"), {QStringLiteral("/proc/self/fd")})
        .split(QLatin1Char('\n'));
}

} // namespace

class tst_Serial : public QObject
{
    Q_OBJECT

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
    QTest::addColumn<QString>("prefix"); // put before the slave's path below /dev/
    QTest::newRow("absolute path") << "/dev/";
    QTest::newRow("name under /dev") << "";
    QTest::newRow("device prefix") << "\\\\.\\";
    QTest::newRow("double slash") << "//dev/";
}

void tst_Serial::pathRule()
{
    QFETCH(QString, prefix);
    Pty pty;
    QVERIFY(pty.path.startsWith(QLatin1String("/dev/pts/")));
    const QString name = prefix + pty.path.mid(5);

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
    QCOMPARE(pty.receive(4), QByteArray("ping"));
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
    QCOMPARE(serial.errorString(), systemText(ENOENT));
    QCOMPARE(serial.error(), Serial::DeviceGoneError); // as while an adapter is unplugged
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.handle(), invalidHandle);
}

void tst_Serial::exclusiveUntilReleased()
{
    Pty pty;
    Serial first;
    QVERIFY(openPort(first, pty));

    Serial second;
    second.setFileName(pty.path);
    QVERIFY(!second.open());
    // TIOCEXCL keeps out ordinary users with EBUSY; the administrator passes
    // it, meets the lock, and learns the same.
    QCOMPARE(second.errorString(), systemText(EBUSY));
    QCOMPARE(second.error(), Serial::OtherError); // a busy device is there
    QCOMPARE(second.handle(), invalidHandle);
    const QString elsewhere = openElsewhere(pty.path);
    QCOMPARE(elsewhere, systemText(EBUSY));

    // The refusals leave the first connection working.
    QCOMPARE(first.write("still"), qint64(5));
    QCOMPARE(pty.receive(5), QByteArray("still"));

    first.close();
    QCOMPARE(first.handle(), invalidHandle);
    QCOMPARE(openElsewhere(pty.path), QString());
    QVERIFY(second.open());
    second.close();

    // Destruction releases an open port, too.
    auto *owned = new Serial;
    owned->setFileName(pty.path);
    QVERIFY(owned->open());
    delete owned;
    QVERIFY(first.open());
}

void tst_Serial::misuseWarnings()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.path);
    QTest::ignoreMessage(QtWarningMsg, "Serial::setSettings: File is not open");
    QVERIFY(!serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit));
    QCOMPARE(serial.error(), Serial::OtherError);
    serial.clearError();
    QCOMPARE(serial.error(), Serial::NoError);
    QVERIFY(!serial.setTimeouts(0, 100, 100));
    QCOMPARE(serial.errorString(), systemText(EBADF));
    QCOMPARE(serial.error(), Serial::OtherError);

    QVERIFY(serial.open());
    QVERIFY(!serial.setSettings(9600, 9, Serial::NoParity, Serial::OneStopBit));
    QVERIFY(serial.setTimeouts(0, 100, 100));
    QCOMPARE(serial.error(), Serial::NoError);
    void *const handle = serial.handle();
    const QByteArray warning = "Serial::open: Serial (" + pty.path.toUtf8() + ") is already open";
    QTest::ignoreMessage(QtWarningMsg, warning.constData());
    QVERIFY(!serial.open(QIODevice::ReadOnly));
    QCOMPARE(serial.error(), Serial::OtherError);
    QCOMPARE(serial.openMode(), QIODevice::ReadWrite | QIODevice::Unbuffered);
    QCOMPARE(serial.handle(), handle);
    QCOMPARE(serial.errorString(), systemText(EINVAL)); // untouched
}

void tst_Serial::lineSettings_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("speed"); // the B constant read back, 0 for a rate without one
    QTest::addColumn<int>("frame"); // the frame bits a pseudo-terminal keeps

    QTest::newRow("9600 8N1") << 9600 << 8 << 0 << 0 << true << int(B9600) << 0;
    QTest::newRow("115200 8O1") << 115200 << 8 << 1 << 0 << true << int(B115200) << int(PARODD);
    QTest::newRow("19200 7E2") << 19200 << 7 << 2 << 2 << true << int(B19200) << int(CSTOPB);
    QTest::newRow("1200 8M1") << 1200 << 8 << 3 << 0 << true << int(B1200) << int(PARODD | CMSPAR);
    QTest::newRow("4800 8S1") << 4800 << 8 << 4 << 0 << true << int(B4800) << int(CMSPAR);
    QTest::newRow("300 5N1.5") << 300 << 5 << 0 << 1 << true << int(B300) << int(CSTOPB);
    QTest::newRow("4000000 8N2") << 4000000 << 8 << 0 << 2 << true << int(B4000000) << int(CSTOPB);
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

void tst_Serial::lineSettings()
{
    QFETCH(int, baudRate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(bool, accepted);
    QFETCH(int, speed);
    QFETCH(int, frame);

    Pty pty;
    termios before = pty.settings();
    cfsetspeed(&before, B2400);
    before.c_cflag = (before.c_cflag | CRTSCTS | PARODD | CMSPAR | CSTOPB) & ~CLOCAL;
    before.c_iflag |= IXON;
    tcsetattr(pty.master, TCSANOW, &before);

    Serial serial;
    serial.setFileName(pty.path);
    QVERIFY(serial.open());
    before = pty.settings(); // what a refused change must leave alone
    const bool taken =
        serial.setSettings(baudRate, dataBits, Serial::Parity(parity), Serial::StopBits(stopBits));
    const termios after = pty.settings();
    QCOMPARE(serial.error(), accepted ? Serial::NoError : Serial::OtherError);
    if (!accepted) {
        QVERIFY(!taken);
        QCOMPARE(serial.errorString(), systemText(EINVAL));
        QCOMPARE(terminalRate(pty.master), 2400u);
        QCOMPARE(after.c_cflag, before.c_cflag);
        QCOMPARE(after.c_iflag, before.c_iflag);
        return;
    }
    QVERIFY2(taken, qPrintable(serial.errorString()));
    QCOMPARE(terminalRate(pty.master), uint(baudRate));
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

void tst_Serial::lineSettingsOfNoTerminal()
{
    // A device without line settings refuses them: the system says why.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("plain")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    Serial serial;
    serial.setFileName(file.fileName());
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
    QVERIFY(!serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit));
    QCOMPARE(serial.errorString(), systemText(ENOTTY));
    QVERIFY(serial.isOpen());
}

void tst_Serial::bytesAvailableAndClear()
{
    Pty pty;
    Serial serial;
    QVERIFY(openPort(serial, pty));
    QCOMPARE(serial.bytesAvailable(), qint64(0));
    QVERIFY(pty.send("stale"));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(5));
    serial.clearInputBuffer();
    QCOMPARE(serial.bytesAvailable(), qint64(0));

    // Only the input goes: what was written still reaches the far end.
    QCOMPARE(serial.write("out"), qint64(3));
    serial.clearInputBuffer();
    QCOMPARE(pty.receive(3), QByteArray("out"));
    QVERIFY(pty.send("new"));
    QCOMPARE(serial.read(3), QByteArray("new"));
    QCOMPARE(serial.error(), Serial::NoError);
}

void tst_Serial::readAfterHangUp()
{
    Pty pty;
    Serial serial;
    QVERIFY(openPort(serial, pty, 0, 20000));
    // The far end sends two bytes while the read waits, then hangs up.
    QElapsedTimer clock;
    clock.start();
    std::thread farEnd([&pty] {
        pty.send("ab");
        QThread::msleep(200);
        ::close(pty.master);
    });
    const QByteArray got = serial.read(10);
    farEnd.join();
    pty.master = -1;
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
    ::close(std::exchange(pty.slave, -1));
    Pty back;
    QVERIFY(openPort(serial, back));
    QCOMPARE(serial.write("back"), qint64(4));
    QCOMPARE(serial.error(), Serial::NoError);
    QCOMPARE(back.receive(4), QByteArray("back"));
}

void tst_Serial::cookedLineComesThroughBinary()
{
    // The line as a login shell leaves it ("stty sane"): line editing, echo,
    // signals, CR/LF translation, output post-processing.
    Pty pty;
    termios sane = pty.settings();
    sane.c_iflag = BRKINT | ICRNL | IMAXBEL | IXON | IXOFF | INPCK;
    sane.c_oflag = OPOST | ONLCR;
    sane.c_lflag = ISIG | ICANON | IEXTEN | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE;
    sane.c_cflag = (sane.c_cflag & ~(CSIZE | PARENB)) | CS8 | CREAD | HUPCL;
    cfsetspeed(&sane, B19200);
    sane.c_cc[VSTART] = 0x01;
    sane.c_cc[VSTOP] = 0x02;
    tcsetattr(pty.slave, TCSANOW, &sane);
    const termios before = pty.settings();

    Serial serial;
    serial.setFileName(pty.path);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(0, 500, 500));

    // ENQ alone, no line end after it; EOT at the start of a line.
    QVERIFY(pty.send("\x05"));
    QCOMPARE(serial.read(1), QByteArray("\x05"));
    QVERIFY(pty.send("\x04"));
    QCOMPARE(serial.read(1), QByteArray("\x04"));
    const QByteArray bytes = everyByte(512);
    QVERIFY(pty.send(bytes));
    QCOMPARE(serial.read(bytes.size()).toHex(), bytes.toHex());
    QCOMPARE(pty.receive(1, 200), QByteArray()); // nothing echoed

    // Rate, frame and the settings that stay with the driver are untouched.
    const termios after = pty.settings();
    QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
    const tcflag_t kept = CSIZE | PARENB | PARODD | CSTOPB | CREAD | HUPCL;
    QCOMPARE(after.c_cflag & kept, before.c_cflag & kept);
    QCOMPARE(after.c_iflag & (IXOFF | INPCK | BRKINT), tcflag_t(IXOFF | INPCK | BRKINT));
    QCOMPARE(after.c_cc[VSTART], cc_t(0x01));
    QCOMPARE(after.c_cc[VSTOP], cc_t(0x02));
}

void tst_Serial::lastUsersStateLeavesBytesAlone_data()
{
    QTest::addColumn<uint>("inputFlags"); // as the last user left them
    QTest::addColumn<bool>("outputSuspended");

    // PARMRK doubles every 0xff, to tell it from the mark of a parity error.
    QTest::newRow("parity errors marked") << uint(PARMRK) << false;
    QTest::newRow("parity errors marked and checked") << uint(PARMRK | INPCK) << false;
    QTest::newRow("output suspended") << 0u << true;
}

void tst_Serial::lastUsersStateLeavesBytesAlone()
{
    QFETCH(uint, inputFlags);
    QFETCH(bool, outputSuspended);

    Pty pty;
    termios left = pty.settings();
    left.c_iflag |= inputFlags;
    QCOMPARE(tcsetattr(pty.slave, TCSANOW, &left), 0);
    if (outputSuspended)
        QCOMPARE(tcflow(pty.slave, TCOOFF), 0);

    Serial serial;
    serial.setFileName(pty.path);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(100, 2000, 500));
    const QByteArray bytes = everyByte(256);
    QVERIFY(pty.send(bytes));
    QCOMPARE(serial.read(2 * bytes.size()).toHex(), bytes.toHex());
    QCOMPARE(serial.write("hello"), qint64(5));
    QCOMPARE(pty.receive(5), QByteArray("hello"));
    // The parity check itself stays as the driver has it.
    QCOMPARE(pty.settings().c_iflag & (PARMRK | INPCK), tcflag_t(inputFlags & INPCK));
}

void tst_Serial::timeoutsFollowTheDevice()
{
    Pty pty;
    Serial serial;
    QVERIFY(openPort(serial, pty, 0, 200));
    serial.close();
    QVERIFY(serial.open()); // no setTimeouts() this time

    // Should the read wait without limit, the far end ends it after 3 s.
    std::thread watchdog([&pty] {
        QThread::msleep(3000);
        pty.send("0123456789");
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
    Pty pty;
    Serial serial;
    QVERIFY(openPort(serial, pty, 0, 10000));
    QVERIFY(pty.send("ab"));
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

    QCOMPARE(got, QByteArray("ab"));
    QVERIFY2(took < 2000, qPrintable(QString::number(took)));
    QCOMPARE(serial.errorString(), systemText(ECANCELED));
    QCOMPARE(serial.error(), Serial::OtherError); // ended by the close, not by the device

    // The port is free again at once.
    QVERIFY(serial.open());
}

void tst_Serial::closeRacingOpen()
{
    // A reconnect pressed while a worker opens the port again: afterwards the
    // port is either open and working or closed with nothing held.
    Pty pty;
    Serial serial;
    serial.setFileName(pty.path);
    const int baseline = openDescriptors();
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
        pty.receive(1, 0);
    }
    QCOMPARE(openButDead, 0);
    QCOMPARE(closedButHeld, 0);
    QCOMPARE(openDescriptors(), baseline);
}

void tst_Serial::childrenInheritNothing()
{
    // Children started by one thread while another opens the port again and
    // again: none may hold anything of the port, whenever it starts.
    Pty pty;
    const QStringList alone = childDescriptors();
    Serial serial;
    serial.setFileName(pty.path);
    std::atomic<bool> done{false};
    std::thread reopening([&] {
        while (!done) {
            serial.open();
            serial.close();
        }
    });
    int inherited = 0;
    QStringList example;
    for (int i = 0; i < 200; ++i) {
        const QStringList held = childDescriptors();
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
    for (const QString &name : names)
        QVERIFY2(QFileInfo::exists(QLatin1String("/dev/") + name), qPrintable(name));
}

int main(int argc, char *argv[])
{
    // Helper mode: a second process that tries to open a port.
    if (argc == 3 && qstrcmp(argv[1], "--try-open") == 0) {
        Serial serial;
        serial.setFileName(QString::fromLocal8Bit(argv[2]));
        if (serial.open())
            return 0;
        fputs(qPrintable(serial.errorString()), stdout);
        return 1;
    }
    QCoreApplication app(argc, argv);
    tst_Serial test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serial.moc"
