#ifndef SERIAL_H
#define SERIAL_H

#include "core_global.h"

#include <QtCore/QIODevice>
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
 * close() may come from another thread while a read or write blocks: the
 * transfer ends at once with what it has moved. A Serial must not be
 * destroyed while another thread is inside one of its calls, though, as no
 * QObject may: QIODevice::read() goes on using the device after the transfer
 * has returned, which no destructor can wait for. Close the port, let the
 * other thread return, then destroy the object.
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

    /** The serial ports the system knows, each once, as names open() accepts. */
    static QStringList EnumDevices();

private:
    /** Sets the error string to the system's message for the error; false. */
    bool failWith(int systemError);

    QScopedPointer<SerialPrivate> d;
};

#endif // SERIAL_H
