#include "EnvironmentConfig.h"

#include "SimBus.h"

#include "device/UsbIds.h"

#include <cstdlib>
#include <sstream>

namespace zsim {

namespace {

bool parseVersion(const char *text, std::uint16_t &major, std::uint16_t &minor)
{
    unsigned a = 0;
    unsigned b = 0;
    char extra = 0;
    if (text == nullptr || std::sscanf(text, "%u.%u%c", &a, &b, &extra) != 2 || a > 0xFFFF ||
        b > 0xFFFF)
        return false;
    major = static_cast<std::uint16_t>(a);
    minor = static_cast<std::uint16_t>(b);
    return true;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

} // namespace

DeviceConfig deviceConfigFromEnvironment(const std::function<const char *(const char *)> &getenv)
{
    DeviceConfig config;
    if (const char *variant = getenv("ZPORT_SIM_VARIANT")) {
        const std::string v = variant;
        if (v == "sdi" || v == "SDI")
            config.productId = zport::kProductIdSdi;
        else if (v == "hdmi" || v == "HDMI")
            config.productId = zport::kProductIdHdmi;
        else
            config.productId = static_cast<std::uint16_t>(std::strtoul(variant, nullptr, 16));
    }
    if (const char *vendor = getenv("ZPORT_SIM_VENDOR_ID"))
        config.vendorId = static_cast<std::uint16_t>(std::strtoul(vendor, nullptr, 16));
    if (const char *interfaces = getenv("ZPORT_SIM_INTERFACES"))
        config.interfaces = std::max(1, std::atoi(interfaces));
    parseVersion(getenv("ZPORT_SIM_CPU_VERSION"), config.cpuMajor, config.cpuMinor);
    parseVersion(getenv("ZPORT_SIM_FPGA_VERSION"), config.fpgaMajor, config.fpgaMinor);
    if (const char *serial = getenv("ZPORT_SIM_SERIAL"))
        config.serial = std::string(serial).substr(0, 10);
    if (const char *fields = getenv("ZPORT_SIM_USER_FIELDS")) {
        const auto parts = split(fields, ',');
        for (std::size_t i = 0; i < parts.size() && i < config.userFields.size(); ++i)
            config.userFields[i] = static_cast<std::uint8_t>(std::atoi(parts[i].c_str()));
    }
    if (const char *lines = getenv("ZPORT_SIM_LOG_LINES"))
        config.logLines = split(lines, '|');
    if (const char *erase = getenv("ZPORT_SIM_ERASE_BUSY_MS"))
        config.eraseBusy = std::chrono::milliseconds(std::atoi(erase));
    if (const char *program = getenv("ZPORT_SIM_PROGRAM_BUSY_US"))
        config.programBusy = std::chrono::microseconds(std::atoi(program));
    return config;
}

std::string controlFilePath(const std::function<const char *(const char *)> &getenv)
{
    if (const char *path = getenv("ZPORT_SIM_CONTROL"))
        return path;
    return "/tmp/zport-sim.control";
}

void configureFromEnvironment(Bus &bus)
{
    const auto env = [](const char *name) { return std::getenv(name); };
    const int id = bus.plug(deviceConfigFromEnvironment(env));
    const char *plugged = env("ZPORT_SIM_PLUGGED");
    if (plugged != nullptr && std::string(plugged) == "0")
        bus.unplug(id);
    if (const char *latency = env("ZPORT_SIM_LATENCY_US"))
        bus.setLatency(std::chrono::microseconds(std::atoi(latency)));
    bus.setControlFile(controlFilePath(env));
    bus.writeStatusFile();
}

} // namespace zsim
