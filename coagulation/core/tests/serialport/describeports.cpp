// What the layer tells of each port, from a small copy of the system's own
// sources made like the real ones: a sysfs tree with its links and a /dev
// beside it, or registry keys written by the system's reg tool.

#include "porttest.h"
#include "serialport_p.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <filesystem>
#include <fstream>
#include <unistd.h>
#endif

namespace {

// One port as the layer must describe it; -1 for an identifier it has not.
struct Expected
{
    const char *portName;
    const char *description;
    const char *manufacturer;
    const char *serialNumber;
    int vendorId;
    int productId;
    const char *stableName; // below the root of the copy
    const char *displayName;
};

int orNone(const std::optional<std::uint16_t> &id)
{
    return id ? int(*id) : -1;
}

// The descriptions, in the layer's order, against the rows: each port at
// `nodes` followed by its name, and `root` in front of each stable name.
void compare(const std::vector<SerialPortDescription> &ports, const std::vector<Expected> &rows,
             const std::string &nodes, const std::string &root)
{
    CHECK_EQUAL(ports.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Expected &expected = rows[i];
        const SerialPortDescription &port = ports[i];
        const porttest::Row row(expected.portName);
        [&] {
            CHECK_EQUAL(port.portName, std::string(expected.portName));
            CHECK_EQUAL(port.systemLocation, nodes + expected.portName);
            CHECK_EQUAL(port.description, std::string(expected.description));
            CHECK_EQUAL(port.manufacturer, std::string(expected.manufacturer));
            CHECK_EQUAL(port.serialNumber, std::string(expected.serialNumber));
            CHECK_EQUAL(orNone(port.vendorId), expected.vendorId);
            CHECK_EQUAL(orNone(port.productId), expected.productId);
            const std::string stable = expected.stableName;
            CHECK_EQUAL(port.stableName, stable.empty() ? stable : root + stable);
            CHECK_EQUAL(displayName(port), std::string(expected.displayName));
        }();
    }
}

} // namespace

#ifdef _WIN32

namespace {

// Runs the system's reg tool with `arguments`, detached from any console as
// the other children of the tests are; whether it succeeded.
bool reg(const std::wstring &arguments)
{
    std::wstring command = L"reg.exe " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        nullptr, &startup, &process))
        return false;
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    else
        GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode == 0;
}

// Registry keys of the test's own below the user's hive, as the tool writes
// them; gone again with the object.
class Keys
{
public:
    Keys()
        : m_root(L"HKEY_CURRENT_USER\\Software\\coagulation-tests\\"
                 + std::to_wstring(GetCurrentProcessId()))
    { }
    ~Keys()
    {
        reg(L"delete \"" + m_root + L"\" /f");
        RegDeleteKeyW(HKEY_CURRENT_USER,
                      L"Software\\coagulation-tests"); // when nothing else is in it
    }
    Keys(const Keys &) = delete;
    Keys &operator=(const Keys &) = delete;

    std::string root() const { return std::string(m_root.begin(), m_root.end()); }
    bool add(const std::wstring &key, const std::wstring &name, const std::wstring &data,
             const wchar_t *type = L"REG_SZ") const
    {
        return reg(L"add \"" + m_root + L"\\" + key + L"\" /v \"" + name + L"\" /t " + type
                   + L" /d \"" + data + L"\" /f");
    }

private:
    const std::wstring m_root;
};

} // namespace

PORT_TEST(describePorts)
{
    const Keys keys;
    const std::wstring ftdi = L"Enum\\USB\\VID_0403&PID_6001\\A600XYZA";
    const std::wstring board = L"Enum\\ACPI\\PNP0501\\0";
    const std::wstring cdc = L"Enum\\USB\\VID_2341&PID_0043\\6&2b5c3a1&0&2";
    const struct
    {
        std::wstring key;
        const wchar_t *name;
        std::wstring data;
        const wchar_t *type;
    } values[] = {
        // The device map, in name order: Wine keeps values in that order,
        // Windows in the order they were made, here the same.
        {L"SERIALCOMM", L"\\Device\\Serial0", L"COM1", L"REG_SZ"},
        {L"SERIALCOMM", L"\\Device\\Serial1", L"COM3", L"REG_SZ"},
        {L"SERIALCOMM", L"\\Device\\Serial2", L"COM5", L"REG_SZ"},
        {L"SERIALCOMM", L"\\Device\\Serial3", L"COM7", L"REG_SZ"}, // not enumerated
        // An FTDI adapter with a serial number, on a Chinese system.
        {ftdi, L"FriendlyName", L"USB \u4e32\u884c\u7aef\u53e3 (COM3)", L"REG_SZ"},
        {ftdi, L"DeviceDesc", L"@oem12.inf,%usb.serialport%;USB Serial Port", L"REG_SZ"},
        {ftdi, L"Mfg", L"FTDI", L"REG_SZ"},
        {ftdi, L"HardwareID", L"USB\\VID_0403&PID_6001&REV_0600\\0USB\\VID_0403&PID_6001",
         L"REG_MULTI_SZ"},
        {ftdi + L"\\Device Parameters", L"PortName", L"COM3", L"REG_SZ"},
        // The board's own port.
        {board, L"FriendlyName", L"Communications Port (COM1)", L"REG_SZ"},
        {board, L"Mfg", L"(Standard port types)", L"REG_SZ"},
        {board, L"HardwareID", L"ACPI\\PNP0501\\0*PNP0501", L"REG_MULTI_SZ"},
        {board + L"\\Device Parameters", L"PortName", L"COM1", L"REG_SZ"},
        // CDC-ACM without a serial number: texts from the installation file,
        // the identifiers in the device's name only.
        {cdc, L"DeviceDesc", L"@usbser.inf,%usbser.devicedesc%;USB Serial Device", L"REG_SZ"},
        {cdc, L"Mfg", L"@usbser.inf,%mfgname%;Arduino LLC", L"REG_SZ"},
        {cdc + L"\\Device Parameters", L"PortName", L"COM5", L"REG_SZ"},
    };
    for (const auto &value : values)
        CHECK(keys.add(value.key, value.name, value.data, value.type));

    const std::string deviceMap = keys.root() + "\\SERIALCOMM";
    const std::string enumeration = keys.root() + "\\Enum";
    CHECK_EQUAL(SerialPort::portNames(deviceMap).size(), std::size_t(4));
    compare(SerialPort::describePorts(deviceMap, enumeration),
            {
                {"COM1", "Communications Port", "(Standard port types)", "", -1, -1, "",
                 "Communications Port (COM1)"},
                {"COM3", "USB \u4e32\u884c\u7aef\u53e3", "FTDI", "A600XYZA", 0x0403, 0x6001, "",
                 "USB \u4e32\u884c\u7aef\u53e3 (COM3)"},
                {"COM5", "USB Serial Device", "Arduino LLC", "", 0x2341, 0x0043, "",
                 "USB Serial Device (COM5)"},
                {"COM7", "", "", "", -1, -1, "", "COM7"},
            },
            "\\\\.\\", std::string());
}

#else

namespace {

namespace fs = std::filesystem;

// A directory tree that goes when the object does.
class Tree
{
public:
    Tree()
    {
        char name[] = "/tmp/describeports-XXXXXX";
        if (mkdtemp(name))
            m_root = fs::canonical(name).string();
    }
    ~Tree()
    {
        std::error_code ignored;
        if (!m_root.empty())
            fs::remove_all(m_root, ignored);
    }
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;

    const std::string &root() const { return m_root; }
    // A file with `text`, or (for a null text) a directory, and the
    // directories above it.
    void add(const std::string &path, const char *text = nullptr) const
    {
        const fs::path at = m_root + "/" + path;
        fs::create_directories(text ? at.parent_path() : at);
        if (text)
            std::ofstream(at) << text;
    }
    // A link at `path` to `target` (both from the root), relative as sysfs
    // and udev make them.
    void link(const std::string &target, const std::string &path) const
    {
        const fs::path at = m_root + "/" + path;
        fs::create_directories(at.parent_path());
        fs::create_symlink(fs::path(m_root + "/" + target).lexically_relative(at.parent_path()),
                           at);
    }

private:
    std::string m_root;
};

// A terminal in sysfs whose class entry leads to `device`/tty/`name` (from
// the root), with its device link and node.
void addTerminal(const Tree &tree, const std::string &name, const std::string &device)
{
    const std::string terminal = device + "/tty/" + name;
    tree.add(terminal + "/dev", "188:0\n");
    tree.link(device, terminal + "/device");
    tree.link(terminal, "sys/class/tty/" + name);
    tree.add("dev/" + name, "");
}

} // namespace

PORT_TEST(describePorts)
{
    Tree tree;
    CHECK(!tree.root().empty());
    const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
    const std::string drivers = "sys/bus/usb-serial/drivers/";

    // An FTDI adapter: the port's device below the interface, below the USB
    // device; udev's link by its identity.
    tree.add(usb + "1-1/idVendor", "0403\n");
    tree.add(usb + "1-1/idProduct", "6001\n");
    tree.add(usb + "1-1/manufacturer", "FTDI\n");
    tree.add(usb + "1-1/product", "FT232R USB UART\n");
    tree.add(usb + "1-1/serial", "A600XYZA\n");
    tree.add(drivers + "ftdi_sio");
    tree.link(drivers + "ftdi_sio", usb + "1-1/1-1:1.0/ttyUSB0/driver");
    addTerminal(tree, "ttyUSB0", usb + "1-1/1-1:1.0/ttyUSB0");
    tree.link("dev/ttyUSB0", "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600XYZA-if00-port0");

    // CDC-ACM: the port's device is the interface, with a string of its own;
    // a serial number that cannot be read.
    tree.add(usb + "1-2/idVendor", "2341");
    tree.add(usb + "1-2/idProduct", "0043\n");
    tree.add(usb + "1-2/manufacturer", "Acme Diagnostics\n");
    tree.add(usb + "1-2/product", "Coagulation Analyser  \n");
    tree.add(usb + "1-2/serial");
    tree.add(usb + "1-2/1-2:1.0/interface", "CDC Abstract Control Model (ACM)\n");
    tree.add("sys/bus/usb/drivers/cdc_acm");
    tree.link("sys/bus/usb/drivers/cdc_acm", usb + "1-2/1-2:1.0/driver");
    addTerminal(tree, "ttyACM0", usb + "1-2/1-2:1.0");
    tree.link("dev/ttyACM0", "dev/serial/by-id/usb-Acme_Diagnostics_Coagulation_Analyser-if00");

    // A device without strings but its interface's, and identifiers that are
    // no four hex digits.
    tree.add(usb + "1-3/idVendor", "zz12\n");
    tree.add(usb + "1-3/idProduct", "12345\n");
    tree.add(usb + "1-3/1-3:1.2/interface", "Sensor data port\n");
    tree.link("sys/bus/usb/drivers/cdc_acm", usb + "1-3/1-3:1.2/driver");
    addTerminal(tree, "ttyACM1", usb + "1-3/1-3:1.2");

    // A 16550 on the board, and an empty slot of the 8250 driver.
    tree.add("sys/bus/pnp/drivers/serial");
    tree.link("sys/bus/pnp/drivers/serial", "sys/devices/pnp0/00:05/driver");
    addTerminal(tree, "ttyS0", "sys/devices/pnp0/00:05");
    tree.add("sys/devices/pnp0/00:05/tty/ttyS0/type", "4\n");
    tree.add("sys/bus/platform/drivers/serial8250");
    tree.link("sys/bus/platform/drivers/serial8250", "sys/devices/platform/serial8250/driver");
    addTerminal(tree, "ttyS1", "sys/devices/platform/serial8250");
    tree.add("sys/devices/platform/serial8250/tty/ttyS1/type", "0\n");

    // A virtual terminal: no device, no driver.
    tree.add("sys/devices/virtual/tty/tty0/dev", "4:0\n");
    tree.link("sys/devices/virtual/tty/tty0", "sys/class/tty/tty0");
    tree.add("dev/tty0", "");

    // A port whose device link leads out of sysfs, to what looks like a USB
    // device; and USB files just above sysfs, where a walk up from the 16550
    // would find them.
    tree.add("outside/usb9/idVendor", "1234\n");
    tree.link("sys/bus/usb-serial/drivers/ftdi_sio", "outside/usb9/9-1:1.0/ttyUSB1/driver");
    tree.add("sys/devices/stray/tty/ttyUSB1/dev", "188:1\n");
    tree.link("outside/usb9/9-1:1.0/ttyUSB1", "sys/devices/stray/tty/ttyUSB1/device");
    tree.link("sys/devices/stray/tty/ttyUSB1", "sys/class/tty/ttyUSB1");
    tree.add("dev/ttyUSB1", "");
    tree.add("idVendor", "ffff\n");

    const std::string sys = tree.root() + "/sys";
    const std::string dev = tree.root() + "/dev";
    std::vector<std::string> names;
    for (const SerialPortDescription &port : SerialPort::describePorts(sys, dev))
        names.push_back(port.portName);
    CHECK(names == SerialPort::portNames(sys, dev));
    compare(SerialPort::describePorts(sys, dev),
            {
                {"ttyACM0", "Coagulation Analyser", "Acme Diagnostics", "", 0x2341, 0x0043,
                 "/dev/serial/by-id/usb-Acme_Diagnostics_Coagulation_Analyser-if00",
                 "Coagulation Analyser (ttyACM0)"},
                {"ttyACM1", "Sensor data port", "", "", -1, -1, "", "Sensor data port (ttyACM1)"},
                {"ttyS0", "", "", "", -1, -1, "", "ttyS0"},
                {"ttyUSB0", "FT232R USB UART", "FTDI", "A600XYZA", 0x0403, 0x6001,
                 "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A600XYZA-if00-port0",
                 "FT232R USB UART (ttyUSB0)"},
                {"ttyUSB1", "", "", "", -1, -1, "", "ttyUSB1"},
            },
            dev + "/", tree.root());
}

#endif
