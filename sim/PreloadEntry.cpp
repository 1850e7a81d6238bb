// Only in the preloadable library: the simulated device is described by the environment.
#include "EnvironmentConfig.h"
#include "SimBus.h"

namespace {

struct ConfigureOnLoad
{
    ConfigureOnLoad() { zsim::configureFromEnvironment(zsim::Bus::instance()); }
} configureOnLoad;

} // namespace
