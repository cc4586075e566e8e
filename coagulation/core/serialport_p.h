#ifndef SERIALPORT_P_H
#define SERIALPORT_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/QStringList>

#include <memory>

// Rate and character frame of a line, in the codes of Serial.
struct SerialLineSettings
{
    quint32 baudRate = 0; // bits per second
    quint8 dataBits = 0;
    quint8 parity = 0; // a Serial::Parity code
    quint8 stopBits = 0; // a Serial::StopBits code
};

// A read of n bytes may take readTotal + readMultiplier * n milliseconds and
// ends early when more than `interval` milliseconds pass between two received
// bytes (0: no interval limit); a write of n bytes may take writeTotal +
// writeMultiplier * n milliseconds. A transfer that runs out of time reports
// what it moved and succeeds.
struct SerialTimeouts
{
    quint32 interval = 0;
    quint32 readMultiplier = 0;
    quint32 readTotal = 0;
    quint32 writeMultiplier = 0;
    quint32 writeTotal = 0;
};

// One operating-system serial port. There is one implementation of this class
// per system (serialport_<system>.cpp). Names come in the device namespace
// form "\\.\name" or as "//..." paths; each system maps them onto its own
// devices. Every call that returns false leaves the cause where
// qt_error_string(-1) finds it.
class SerialPort
{
public:
    SerialPort();
    ~SerialPort(); // releases the port when still held

    // Opens the named device exclusively, for synchronous transfers. A port
    // already held is released first.
    bool open(const QString &name, bool read, bool write);
    void close();
    // All bits set while no port is held.
    void *handle() const;

    // Sets rate and frame and switches to binary transfer with no handshake
    // on the output (neither CTS, DSR nor XON/XOFF) and input that does not
    // depend on the modem lines. Every other setting stays as the driver
    // holds it; a setting the driver does not take is a failure.
    bool setLineSettings(const SerialLineSettings &settings);
    // Applies to this open port only: until it is called after an open,
    // transfers wait without limit.
    bool setTimeouts(const SerialTimeouts &timeouts);
    bool purgeInput();

    // `count` receives the number of bytes moved, also on failure.
    bool read(char *data, qint64 maxSize, qint64 *count);
    bool write(const char *data, qint64 size, qint64 *count);
    // Bytes received by the driver and not read yet.
    bool inputQueueSize(qint64 *count) const;

    // The ports the system knows, in its order, as names that Serial::open()
    // accepts.
    static QStringList portNames();

private:
    Q_DISABLE_COPY(SerialPort)
    struct Data;
    std::unique_ptr<Data> d;
};

#endif // SERIALPORT_P_H
