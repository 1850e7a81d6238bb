// zport-sim: plug, unplug or power-cycle the simulated Z-PORT of an updater that runs with the
// simulator preloaded, from another terminal.
#include "EnvironmentConfig.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <thread>

namespace {

const std::set<std::string> kCommands = {"plug",          "unplug",       "plug-second",
                                         "unplug-second", "power-cycle",  "silent",
                                         "answer",        "busy-forever", "not-busy"};

int usage()
{
    std::cerr << "usage: zport-sim COMMAND\n"
                 "  plug           plug the Z-PORT in (again)\n"
                 "  unplug         unplug it\n"
                 "  plug-second    plug in a second Z-PORT\n"
                 "  unplug-second  unplug the second Z-PORT\n"
                 "  power-cycle    switch the Z-PORT off and on\n"
                 "  silent|answer  stop or resume answering requests\n"
                 "  busy-forever|not-busy  keep the flash busy or not\n"
                 "  status         show the simulated bus\n"
                 "The updater picks a command up at its next USB access (at most a second while\n"
                 "it watches the device). ZPORT_SIM_CONTROL names the control file.\n";
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        return usage();
    const std::string command = argv[1];
    const std::string path = zsim::controlFilePath([](const char *n) { return std::getenv(n); });
    if (command == "status") {
        std::ifstream in(path + ".status");
        if (!in) {
            std::cerr << "no simulated updater has reported yet (" << path << ".status)\n";
            return 1;
        }
        std::cout << in.rdbuf();
        return 0;
    }
    if (kCommands.count(command) == 0)
        return usage();
    std::ofstream out(path, std::ios::app);
    if (!out) {
        std::cerr << "cannot write " << path << "\n";
        return 1;
    }
    out << command << '\n';
    std::cout << command << " sent to " << path << "\n";
    return 0;
}
