#pragma once

#include "DeviceModel.h"

#include <functional>
#include <string>

namespace zsim {

class Bus;

// Reads a device description from ZPORT_SIM_* variables (see sim/README.md); getenv is
// passed in so tests can feed their own values.
DeviceConfig deviceConfigFromEnvironment(const std::function<const char *(const char *)> &getenv);

// Sets up the bus of a process that runs with the simulator preloaded.
void configureFromEnvironment(Bus &bus);

// Where the zport-sim tool and the preloaded simulator exchange commands.
std::string controlFilePath(const std::function<const char *(const char *)> &getenv);

} // namespace zsim
