// Device interfaces from sysfs: USB devices from sys/bus/usb/devices and
// monitors from the DRM connectors in sys/class/drm, each given a device path
// of the form the presence needles are written for.
#include "common/platform/devices.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include <fmt/format.h>

namespace quilo::os {
namespace {

namespace fs = std::filesystem;

// "{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
std::string ClassText(const DeviceInterfaceClass& c) {
    return fmt::format("{{{:08x}-{:04x}-{:04x}-{:02x}{:02x}-{:02x}{:02x}{:02x}{:02x}{:02x}{:02x}}}", c.data1, c.data2,
                       c.data3, c.data4[0], c.data4[1], c.data4[2], c.data4[3], c.data4[4], c.data4[5], c.data4[6],
                       c.data4[7]);
}

// Bytes outside ASCII become U+FFFD; the paths built here are ASCII otherwise.
std::wstring Widen(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char c : text) wide.push_back(c < 0x80 ? static_cast<wchar_t>(c) : L'\uFFFD');
    return wide;
}

// The first line of a sysfs attribute without its line end; nothing when the
// attribute is missing, unreadable or empty.
std::optional<std::string> ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (line.empty()) return std::nullopt;
    return line;
}

// Names of the entries of `dir`, sorted so that the order does not depend on
// the file system; empty when the folder cannot be read.
std::vector<std::string> SortedEntryNames(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A serial number that the USB stack accepts as an instance identifier:
// printable ASCII without blanks and commas. Others fall back to the bus path.
bool IsUsableSerial(const std::string& serial) {
    return std::all_of(serial.begin(), serial.end(), [](unsigned char c) { return c > 0x20 && c < 0x7F && c != ','; });
}

// "\\?\usb#vid_8086&pid_0b07#<serial or bus path>#{class}" for every entry
// with a vendor and a product identifier, taken as sysfs writes them.
std::vector<std::wstring> ListUsbDevices(const fs::path& deviceRoot, const std::string& classText) {
    std::vector<std::wstring> paths;
    const fs::path devices = deviceRoot / "sys/bus/usb/devices";
    for (const std::string& name : SortedEntryNames(devices)) {
        const fs::path device = devices / name;
        auto vendor = ReadAttribute(device / "idVendor");
        auto product = ReadAttribute(device / "idProduct");
        if (!vendor || !product) continue;  // an interface of a device, or unreadable
        auto serial = ReadAttribute(device / "serial");
        const std::string& instance = serial && IsUsableSerial(*serial) ? *serial : name;
        paths.push_back(Widen(fmt::format(R"(\\?\usb#vid_{}&pid_{}#{}#{})", *vendor, *product, instance, classText)));
    }
    return paths;
}

// DRM connectors are named "card<N>-<connector>", e.g. "card0-eDP-1".
bool IsConnectorName(const std::string& name) {
    if (name.rfind("card", 0) != 0) return false;
    size_t i = 4;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
    return i > 4 && i + 1 < name.size() && name[i] == '-';
}

// The monitor's identifier from its EDID: the three-letter manufacturer code
// and the four-digit hexadecimal product code, in lower case ("auo2e9a").
// Nothing for a truncated EDID, a wrong header or letters outside A..Z.
std::optional<std::string> MonitorIdFromEdid(const fs::path& file) {
    constexpr std::array<uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::array<uint8_t, 128> block{};  // the base block
    std::ifstream in(file, std::ios::binary);
    if (!in || !in.read(reinterpret_cast<char*>(block.data()), block.size())) return std::nullopt;
    if (!std::equal(kHeader.begin(), kHeader.end(), block.begin())) return std::nullopt;
    const unsigned maker = (block[8] << 8) | block[9];  // three 5-bit letters, 1 = 'a'
    std::string id;
    for (int shift : {10, 5, 0}) {
        const unsigned letter = (maker >> shift) & 0x1F;
        if (letter < 1 || letter > 26) return std::nullopt;
        id.push_back(static_cast<char>('a' + letter - 1));
    }
    const unsigned product = block[10] | (block[11] << 8);
    return id + fmt::format("{:04x}", product);
}

// "\\?\display#auo2e9a#<connector>#{class}" for every connected connector with
// a readable EDID.
std::vector<std::wstring> ListMonitors(const fs::path& deviceRoot, const std::string& classText) {
    std::vector<std::wstring> paths;
    const fs::path connectors = deviceRoot / "sys/class/drm";
    for (const std::string& name : SortedEntryNames(connectors)) {
        if (!IsConnectorName(name)) continue;
        const fs::path connector = connectors / name;
        if (ReadAttribute(connector / "status") != "connected") continue;
        auto id = MonitorIdFromEdid(connector / "edid");
        if (!id) continue;
        paths.push_back(Widen(fmt::format(R"(\\?\display#{}#{}#{})", *id, name, classText)));
    }
    return paths;
}

}  // namespace

fs::path SystemDeviceRoot() { return "/"; }

std::vector<std::wstring> ListDeviceInterfaces(const DeviceInterfaceClass& interfaceClass, const fs::path& deviceRoot) {
    if (interfaceClass == kUsbDeviceInterfaceClass) return ListUsbDevices(deviceRoot, ClassText(interfaceClass));
    if (interfaceClass == kMonitorInterfaceClass) return ListMonitors(deviceRoot, ClassText(interfaceClass));
    return {};
}

}  // namespace quilo::os
