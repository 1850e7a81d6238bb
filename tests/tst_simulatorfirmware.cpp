// The simulated Z-PORT's flash as its firmware sees it: the unit of an erase index depends on
// the CPU firmware, and after a power cycle the device reports the versions of the images in
// its flash.
#include "SimTestSupport.h"

#include "FirmwareImageFormat.h"

#include <QFile>
#include <QtTest>

#include <cstring>

using namespace simtest;
using zsim::Clock;
using zsim::DeviceModel;
using zsim::Report;

namespace {

Report fuRequest()
{
    return command(longForm(0x0A, 17, 0x1092, QByteArray("Kestrel-Overhang", 17)));
}

Report erase(uint index)
{
    return command(longForm(0x50, 11, index, QByteArray("B-Red-Kite", 11)));
}

// CPU major, minor, FPGA major, minor from a status reply.
QList<int> versions(DeviceModel &device)
{
    const Report r = device.handle(command(QByteArray(1, '\x77')), Clock::now()).at(0);
    QList<int> v;
    for (std::size_t at = 12; at < 20; at += 2)
        v << (r[at] | r[at + 1] << 8);
    return v;
}

void place(DeviceModel &device, std::size_t address, const QByteArray &bytes)
{
    std::memcpy(device.flash().data() + address, bytes.constData(), std::size_t(bytes.size()));
}

QByteArray record(char kind, int major, int minor)
{
    QByteArray image(int(zport::kVersionRecordOffset + zport::kVersionRecordSize), '\0');
    zport::writeVersionRecord(reinterpret_cast<std::uint8_t *>(image.data()),
                              std::size_t(image.size()), kind, std::uint16_t(major),
                              std::uint16_t(minor));
    return image.mid(int(zport::kVersionRecordOffset));
}

QByteArray carried(const char *name)
{
    QFile file(QStringLiteral(ZPORT_FIRMWARE_DIR "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", name);
    return file.readAll();
}

// Bytes to put into the flash, by address.
using Placements = QList<QPair<uint, QByteArray>>;

} // namespace

class TestSimulatorFirmware : public QObject
{
    Q_OBJECT

private slots:
    void eraseUnitFollowsTheCpuFirmware_data()
    {
        QTest::addColumn<int>("cpuMajor");
        QTest::addColumn<uint>("index");
        QTest::addColumn<uint>("start");
        QTest::addColumn<uint>("length");

        QTest::newRow("1.x, index 0: 64 KiB sector") << 1 << 0u << 0u << 0x10000u;
        QTest::newRow("1.x, index 5: 64 KiB sector") << 1 << 5u << 0x50000u << 0x10000u;
        QTest::newRow("1.x, index 6: 64 KiB sector") << 1 << 6u << 0x60000u << 0x10000u;
        QTest::newRow("1.x, last sector") << 1 << 255u << 0xFF0000u << 0x10000u;
        QTest::newRow("2.x, index 0: 256 KiB block") << 2 << 0u << 0u << 0x40000u;
        QTest::newRow("2.x, index 1: 256 KiB block") << 2 << 1u << 0x40000u << 0x40000u;
        QTest::newRow("2.x, index 5: 256 KiB block") << 2 << 5u << 0x140000u << 0x40000u;
        QTest::newRow("2.x, index 6: 64 KiB sector") << 2 << 6u << 0x60000u << 0x10000u;
        QTest::newRow("3.x, index 19: 64 KiB sector") << 3 << 19u << 0x130000u << 0x10000u;
    }

    void eraseUnitFollowsTheCpuFirmware()
    {
        QFETCH(int, cpuMajor);
        QFETCH(uint, index);
        QFETCH(uint, start);
        QFETCH(uint, length);

        zsim::DeviceConfig config;
        config.cpuMajor = std::uint16_t(cpuMajor);
        DeviceModel device(config);
        std::fill(device.flash().begin(), device.flash().end(), std::uint8_t{0});
        device.handle(fuRequest(), Clock::now());
        device.handle(erase(index), Clock::now());
        QVERIFY(device.protocolErrors().empty());

        const auto &flash = device.flash();
        const auto first = flash.begin() + start;
        QVERIFY(std::all_of(first, first + length, [](std::uint8_t b) { return b == 0xFF; }));
        QCOMPARE(int(std::count(flash.begin(), flash.end(), std::uint8_t{0xFF})), int(length));
    }

    void eraseBeyondTheFlashIsRefused_data()
    {
        QTest::addColumn<int>("cpuMajor");
        QTest::addColumn<uint>("index");

        QTest::newRow("1.x, sector 256") << 1 << 256u;
        QTest::newRow("2.x, sector 256") << 2 << 256u;
    }

    void eraseBeyondTheFlashIsRefused()
    {
        QFETCH(int, cpuMajor);
        QFETCH(uint, index);
        zsim::DeviceConfig config;
        config.cpuMajor = std::uint16_t(cpuMajor);
        DeviceModel device(config);
        device.handle(fuRequest(), Clock::now());
        device.handle(erase(index), Clock::now());
        QCOMPARE(int(device.protocolErrors().size()), 1);
        QVERIFY(device.erasedSectors().empty());
    }

    void powerCycleReportsTheFlashedVersions_data()
    {
        QTest::addColumn<Placements>("contents");
        QTest::addColumn<QList<int>>("expected");

        const QList<int> configured{1, 8, 1, 12};
        QTest::newRow("blank flash") << Placements{} << configured;
        QTest::newRow("both records")
            << Placements{{0x100u, record('C', 2, 3)}, {0x60200u, record('F', 4, 5)}}
            << QList<int>{2, 3, 4, 5};
        QTest::newRow("CPU record only")
            << Placements{{0x100u, record('C', 1, 9)}} << QList<int>{1, 9, 1, 12};
        QTest::newRow("FPGA record only")
            << Placements{{0x60200u, record('F', 1, 13)}} << QList<int>{1, 8, 1, 13};
        QTest::newRow("FPGA record where its header would be")
            << Placements{{0x60100u, record('F', 1, 13)}} << configured;
        QTest::newRow("records of the wrong kind")
            << Placements{{0x100u, record('F', 1, 9)}, {0x60200u, record('C', 1, 13)}}
            << configured;
        QTest::newRow("carried images as the update writes them")
            << Placements{{0u, carried("Z-PORT_1_09.img")}, {0x60100u, carried("Z-PORT_1_13.bin")}}
            << QList<int>{1, 9, 1, 13};
    }

    void powerCycleReportsTheFlashedVersions()
    {
        QFETCH(Placements, contents);
        QFETCH(QList<int>, expected);

        DeviceModel device{zsim::DeviceConfig()};
        for (const auto &piece : contents)
            place(device, piece.first, piece.second);
        // The running firmware does not change until the device restarts.
        QCOMPARE(versions(device), (QList<int>{1, 8, 1, 12}));
        device.powerCycle();
        QCOMPARE(versions(device), expected);
    }

    void replugRestartsTheDevice()
    {
        auto &bus = zsim::Bus::instance();
        bus.reset();
        const int id = bus.plug();
        bus.withDevice(id, [](DeviceModel &m) { place(m, 0x100, record('C', 1, 9)); });
        bus.unplug(id);
        bus.replug(id);
        bus.withDevice(id, [](DeviceModel &m) {
            QCOMPARE(int(m.config().cpuMinor), 9);
            QCOMPARE(int(m.config().fpgaMinor), 12);
        });
    }
};

QTEST_GUILESS_MAIN(TestSimulatorFirmware)
#include "tst_simulatorfirmware.moc"
