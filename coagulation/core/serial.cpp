#include "serial.h"

#include "serialport_p.h"

class SerialPrivate
{
public:
    QString fileName;
    SerialPort port;
};

Serial::Serial(QObject *parent)
    : QIODevice(parent)
    , QMutex(QMutex::Recursive)
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
    if (isOpen()) {
        qWarning("Serial::open: Serial (%s) is already open", qUtf8Printable(d->fileName));
        return false;
    }
    // Names go to the port layer in the device namespace; a name that
    // already is a device path ("\\.\..." or "//...") is passed as it is.
    QString name = d->fileName;
    if (!name.startsWith(QLatin1String("\\\\.\\")) && !name.startsWith(QLatin1String("//")))
        name.prepend(QLatin1String("\\\\.\\"));
    if (!d->port.open(name, mode & QIODevice::ReadOnly, mode & QIODevice::WriteOnly))
        return failWithSystemError();
    QIODevice::open(mode);
    return true;
}

void Serial::close()
{
    QIODevice::close();
    d->port.close();
}

bool Serial::setSettings(int baudRate, int dataBits, Parity parity, StopBits stopBits)
{
    if (!isOpen()) {
        qWarning("Serial::setSettings: File is not open");
        return false;
    }
    SerialLineSettings line;
    line.baudRate = quint32(baudRate);
    line.dataBits = quint8(dataBits);
    line.parity = quint8(parity);
    line.stopBits = quint8(stopBits);
    if (!d->port.setLineSettings(line))
        return failWithSystemError();
    return true;
}

bool Serial::setTimeouts(int interval, int readTotal, int writeTotal)
{
    SerialTimeouts timeouts;
    timeouts.interval = quint32(interval);
    timeouts.readMultiplier = 1;
    timeouts.readTotal = quint32(readTotal);
    timeouts.writeMultiplier = 1;
    timeouts.writeTotal = quint32(writeTotal);
    if (!d->port.setTimeouts(timeouts))
        return failWithSystemError();
    return true;
}

void Serial::clearInputBuffer()
{
    d->port.purgeInput();
}

qint64 Serial::bytesAvailable() const
{
    qint64 queued = 0;
    d->port.inputQueueSize(&queued);
    return QIODevice::bytesAvailable() + queued;
}

bool Serial::isSequential() const
{
    return true;
}

qint64 Serial::readData(char *data, qint64 maxSize)
{
    qint64 count = 0;
    if (!d->port.read(data, maxSize, &count))
        failWithSystemError();
    return count;
}

qint64 Serial::writeData(const char *data, qint64 size)
{
    qint64 count = 0;
    if (!d->port.write(data, size, &count))
        failWithSystemError();
    return count;
}

QStringList Serial::EnumDevices()
{
    QStringList names;
    const QStringList known = SerialPort::portNames();
    for (const QString &name : known) {
        if (!names.contains(name))
            names.append(name);
    }
    return names;
}

bool Serial::failWithSystemError()
{
    setErrorString(qt_error_string(-1));
    return false;
}
