#include "serialport_p.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

// The ports and what the kernel tells of them, from sysfs: a port is a
// terminal of the tty class whose device has a driver. Its device's real path
// leads up through the tree of devices; a USB adapter's has the USB device
// (idVendor, product, serial, ...) a level or two above the port.

namespace {

// Orders "ttyS2" before "ttyS10": by the name's stem, then by its number.
bool kernelOrder(const std::string &a, const std::string &b)
{
    const auto split = [](const std::string &name) {
        const std::size_t digits = name.find_last_not_of("0123456789") + 1;
        const std::string number = name.substr(digits);
        return std::make_pair(name.substr(0, digits),
                              number.empty() ? 0 : std::strtoull(number.c_str(), nullptr, 10));
    };
    return split(a) < split(b);
}

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// The path with every link resolved; empty when it does not lead anywhere.
std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The names in a directory, without "." and "..".
std::vector<std::string> entriesOf(const std::string &directory)
{
    std::vector<std::string> names;
    DIR *const entries = opendir(directory.c_str());
    if (!entries)
        return names;
    while (const dirent *entry = readdir(entries)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(entries);
    return names;
}

// A sysfs attribute: its text without the line break the kernel ends it
// with; empty when it is absent or cannot be read. Attributes are one page at
// most.
std::string attribute(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    char page[4096];
    const ssize_t size = ::read(fd, page, sizeof page);
    ::close(fd);
    std::string text(page, std::size_t(std::max<ssize_t>(size, 0)));
    // A text ends at its first zero, as the C strings it came from do.
    text.erase(std::min(text.find('\0'), text.size()));
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    return text;
}

// A USB identifier, four hex digits as sysfs writes them.
std::optional<std::uint16_t> identifier(const std::string &path)
{
    const std::string text = attribute(path);
    if (text.empty() || text.size() > 4
        || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    return std::uint16_t(std::strtoul(text.c_str(), nullptr, 16));
}

// The USB device above `device` (a real path) and its child on the way down,
// the interface the port belongs to; both empty without one. Never leaves
// `root`, wherever the links led.
std::pair<std::string, std::string> usbDeviceOf(const std::string &device, const std::string &root)
{
    std::string child;
    for (std::string path = device;
         path.size() > root.size() && path.compare(0, root.size() + 1, root + "/") == 0;
         path.erase(path.rfind('/'))) {
        if (exists(path + "/idVendor"))
            return {path, child};
        child = path;
    }
    return {};
}

} // namespace

std::vector<std::string> SerialPort::portNames(const std::string &sysfs, const std::string &dev)
{
    // Every terminal the kernel has a driver for, except the UART slots that
    // serial-core registers without a UART behind them (port type 0), and
    // those without a device node here.
    const std::string ttys = sysfs + "/class/tty/";
    std::vector<std::string> names;
    for (const std::string &name : entriesOf(ttys)) {
        if (!exists(ttys + name + "/device/driver") || attribute(ttys + name + "/type") == "0")
            continue;
        if (exists(dev + "/" + name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), kernelOrder);
    return names;
}

std::vector<SerialPortDescription> SerialPort::describePorts(const std::string &sysfs,
                                                             const std::string &dev)
{
    const std::string root = realPath(sysfs);
    // udev's links by the adapter's identity, each with the node it leads to.
    const std::string byId = dev + "/serial/by-id/";
    std::vector<std::pair<std::string, std::string>> links;
    for (const std::string &link : entriesOf(byId))
        links.emplace_back(realPath(byId + link), byId + link);

    std::vector<SerialPortDescription> ports;
    for (const std::string &name : portNames(sysfs, dev)) {
        SerialPortDescription port;
        port.portName = name;
        port.systemLocation = dev + "/" + name;
        const std::string node = realPath(port.systemLocation);
        for (const auto &link : links) {
            if (link.first == node) {
                port.stableName = link.second;
                break;
            }
        }
        const std::string device = realPath(sysfs + "/class/tty/" + name + "/device");
        const auto [usb, interface] = root.empty() || device.empty()
            ? std::pair<std::string, std::string>()
            : usbDeviceOf(device, root);
        if (!usb.empty()) {
            port.vendorId = identifier(usb + "/idVendor");
            port.productId = identifier(usb + "/idProduct");
            port.manufacturer = attribute(usb + "/manufacturer");
            port.serialNumber = attribute(usb + "/serial");
            // The product names the instrument as its maker sold it; an
            // interface's own string is mostly the generic name of its class,
            // and only stands in for a product without a name.
            port.description = attribute(usb + "/product");
            if (port.description.empty() && !interface.empty())
                port.description = attribute(interface + "/interface");
        }
        ports.push_back(std::move(port));
    }
    return ports;
}
