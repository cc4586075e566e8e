#include "serialport_p.h"
#include "serialtext_win_p.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

using Error = SerialPort::Error;

Error lastError()
{
    return Error(GetLastError());
}

// Ends the synchronous transfer that a thread runs on the port. Other uses of
// the handle do not block and name no thread.
void cancelTransfer(std::uintptr_t threadId)
{
    if (const HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, DWORD(threadId))) {
        CancelSynchronousIo(thread);
        CloseHandle(thread);
    }
}

// What a port's driver fails the calls on a handle with once its device has
// gone (an adapter unplugged): it fails pending and new requests, with a
// status of its own choosing. One built on the driver framework purges its
// queues, which fails new requests as an invalid device state
// (ERROR_BAD_COMMAND); others report the device removed, not connected, no
// longer there or not functioning. CreateFile finds no such port. Two more
// codes say as much only on an open handle (Data::result()).
bool meansDeviceGone(Error error)
{
    switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case 433: // ERROR_NO_SUCH_DEVICE, which MinGW does not declare
        return true;
    default:
        return false;
    }
}

// ReadFile and WriteFile take a 32-bit count; a longer transfer moves less.
DWORD transferCount(std::int64_t size)
{
    return DWORD(std::min<std::int64_t>(size, MAXDWORD));
}

} // namespace

std::wstring SerialText::toUtf16(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), size);
    return wide;
}

std::string SerialText::toUtf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string narrow(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), narrow.data(), size, nullptr,
                        nullptr);
    return narrow;
}

struct SerialPort::Data
{
    // Taken by open() and close() only: a handle is closed exactly once, and
    // never while another thread is still opening the port.
    std::mutex lifecycle;
    std::atomic<HANDLE> handle{INVALID_HANDLE_VALUE};
    SerialTransferGate gate;
    // A call on the open handle failed in a way that only there says that the
    // device has gone; until the next open().
    std::atomic<bool> gone{false};

    // The result of a call on the open handle, `done` as the call returned
    // it. A driver with a remove lock fails the requests that come after a
    // removal as delete-pending, which reaches us as ERROR_ACCESS_DENIED; on
    // removal a driver also cancels the requests it holds, and a transfer
    // cancelled while no close of ours has begun was cancelled by the driver.
    Error result(BOOL done)
    {
        if (done)
            return 0;
        const Error error = lastError();
        if (error == ERROR_ACCESS_DENIED || (error == ERROR_OPERATION_ABORTED && gate.isOpen()))
            gone = true;
        return error;
    }

    // Ends the transfers under way and lets the port go. With `lifecycle`.
    void release()
    {
        gate.close(cancelTransfer);
        const HANDLE held = handle.exchange(INVALID_HANDLE_VALUE);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
    }
};

SerialPort::SerialPort()
    : d(new Data)
{ }

SerialPort::~SerialPort()
{
    close();
}

SerialPort::Error SerialPort::open(const std::string &devicePath, bool read, bool write)
{
    const std::lock_guard<std::mutex> lock(d->lifecycle);
    d->release();
    d->gone = false;
    // The port's driver keeps its time-outs and always transfers binary, so
    // opening is all there is to do.
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    const DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
    const HANDLE opened = CreateFileW(SerialText::toUtf16(devicePath).c_str(), access, 0, &security,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return lastError();
    d->handle = opened;
    d->gate.open();
    return 0;
}

void SerialPort::close()
{
    const std::lock_guard<std::mutex> lock(d->lifecycle);
    d->release();
}

void *SerialPort::handle() const
{
    return d->handle;
}

SerialPort::Error SerialPort::setLineSettings(const SerialLineSettings &settings)
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return ERROR_INVALID_HANDLE;
    if (!isUartFrame(settings))
        return ERROR_INVALID_PARAMETER;
    DCB state = {};
    state.DCBlength = sizeof state;
    if (const Error error = d->result(GetCommState(d->handle, &state)))
        return error;
    state.BaudRate = settings.baudRate;
    state.ByteSize = settings.dataBits;
    state.Parity = settings.parity;
    state.StopBits = settings.stopBits;
    state.fBinary = TRUE;
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fDsrSensitivity = FALSE;
    state.fOutX = FALSE;
    return d->result(SetCommState(d->handle, &state));
}

SerialPort::Error SerialPort::setTimeouts(const SerialTimeouts &timeouts)
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return ERROR_INVALID_HANDLE;
    COMMTIMEOUTS limits = {};
    limits.ReadIntervalTimeout = timeouts.interval;
    limits.ReadTotalTimeoutMultiplier = 1;
    limits.ReadTotalTimeoutConstant = timeouts.readTotal;
    limits.WriteTotalTimeoutMultiplier = 1;
    limits.WriteTotalTimeoutConstant = timeouts.writeTotal;
    return d->result(SetCommTimeouts(d->handle, &limits));
}

SerialPort::Error SerialPort::purgeInput()
{
    const SerialTransferGate::Use use(d->gate);
    if (!use)
        return ERROR_INVALID_HANDLE;
    return d->result(PurgeComm(d->handle, PURGE_RXCLEAR));
}

SerialPort::Error SerialPort::read(char *data, std::int64_t maxSize, std::int64_t *count)
{
    *count = 0;
    const SerialTransferGate::Use use(d->gate, GetCurrentThreadId());
    if (!use)
        return ERROR_INVALID_HANDLE;
    DWORD moved = 0;
    const BOOL done = ReadFile(d->handle, data, transferCount(maxSize), &moved, nullptr);
    *count = moved;
    return d->result(done);
}

SerialPort::Error SerialPort::write(const char *data, std::int64_t size, std::int64_t *count)
{
    *count = 0;
    const SerialTransferGate::Use use(d->gate, GetCurrentThreadId());
    if (!use)
        return ERROR_INVALID_HANDLE;
    DWORD moved = 0;
    const BOOL done = WriteFile(d->handle, data, transferCount(size), &moved, nullptr);
    *count = moved;
    return d->result(done);
}

std::int64_t SerialPort::inputQueueSize() const
{
    const SerialTransferGate::Use use(d->gate);
    COMSTAT status = {};
    DWORD errors = 0;
    if (use)
        ClearCommError(d->handle, &errors, &status);
    return status.cbInQue;
}

bool SerialPort::deviceGone(Error error) const
{
    if (error == ERROR_ACCESS_DENIED || error == ERROR_OPERATION_ABORTED)
        return d->gone; // at open, a port held elsewhere; on cancel, our close
    return meansDeviceGone(error);
}

std::string SerialPort::errorText(Error error)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", length);
    LocalFree(buffer);
    // The system's messages end in a line break.
    text.erase(text.find_last_not_of(L" \t\r\n") + 1);
    if (text.empty())
        return "Unknown error " + std::to_string(error);
    return SerialText::toUtf8(text);
}
