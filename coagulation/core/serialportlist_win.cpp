#include "serialport_p.h"
#include "serialtext_win_p.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

// The ports and what Windows tells of them, from the registry: the device map
// names the ports, and the device enumeration holds, for each device
// instance (enumerator\device\instance), what its driver installed, with the
// port's name among its device parameters.

namespace {

class RegistryKey
{
public:
    RegistryKey(HKEY parent, const std::wstring &path)
    {
        if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    ~RegistryKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    operator HKEY() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// "HKEY_LOCAL_MACHINE\path" as the hive and the path below it.
std::pair<HKEY, std::wstring> keyOf(const std::string &name)
{
    const std::wstring wide = SerialText::toUtf16(name);
    const std::size_t separator = wide.find(L'\\');
    const std::wstring hive = wide.substr(0, separator);
    const std::wstring path = separator == std::wstring::npos ? L"" : wide.substr(separator + 1);
    if (hive == L"HKEY_CURRENT_USER" || hive == L"HKCU")
        return {HKEY_CURRENT_USER, path};
    return {HKEY_LOCAL_MACHINE, path};
}

std::vector<std::wstring> subkeys(HKEY key)
{
    std::vector<std::wstring> names;
    wchar_t name[256]; // the longest a key's name may be, and its zero
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(std::size(name));
        const LONG result =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            return names;
        if (result == ERROR_SUCCESS)
            names.emplace_back(name, length);
    }
}

// A string value, a multi-string one with the zeros between its strings;
// empty when it is not there or no string.
std::wstring stringValue(HKEY key, const wchar_t *name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
        return std::wstring();
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(text.data()), &size)
        != ERROR_SUCCESS)
        return std::wstring();
    // The data need not end in a zero of its own.
    text.resize(std::min<std::size_t>(text.size(), size / sizeof(wchar_t)));
    text.erase(text.find_last_not_of(L'\0') + 1);
    return text;
}

// A text an installation file gave as "@file.inf,%key%;Text": the text.
std::wstring withoutSource(const std::wstring &text)
{
    const std::size_t separator = text.rfind(L';');
    return !text.empty() && text[0] == L'@' && separator != std::wstring::npos
        ? text.substr(separator + 1)
        : text;
}

// The four hex digits after `prefix` ("VID_") in a device's identifiers.
std::optional<std::uint16_t> usbNumber(const std::wstring &ids, const wchar_t *prefix)
{
    for (std::size_t at = ids.find(prefix); at != std::wstring::npos;
         at = ids.find(prefix, at + 1)) {
        const std::wstring digits = ids.substr(at + std::wcslen(prefix), 4);
        if (digits.size() == 4 && std::all_of(digits.begin(), digits.end(), [](wchar_t c) {
                return std::iswxdigit(c);
            }))
            return std::uint16_t(std::wcstoul(digits.c_str(), nullptr, 16));
    }
    return std::nullopt;
}

std::wstring upper(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return wchar_t(std::towupper(c)); });
    return text;
}

// Fills `port` from its device instance's key.
void describe(SerialPortDescription &port, HKEY instance, const std::wstring &enumerator,
              const std::wstring &device, const std::wstring &instanceId)
{
    // A friendly name ends in the port's name, which displayName() adds.
    std::wstring description = stringValue(instance, L"FriendlyName");
    const std::wstring suffix = L" (" + SerialText::toUtf16(port.portName) + L")";
    if (description.size() > suffix.size()
        && upper(description.substr(description.size() - suffix.size())) == upper(suffix))
        description.erase(description.size() - suffix.size());
    if (description.empty())
        description = withoutSource(stringValue(instance, L"DeviceDesc"));
    port.description = SerialText::toUtf8(description);
    port.manufacturer = SerialText::toUtf8(withoutSource(stringValue(instance, L"Mfg")));

    const std::wstring ids = upper(stringValue(instance, L"HardwareID") + L'\n' + device);
    port.vendorId = usbNumber(ids, L"VID_");
    port.productId = usbNumber(ids, L"PID_");
    // A USB device with a serial number has it as its instance's name;
    // Windows makes up names with '&' in them for the others.
    if (upper(enumerator) == L"USB" && instanceId.find(L'&') == std::wstring::npos)
        port.serialNumber = SerialText::toUtf8(instanceId);
}

} // namespace

std::vector<std::string> SerialPort::portNames(const std::string &deviceMap)
{
    std::vector<std::string> names;
    const auto [hive, path] = keyOf(deviceMap);
    const RegistryKey key(hive, path);
    DWORD count = 0;
    DWORD longestName = 0; // characters
    DWORD longestData = 0; // bytes
    if (!key
        || RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                            &longestName, &longestData, nullptr, nullptr)
            != ERROR_SUCCESS)
        return names;
    std::vector<wchar_t> name(longestName + 1);
    std::vector<wchar_t> data(longestData + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = longestName + 1;
        DWORD dataSize = 2 * longestData + 2;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE *>(data.data()), &dataSize)
                != ERROR_SUCCESS
            || type != REG_SZ)
            continue;
        // The data of a string value need not end in a zero of its own.
        const std::wstring port(data.data(), wcsnlen(data.data(), dataSize / sizeof(wchar_t)));
        const std::string portName = SerialText::toUtf8(port);
        if (std::find(names.begin(), names.end(), portName) == names.end())
            names.push_back(portName);
    }
    return names;
}

std::vector<SerialPortDescription> SerialPort::describePorts(const std::string &deviceMap,
                                                             const std::string &enumeration)
{
    std::vector<SerialPortDescription> ports;
    for (const std::string &name : portNames(deviceMap)) {
        SerialPortDescription port;
        port.portName = name;
        port.systemLocation = devicePath(name);
        ports.push_back(std::move(port));
    }
    // One walk through every device instance, which there are hundreds of,
    // for all ports at once; the first instance that names a port describes it.
    std::vector<std::wstring> wanted; // the names of those not described yet
    for (const SerialPortDescription &port : ports)
        wanted.push_back(upper(SerialText::toUtf16(port.portName)));
    std::size_t left = ports.size();
    const auto [hive, path] = keyOf(enumeration);
    const RegistryKey root(hive, path);
    for (const std::wstring &enumerator : root ? subkeys(root) : std::vector<std::wstring>()) {
        const RegistryKey enumeratorKey(root, enumerator);
        for (const std::wstring &device : subkeys(enumeratorKey)) {
            const RegistryKey deviceKey(enumeratorKey, device);
            for (const std::wstring &instance : subkeys(deviceKey)) {
                if (left == 0)
                    return ports;
                const RegistryKey instanceKey(deviceKey, instance);
                const RegistryKey parameters(instanceKey, L"Device Parameters");
                const std::wstring portName = upper(stringValue(parameters, L"PortName"));
                const auto port = std::find(wanted.begin(), wanted.end(), portName);
                if (portName.empty() || port == wanted.end())
                    continue;
                describe(ports[std::size_t(port - wanted.begin())], instanceKey, enumerator, device,
                         instance);
                port->clear();
                --left;
            }
        }
    }
    return ports;
}
