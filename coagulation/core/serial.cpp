#include "serial.h"

#include "serialport_p.h"

#include <atomic>
#include <mutex>

class SerialPrivate
{
public:
    QString fileName;
    // open() and close() may come from different threads at once: the
    // device's open mode and the port change together, under this lock.
    std::mutex lifecycle;
    SerialPort port;
    // Set by the calls of every thread, read by any.
    std::atomic<Serial::SerialError> error{Serial::NoError};
};

Serial::Serial(QObject *parent)
    : QIODevice(parent)
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    , QMutex(QMutex::Recursive)
#endif
    , d(new SerialPrivate)
{ }

Serial::~Serial()
{
    if (isOpen())
        close();
}

void Serial::setFileName(const QString &name)
{
    d->fileName = name;
}

QString Serial::fileName() const
{
    return d->fileName;
}

void *Serial::handle() const
{
    return d->port.handle();
}

bool Serial::open()
{
    return open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool Serial::open(OpenMode mode)
{
    const std::lock_guard<std::mutex> lock(d->lifecycle);
    d->error = NoError;
    if (isOpen()) {
        qWarning("Serial::open: Serial (%s) is already open", qUtf8Printable(d->fileName));
        d->error = OtherError;
        return false;
    }
    const std::string path = SerialPort::devicePath(d->fileName.toStdString());
    if (const int error = d->port.open(path, mode & ReadOnly, mode & WriteOnly))
        return failWith(error);
    QIODevice::open(mode);
    return true;
}

void Serial::close()
{
    const std::lock_guard<std::mutex> lock(d->lifecycle);
    d->error = NoError;
    QIODevice::close();
    d->port.close();
}

bool Serial::setSettings(int baudRate, int dataBits, Parity parity, StopBits stopBits)
{
    d->error = NoError;
    if (!isOpen()) {
        qWarning("Serial::setSettings: File is not open");
        d->error = OtherError;
        return false;
    }
    SerialLineSettings line;
    line.baudRate = quint32(baudRate);
    line.dataBits = quint8(dataBits);
    line.parity = quint8(parity);
    line.stopBits = quint8(stopBits);
    if (const int error = d->port.setLineSettings(line))
        return failWith(error);
    return true;
}

bool Serial::setTimeouts(int interval, int readTotal, int writeTotal)
{
    d->error = NoError;
    SerialTimeouts timeouts;
    timeouts.interval = quint32(interval);
    timeouts.readTotal = quint32(readTotal);
    timeouts.writeTotal = quint32(writeTotal);
    if (const int error = d->port.setTimeouts(timeouts))
        return failWith(error);
    return true;
}

void Serial::clearInputBuffer()
{
    d->port.purgeInput();
}

qint64 Serial::bytesAvailable() const
{
    return QIODevice::bytesAvailable() + d->port.inputQueueSize();
}

bool Serial::isSequential() const
{
    return true;
}

qint64 Serial::readData(char *data, qint64 maxSize)
{
    d->error = NoError;
    std::int64_t count = 0;
    if (const int error = d->port.read(data, maxSize, &count))
        failWith(error);
    else if (count < maxSize)
        d->error = TimeoutError; // the port's time-outs end a transfer without failing it
    return count;
}

qint64 Serial::writeData(const char *data, qint64 size)
{
    d->error = NoError;
    std::int64_t count = 0;
    if (const int error = d->port.write(data, size, &count))
        failWith(error);
    else if (count < size)
        d->error = TimeoutError; // the port's time-outs end a transfer without failing it
    return count;
}

Serial::SerialError Serial::error() const
{
    return d->error;
}

void Serial::clearError()
{
    d->error = NoError;
}

QStringList Serial::EnumDevices()
{
    QStringList names;
    for (const std::string &name : SerialPort::portNames())
        names.append(QString::fromStdString(name));
    return names;
}

bool Serial::failWith(int systemError)
{
    d->error = d->port.deviceGone(systemError) ? DeviceGoneError : OtherError;
    setErrorString(QString::fromStdString(SerialPort::errorText(systemError)));
    return false;
}
