#ifndef TERMINALRATE_H
#define TERMINALRATE_H

#include <cstdint>

// The output rate of a terminal in bits per second, whatever it is: the C
// library's termios names only the rates that have a B constant. 0 when the
// descriptor is no terminal.
std::uint32_t terminalRate(int fd);

#endif // TERMINALRATE_H
