#ifndef LINE_H
#define LINE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Whether the program runs under Wine, which shows some of what Windows does
// and not the rest: a case it cannot show is skipped with the reason.
bool underWine();

// The far end of a serial line for the port-layer tests: the master side of a
// pseudo-terminal whose slave is the port under test. A native test holds it
// itself (line_pty.cpp); the Windows test under Wine asks the Linux program
// that started it, which holds the pseudo-terminal and maps the slave to a COM
// port of the Wine prefix (line_remote.cpp, serialport_peer.cpp).
class Line
{
public:
    // Rate and stop bits as the Linux side of the line sees them.
    struct Settings
    {
        std::uint32_t baudRate = 0;
        int stopBits = 0;
    };

    // A fresh line, raw, so that nothing is echoed or translated before a
    // test asks for it.
    Line();
    ~Line(); // waits for a background transfer to end
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    bool isValid() const;
    // The port's name as a user gives it: "pts/3", "COM11".
    std::string portName() const;

    // Sends every byte, waiting up to 10 s for room.
    bool send(const std::string &bytes);
    // Up to `size` bytes; gives up after `silence` ms without one.
    std::string receive(std::size_t size, int silence);
    // In the background, while the port under test blocks: sends each byte
    // after a pause of `gap` ms (all at once for 0), or receives as receive()
    // does. finish() waits for the transfer and gives what it received.
    bool startSending(const std::string &bytes, int gap);
    bool startReceiving(std::size_t size, int silence);
    std::string finish();

    // Stops the port's output as an XOFF from the far end would, or lets it
    // go on.
    bool holdOutput(bool hold);
    // Closes the far end for good, as an unplugged adapter goes: the port's
    // side of the line hangs up.
    bool hangUp();
    Settings settings() const;

#ifndef _WIN32
    // What only a terminal in this process has: its termios settings.
    int masterDescriptor() const;
#endif

private:
    struct Data;
    std::unique_ptr<Data> d;
};

#endif // LINE_H
