#ifndef SERIALLINE_UNIX_P_H
#define SERIALLINE_UNIX_P_H

//
//  This header is internal to the library and is not installed.
//

#include "serialport_p.h"

// The terminal side of a Unix serial port: what the line's last user left
// taken over, the frame set and read back. The terminal's own types stay in
// serialline_unix.cpp: Linux's termios2 and the C library's termios cannot
// be declared in the same source.
namespace SerialLine {

using Error = SerialPort::Error;

// Binary transfer with output resumed; a device that is no terminal passes.
Error takeOver(int fd);
// Rate and frame as given, binary transfer kept. Fails when the driver kept
// any of it otherwise; where the device cannot keep a frame (`framed` false),
// data bits and parity are not checked.
Error apply(int fd, const SerialLineSettings &settings, bool framed);
// Drops what was received and not yet read.
Error flushInput(int fd);
// The kernel's pseudo-terminal slaves have no line: they always report
// 8 data bits without parity, whatever was asked.
bool isPseudoTerminal(int fd);

} // namespace SerialLine

#endif // SERIALLINE_UNIX_P_H
