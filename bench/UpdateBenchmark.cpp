// Runs a whole update of the carried images against the simulated Z-PORT with a modelled USB
// timing, and compares the wall time with the least the protocol allows for that timing.
#include "SimBus.h"

#include "device/UsbIds.h"
#include "device/WinHID.h"
#include "threads/ImageFile.h"
#include "threads/MetaTypes.h"
#include "threads/UpdateFPGAThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

struct Result
{
    bool ok = false;
    std::size_t sent = 0;
    std::size_t read = 0;
    double wallMs = 0;
    double cpuMs = 0;
    double pausesMs = 0;
};

QByteArray resource(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The pauses a pass must make: 2 ms after each full page, 15 ms after a short last page,
// 3 ms after the FPGA header.
double mandatedPausesMs(std::size_t size, bool header)
{
    return double(size / 256) * 2.0 + (size % 256 != 0 ? 15.0 : 0.0) + (header ? 3.0 : 0.0);
}

Result runUpdate(int latencyUs)
{
    auto &bus = zsim::Bus::instance();
    bus.reset();
    zsim::DeviceConfig config; // CPU firmware 1.8: the old erase scheme, as the window picks it
    const int device = bus.plug(config);
    bus.setLatency(std::chrono::microseconds(latencyUs));

    WinHID link;
    Result result;
    if (link.open(zport::kVendorId, zport::kProductIdHdmi) != 0)
        return result;
    UpdateFPGAThread thread(link);
    thread.setOldFirmware(true);
    thread.setCpuImagePath(":/resources/Z-PORT_1_09.img");
    thread.setFpgaImagePath(":/resources/Z-PORT_1_13.bin");
    int succeeded = 0;
    QObject::connect(
        &thread, &UpdateFPGAThread::PostFPGAUpdateComplete, &thread,
        [&succeeded](const QString &, ErrorCodes code) {
            succeeded += code == UpdateSucceeded ? 1 : 0;
        },
        Qt::DirectConnection);
    bus.clearRecord();

    const QByteArray cpu = resource(":/resources/Z-PORT_1_09.img");
    const QByteArray fpga = resource(":/resources/Z-PORT_1_13.bin");
    QElapsedTimer wall;
    wall.start();
    const std::clock_t cpuStart = std::clock();
    for (bool cpuPass : {true, false}) {
        if (!thread.selectImage(cpuPass))
            return result;
        thread.start();
        thread.wait();
    }
    result.cpuMs = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    result.wallMs = double(wall.nsecsElapsed()) / 1e6;
    result.pausesMs = mandatedPausesMs(std::size_t(cpu.size()), false) +
                      mandatedPausesMs(std::size_t(fpga.size()), true);

    for (const auto &entry : bus.record())
        (entry.direction == zsim::Direction::HostToDevice ? result.sent : result.read) += 1;

    bool flashMatches = false;
    bus.withDevice(device, [&](zsim::DeviceModel &m) {
        const auto &flash = m.flash();
        flashMatches =
            std::memcmp(flash.data(), cpu.constData(), std::size_t(cpu.size())) == 0 &&
            std::memcmp(flash.data() + 0x60100, fpga.constData(), std::size_t(fpga.size())) == 0;
    });
    result.ok = succeeded == 2 && flashMatches && bus.protocolErrors().empty();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    registerErrorCodesMetaType();
    std::vector<int> latencies;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments)
        latencies.push_back(argument.toInt());
    if (latencies.empty())
        latencies = {125, 1000};

    const Result idle = runUpdate(0);
    std::printf("latency 0 us: %s, %zu reports sent, %zu read, wall %.0f ms, host CPU %.0f ms\n",
                idle.ok ? "update ok" : "UPDATE FAILED", idle.sent, idle.read, idle.wallMs,
                idle.cpuMs);
    bool allOk = idle.ok;
    for (int latency : latencies) {
        const Result r = runUpdate(latency);
        const double bound = double(r.sent + r.read) * latency / 1000.0 + r.pausesMs;
        std::printf("latency %d us: %s, %zu reports sent, %zu read, wall %.0f ms, lower bound "
                    "%.0f ms (reports x latency + %.0f ms of pauses), ratio %.2f\n",
                    latency, r.ok ? "update ok" : "UPDATE FAILED", r.sent, r.read, r.wallMs, bound,
                    r.pausesMs, r.wallMs / bound);
        allOk = allOk && r.ok;
    }
    return allOk ? 0 : 1;
}
