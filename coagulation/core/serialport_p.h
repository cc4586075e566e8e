#ifndef SERIALPORT_P_H
#define SERIALPORT_P_H

//
//  This header is internal to the library and is not installed. It needs
//  nothing but the C++ library, so that each system's port layer builds and
//  is tested on its own.
//

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Rate and character frame of a line, in the codes of Serial.
struct SerialLineSettings
{
    std::uint32_t baudRate = 0; // bits per second
    std::uint8_t dataBits = 0;
    std::uint8_t parity = 0; // a Serial::Parity code
    std::uint8_t stopBits = 0; // a Serial::StopBits code
};

// A frame a UART has, at a rate: 5 to 8 data bits, a parity code from none to
// space, 1.5 stop bits only with 5 data bits and 2 only with more. Each
// system's layer refuses the others before the driver is asked: a driver that
// refuses the frame may already have taken the rate, and the port would be
// left half changed.
inline bool isUartFrame(const SerialLineSettings &settings)
{
    enum { SpaceParity = 4, OneAndHalfStopBits = 1, TwoStopBits = 2 }; // Serial's codes
    const bool fiveBits = settings.dataBits == 5;
    return settings.baudRate != 0 && settings.dataBits >= 5 && settings.dataBits <= 8
        && settings.parity <= SpaceParity && settings.stopBits <= TwoStopBits
        && (settings.stopBits != OneAndHalfStopBits || fiveBits)
        && (settings.stopBits != TwoStopBits || !fiveBits);
}

// Milliseconds. A read of n bytes ends when all n have arrived, when more than
// `interval` passes between two received bytes (0: no such limit), or when
// readTotal + n have passed since it began; a write of n bytes is given
// writeTotal + n. A transfer that runs out of time reports what it moved and
// succeeds.
struct SerialTimeouts
{
    std::uint32_t interval = 0;
    std::uint32_t readTotal = 0;
    std::uint32_t writeTotal = 0;
};

// What the system tells of a port beside its name, UTF-8 throughout. Any text
// the system does not have is empty; the identifiers are there for USB
// devices only.
struct SerialPortDescription
{
    std::string portName; // as portNames() gives it
    std::string systemLocation; // the path open() takes: "/dev/ttyUSB0", "\\.\COM3"
    std::string description; // what the device calls itself: "FT232R USB UART"
    std::string manufacturer;
    std::string serialNumber;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    std::string stableName; // a name that survives re-plugging, where the system has one
};

// "description (port)", or the port's name alone when there is no description.
inline std::string displayName(const SerialPortDescription &port)
{
    if (port.description.empty())
        return port.portName;
    return port.description + " (" + port.portName + ")";
}

// Lets close() in one thread end the transfers that other threads run on the
// same port before the system handle is released, so that no transfer ever
// uses a handle the system may already have given to another file. Every use
// of the handle runs between enter() and leave(); a transfer that may block
// names a waiter that the close can wake.
class SerialTransferGate
{
public:
    // Admits users of a freshly opened handle.
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
    }
    // False once a close has begun: a transfer that fails as cancelled
    // before then was not ended by the close.
    bool isOpen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open;
    }
    // False when no handle is open or a close has begun.
    bool enter(std::uintptr_t waiter = 0)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_open)
            return false;
        m_users.push_back(waiter);
        return true;
    }
    void leave(std::uintptr_t waiter = 0)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_users.erase(std::find(m_users.begin(), m_users.end(), waiter));
        if (m_users.empty())
            m_idle.notify_all();
    }
    // Admits no one from now on and returns once every user has left, calling
    // wake(waiter) for those still inside until they are gone: a waiter may
    // not have reached its blocking call when it is first woken.
    template<typename Wake>
    void close(Wake wake)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_open = false;
        while (!m_users.empty()) {
            for (const std::uintptr_t waiter : m_users)
                wake(waiter);
            m_idle.wait_for(lock, std::chrono::milliseconds(10));
        }
    }

    // One use of the handle, for the lifetime of the object.
    class Use
    {
    public:
        explicit Use(SerialTransferGate &gate, std::uintptr_t waiter = 0)
            : m_gate(gate)
            , m_waiter(waiter)
            , m_entered(gate.enter(waiter))
        { }
        ~Use()
        {
            if (m_entered)
                m_gate.leave(m_waiter);
        }
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;
        explicit operator bool() const { return m_entered; }

    private:
        SerialTransferGate &m_gate;
        const std::uintptr_t m_waiter;
        const bool m_entered;
    };

private:
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::vector<std::uintptr_t> m_users;
    bool m_open = false;
};

// One operating-system serial port. There is one implementation of this class
// per system (serialport_<system>.cpp). Names are UTF-8. An operation that can
// fail returns the system's error code, 0 on success; errorText() gives its
// message, deviceGone() whether the device has gone away.
class SerialPort
{
public:
    // An errno value on POSIX systems, a GetLastError() value on Windows.
    using Error = int;

    SerialPort();
    ~SerialPort(); // releases the port when still held
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // The path open() takes for a port name: the name with "\\.\" in front,
    // unless it already begins with "\\.\" or "//". Each system maps such
    // paths onto its own devices.
    static std::string devicePath(const std::string &name)
    {
        const std::string prefix = "\\\\.\\";
        if (name.compare(0, prefix.size(), prefix) == 0 || name.compare(0, 2, "//") == 0)
            return name;
        return prefix + name;
    }

    // Opens the device exclusively, for synchronous transfers, and makes sure
    // that it transfers bytes unchanged, whatever its last user left. A port
    // already held is released first.
    Error open(const std::string &devicePath, bool read, bool write);
    // May come from another thread while a transfer blocks: the transfer
    // wakes and fails as cancelled, and the port is released after it has
    // returned. open() and close() may come from several threads at once;
    // they take turns, and each port is released exactly once.
    void close();
    // All bits set while no port is held.
    void *handle() const;

    // Sets rate and frame and switches to binary transfer with no handshake
    // on the output (neither CTS, DSR nor XON/XOFF) and input that does not
    // depend on the modem lines. Every other setting stays as the driver
    // holds it. The rate is any number the driver takes.
    Error setLineSettings(const SerialLineSettings &settings);
    // Time-outs belong to the device, as the driver keeps them: after a close
    // and a new open, the last ones set in this process still apply. They may
    // be set while another thread transfers; a transfer keeps the ones it
    // began with.
    Error setTimeouts(const SerialTimeouts &timeouts);
    // Drops what waits in the driver's input queue; output is left alone.
    Error purgeInput();

    // `count` receives the number of bytes moved, also on failure.
    Error read(char *data, std::int64_t maxSize, std::int64_t *count);
    Error write(const char *data, std::int64_t size, std::int64_t *count);
    // Bytes received by the driver and not read yet; 0 when it cannot tell.
    std::int64_t inputQueueSize() const;

    // Whether `error`, as a call of this port has just returned it, says that
    // the device is not there: it went away under the open port (unplugged,
    // the line hung up), or open() found nothing at the name. A port whose
    // device has gone fails its transfers at once until it is closed; the
    // device may then be opened again once it is back. A refused open of a
    // device that is there (busy, not allowed) and a transfer ended by
    // close() are other failures.
    bool deviceGone(Error error) const;

#ifdef _WIN32
    // The ports of the device map, each once, in its order. A key is named
    // with its hive: "HKEY_LOCAL_MACHINE\..." or "HKEY_CURRENT_USER\...".
    static std::vector<std::string>
    portNames(const std::string &deviceMap = "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    // One for each of portNames(), in its order, from the device enumeration's
    // instance that has the port's name among its device parameters.
    static std::vector<SerialPortDescription> describePorts(
        const std::string &deviceMap = "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM",
        const std::string &enumeration = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum");
#else
    // The ports the kernel knows, each once, in its order: the terminals of
    // sysfs's tty class that have a device driver and a node in `dev`.
    static std::vector<std::string> portNames(const std::string &sysfs = "/sys",
                                              const std::string &dev = "/dev");
    // One for each of portNames(), in its order, from the device's USB
    // ancestor in sysfs and the links of `dev`/serial/by-id.
    static std::vector<SerialPortDescription> describePorts(const std::string &sysfs = "/sys",
                                                            const std::string &dev = "/dev");
#endif
    // The system's message for an error code, in the user's language.
    static std::string errorText(Error error);

private:
    struct Data;
    std::unique_ptr<Data> d;
};

#endif // SERIALPORT_P_H
