#ifndef SERIALPORTINFO_H
#define SERIALPORTINFO_H

#include "core_global.h"

#include <QtCore/QMetaType>
#include <QtCore/QSharedDataPointer>
#include <QtCore/QString>

/**
 * @file serialportinfo.h
 * What the system tells of a serial port beside its name.
 */

/**
 * One serial port as the system describes it, for a person choosing among
 * them: Serial::portInfo() gives one for each port that Serial::EnumDevices()
 * lists. The device's texts come from the device itself or its driver; any the
 * system does not have is empty, and the identifiers are there for USB
 * adapters only. A default-constructed one is empty throughout.
 *
 * @code
 * for (const SerialPortInfo &port : Serial::portInfo())
 *     box->addItem(port.displayName(), port.portName());
 * @endcode
 *
 * A value: copies share the data, and it may go to any thread, through queued
 * connections too.
 *
 * @ingroup devices
 */
class CORE_EXPORT SerialPortInfo
{
public:
    SerialPortInfo();
    SerialPortInfo(const SerialPortInfo &other);
    SerialPortInfo(SerialPortInfo &&other) noexcept;
    SerialPortInfo &operator=(const SerialPortInfo &other);
    SerialPortInfo &operator=(SerialPortInfo &&other) noexcept;
    ~SerialPortInfo();

    /** The name as Serial::EnumDevices() gives it: "ttyUSB0", "COM3". */
    QString portName() const;
    /**
     * The path the system opens.
     *
     * /dev/ttyUSB0 on Linux, COM3 with the prefix of the device namespace,
     * `\\.\COM3`, on Windows.
     */
    QString systemLocation() const;
    /** What the device calls itself, such as "FT232R USB UART". */
    QString description() const;
    QString manufacturer() const;
    QString serialNumber() const;
    /** The USB vendor's number; 0 unless hasVendorIdentifier(). */
    quint16 vendorIdentifier() const;
    bool hasVendorIdentifier() const;
    /** The USB product's number; 0 unless hasProductIdentifier(). */
    quint16 productIdentifier() const;
    bool hasProductIdentifier() const;
    /**
     * A name of the port that survives unplugging and plugging the device in
     * again, where the system has one: on Linux the link under
     * /dev/serial/by-id that leads to the port. Empty elsewhere. Serial opens
     * it as it opens systemLocation().
     */
    QString stableName() const;
    /**
     * The description with the port's name after it, "FT232R USB UART
     * (ttyUSB0)", or the port's name alone when there is no description.
     */
    QString displayName() const;

private:
    friend class Serial;
    class Data;
    explicit SerialPortInfo(Data *data);

    QSharedDataPointer<Data> d;
};

Q_DECLARE_METATYPE(SerialPortInfo)

#endif // SERIALPORTINFO_H
