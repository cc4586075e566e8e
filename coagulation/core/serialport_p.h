#ifndef SERIALPORT_P_H
#define SERIALPORT_P_H

//
//  This header is internal to the library and is not installed.
//

#include <QtCore/QStringList>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

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
// per system (serialport_<system>.cpp). Names come in the device namespace
// form "\\.\name" or as "//..." paths; each system maps them onto its own
// devices. Every call that returns false leaves the cause where
// qt_error_string(-1) finds it.
class SerialPort
{
public:
    SerialPort();
    ~SerialPort(); // releases the port when still held

    // Opens the named device exclusively, for synchronous transfers, and
    // switches a terminal to binary transfer. A port already held is released
    // first.
    bool open(const QString &name, bool read, bool write);
    // May come from another thread while a transfer blocks: the transfer
    // wakes, reports what it moved and fails as cancelled, and the port is
    // released after it has returned.
    void close();
    // All bits set while no port is held.
    void *handle() const;

    // Sets rate and frame and switches to binary transfer with no handshake
    // on the output (neither CTS, DSR nor XON/XOFF) and input that does not
    // depend on the modem lines. Every other setting stays as the driver
    // holds it; a setting the driver does not take is a failure.
    bool setLineSettings(const SerialLineSettings &settings);
    // Time-outs belong to the device, as a driver keeps them: the last ones
    // set for a device in this process apply again when it is reopened. On a
    // device that never had any, transfers wait without limit.
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
