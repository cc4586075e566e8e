#include "serialportinfo.h"

#include "serial.h"
#include "serialport_p.h"

class SerialPortInfo::Data : public QSharedData
{
public:
    QString portName;
    QString systemLocation;
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString stableName;
    QString displayName;
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool hasVendorId = false;
    bool hasProductId = false;
};

SerialPortInfo::SerialPortInfo()
    : d(new Data)
{ }

SerialPortInfo::SerialPortInfo(Data *data)
    : d(data)
{ }

SerialPortInfo::SerialPortInfo(const SerialPortInfo &other) = default;
SerialPortInfo::SerialPortInfo(SerialPortInfo &&other) noexcept = default;
SerialPortInfo &SerialPortInfo::operator=(const SerialPortInfo &other) = default;
SerialPortInfo &SerialPortInfo::operator=(SerialPortInfo &&other) noexcept = default;
SerialPortInfo::~SerialPortInfo() = default;

QString SerialPortInfo::portName() const
{
    return d->portName;
}

QString SerialPortInfo::systemLocation() const
{
    return d->systemLocation;
}

QString SerialPortInfo::description() const
{
    return d->description;
}

QString SerialPortInfo::manufacturer() const
{
    return d->manufacturer;
}

QString SerialPortInfo::serialNumber() const
{
    return d->serialNumber;
}

quint16 SerialPortInfo::vendorIdentifier() const
{
    return d->vendorId;
}

bool SerialPortInfo::hasVendorIdentifier() const
{
    return d->hasVendorId;
}

quint16 SerialPortInfo::productIdentifier() const
{
    return d->productId;
}

bool SerialPortInfo::hasProductIdentifier() const
{
    return d->hasProductId;
}

QString SerialPortInfo::stableName() const
{
    return d->stableName;
}

QString SerialPortInfo::displayName() const
{
    return d->displayName;
}

QList<SerialPortInfo> Serial::portInfo()
{
    QList<SerialPortInfo> ports;
    for (const SerialPortDescription &port : SerialPort::describePorts()) {
        auto *data = new SerialPortInfo::Data;
        data->portName = QString::fromStdString(port.portName);
        data->systemLocation = QString::fromStdString(port.systemLocation);
        data->description = QString::fromStdString(port.description);
        data->manufacturer = QString::fromStdString(port.manufacturer);
        data->serialNumber = QString::fromStdString(port.serialNumber);
        data->stableName = QString::fromStdString(port.stableName);
        data->displayName = QString::fromStdString(displayName(port));
        data->vendorId = port.vendorId.value_or(0);
        data->hasVendorId = port.vendorId.has_value();
        data->productId = port.productId.value_or(0);
        data->hasProductId = port.productId.has_value();
        ports.append(SerialPortInfo(data));
    }
    return ports;
}

// By name, when the library is loaded: a string-based queued connection
// looks the type up by its name.
static void registerSerialPortInfo()
{
    qRegisterMetaType<SerialPortInfo>("SerialPortInfo");
}
Q_CONSTRUCTOR_FUNCTION(registerSerialPortInfo)
