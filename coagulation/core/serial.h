#ifndef SERIAL_H
#define SERIAL_H

#include "core_global.h"
#include "serialportinfo.h"

#include <QtCore/QIODevice>
#include <QtCore/QList>
#include <QtCore/QMutex>
#include <QtCore/QScopedPointer>
#include <QtCore/QStringList>
#include <QtCore/qglobal.h>

class SerialPrivate;

/**
 * @file serial.h
 * The serial-port device.
 */

/**
 * A sequential device over one serial port, with synchronous transfers that
 * end by the time-outs set with setTimeouts(). Failures are never thrown and
 * never return -1: open(), setSettings() and setTimeouts() return false with
 * the system's message in errorString() (in the user's language), and a read
 * or write that fails returns what it moved (0 when nothing) with the same.
 * Any thread may use the port; the time-outs and line settings may change
 * while another thread's transfer is under way (it keeps the ones it started
 * with). There is no readyRead: a reader
 * polls bytesAvailable() or reads and relies on the time-outs. The object is
 * also a recursive mutex, so that threads sharing the port can lock it around
 * a whole command and answer (QMutexLocker takes it directly); Serial itself
 * never takes it. Qt 6 has no recursive QMutex, and a recursive mutex of its
 * own instead.
 *
 * A failure and a short transfer can be told apart without reading
 * errorString(): error() says how the last call ended, a time-out or a device
 * that has gone away (an adapter unplugged, the line hung up) among others.
 * Once the device has gone, every transfer fails at once; close() the port,
 * and open() it again when the device is back (Linux gives a returning adapter
 * its old name only once the old one is closed).
 *
 * @code
 * Serial port;
 * port.setFileName(QStringLiteral("COM3")); // "/dev/ttyUSB0" on Linux
 * if (!port.open() || !port.setSettings(9600, 8, Serial::NoParity, Serial::OneStopBit)
 *     || !port.setTimeouts(50, 1000, 1000))
 *     return warning(port.errorString());
 * port.write(frame);
 * const QByteArray answer = port.read(8);
 * if (answer.size() < 8 && port.error() == Serial::DeviceGoneError)
 *     port.close(); // the instrument went away: open it again later
 * @endcode
 *
 * close() may come from another thread while a read or write blocks: the
 * transfer ends at once with what it has moved. A Serial must not be
 * destroyed while another thread is inside one of its calls, though, as no
 * QObject may: QIODevice::read() goes on using the device after the transfer
 * has returned, which no destructor can wait for. Close the port, let the
 * other thread return, then destroy the object.
 *
 * @ingroup devices
 */
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
class CORE_EXPORT Serial : public QIODevice, public QRecursiveMutex
#else
class CORE_EXPORT Serial : public QIODevice, public QMutex
#endif
{
    Q_OBJECT

public:
    /** The values are the port's own codes and go to it unchanged. */
    enum Parity { NoParity, OddParity, EvenParity, MarkParity, SpaceParity };
    enum StopBits { OneStopBit, OneAndHalfStopBits, TwoStopBits };
    /** How a call ended, beyond what it returns. */
    enum SerialError {
        NoError,
        /** A read or write ran out of time before it moved every byte. */
        TimeoutError,
        /**
         * The device is not there: it went away while the port was open, or
         * open() found nothing at the name. Close and open again later.
         */
        DeviceGoneError,
        /** Any other failure, as errorString() describes it. */
        OtherError
    };
    Q_ENUM(SerialError)

    explicit Serial(QObject *parent = nullptr);
    ~Serial() override;

    /** Takes effect at the next open(). */
    void setFileName(const QString &name);
    QString fileName() const;
    /** The system's handle of the open port; all bits set while closed. */
    void *handle() const;

    /** Read and write, unbuffered. */
    bool open();
    /**
     * open() and close() may come from different threads at once; they take
     * turns, so that the port is either open and held or closed and released.
     */
    bool open(OpenMode mode) override;
    void close() override;

    /**
     * Rate (any the driver takes), data bits, parity and stop bits; binary
     * transfer with no handshake on output. Every other setting stays as the
     * driver holds it. False while closed (with a warning) or when the driver
     * refuses, with the system's message.
     */
    bool setSettings(int baudRate, int dataBits, Parity parity, StopBits stopBits);
    /**
     * Milliseconds: a read of n bytes ends after readTotal + n, or when more
     * than `interval` passes between two bytes (0: no such limit); a write of
     * n bytes is given writeTotal + n. They belong to the device: a later
     * open() of the same device in this process uses them again.
     */
    bool setTimeouts(int interval, int readTotal, int writeTotal);
    void clearInputBuffer();

    qint64 bytesAvailable() const override;
    bool isSequential() const override;
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

    /**
     * How the last of open(), close(), setSettings(), setTimeouts() and the
     * reads and writes through the port ended. Each of them sets NoError as
     * it begins and its outcome as it returns: TimeoutError for a read or
     * write that moved fewer bytes than asked without failing; for a
     * failure DeviceGoneError or OtherError, with the system's message in
     * errorString(). Refusals that only warn (open() of an open port,
     * setSettings() while closed) are OtherError and leave errorString()
     * alone. A read or write that QIODevice refuses or ends before it
     * reaches the port (not open for it, no bytes asked) leaves error()
     * alone, as do bytesAvailable() and clearInputBuffer(). One value for
     * all threads: threads that share the port lock it around a call and
     * this question.
     */
    SerialError error() const;
    /** Sets error() to NoError. */
    void clearError();

    /** The serial ports the system knows, each once, as names open() accepts. */
    static QStringList EnumDevices();
    /**
     * What the system tells of each port that EnumDevices() lists, in the
     * same order: what the device calls itself, its maker, its USB
     * identity, and a name that survives re-plugging where the system has
     * one. For a list a person chooses from, SerialPortInfo::displayName().
     */
    static QList<SerialPortInfo> portInfo();

private:
    /**
     * Sets error() by the system's error and the error string to its
     * message; false.
     */
    bool failWith(int systemError);

    QScopedPointer<SerialPrivate> d;
};

#endif // SERIAL_H
