#include "SimTestSupport.h"
#include "StdoutCapture.h"

#include "device/UsbIds.h"
#include "device/WinHID.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace simtest;

namespace {

zsim::DeviceConfig device(std::uint16_t productId = zport::kProductIdHdmi,
                          std::uint16_t vendorId = zport::kVendorId, int interfaces = 1)
{
    zsim::DeviceConfig config;
    config.productId = productId;
    config.vendorId = vendorId;
    config.interfaces = interfaces;
    return config;
}

const std::uint8_t kStatusRequest[1] = {0x77};

} // namespace

class TestWinHID : public QObject
{
    Q_OBJECT

private slots:
    void init() { zsim::Bus::instance().reset(); }

    void enumerateListsOurInterfaces_data()
    {
        QTest::addColumn<QList<int>>("productIds"); // one device each
        QTest::addColumn<int>("interfaces");
        QTest::addColumn<QStringList>("expected");

        const QString hdmi = QStringLiteral("{#vid_3a7c &pid_15ad}");
        const QString sdi = QStringLiteral("{#vid_3a7c &pid_15ae}");
        QTest::newRow("none") << QList<int>{} << 1 << QStringList{};
        QTest::newRow("HDMI") << QList<int>{0x15AD} << 1 << QStringList{hdmi};
        QTest::newRow("SDI") << QList<int>{0x15AE} << 1 << QStringList{sdi};
        QTest::newRow("two interfaces of one device")
            << QList<int>{0x15AD} << 2 << QStringList{hdmi, hdmi};
        QTest::newRow("two devices") << QList<int>{0x15AD, 0x15AE} << 1 << QStringList{hdmi, sdi};
        QTest::newRow("no leading zeros")
            << QList<int>{0x0042} << 1 << QStringList{QStringLiteral("{#vid_3a7c &pid_42}")};
    }

    void enumerateListsOurInterfaces()
    {
        QFETCH(QList<int>, productIds);
        QFETCH(int, interfaces);
        QFETCH(QStringList, expected);
        for (int pid : productIds)
            zsim::Bus::instance().plug(
                device(static_cast<std::uint16_t>(pid), zport::kVendorId, interfaces));

        WinHID link;
        StdoutCapture out;
        QCOMPARE(link.enumerate(), expected);
        QByteArray printed;
        for (const QString &identity : expected)
            printed +=
                "\n-" + QByteArray::number(zport::kVendorId) + "-\n" + identity.toLatin1() + "\n";
        QCOMPARE(out.text(), printed);
    }

    void enumerateIgnoresOtherVendors()
    {
        zsim::Bus::instance().plug(device(zport::kProductIdHdmi, 0x046D));
        WinHID link;
        StdoutCapture out;
        QVERIFY(link.enumerate().isEmpty());
        QCOMPARE(out.text(), QByteArray());
    }

    void enumerateListsAnInterfaceThatIsOpen()
    {
        zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        QCOMPARE(link.enumerate().size(), 1);
    }

    void noHandleMeansNoTransfer()
    {
        zsim::Bus::instance().plug();
        WinHID link;
        std::uint8_t buffer[64] = {};
        QCOMPARE(link.write(0, kStatusRequest, 1), 0);
        QCOMPARE(link.read(buffer, 64), -1);

        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        QCOMPARE(link.close(), 1);
        QCOMPARE(link.write(0, kStatusRequest, 1), 0);
        QCOMPARE(link.read(buffer, 64), -1);
        QVERIFY(zsim::Bus::instance().record().empty());
    }

    void writeSendsFullZeroFilledReport_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("1 byte") << 1;
        QTest::newRow("25 bytes") << 25;
        QTest::newRow("64 bytes") << 64;
    }

    void writeSendsFullZeroFilledReport()
    {
        QFETCH(int, length);
        zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        // A settings command: code, four setting bytes, the rest must arrive as zeros.
        std::uint8_t data[64] = {0xF0, 1, 2, 3, 0};
        QCOMPARE(link.write(0, data, static_cast<std::uint8_t>(length)), 65);
        const auto record = zsim::Bus::instance().record();
        QCOMPARE(int(record.size()), 1);
        QCOMPARE(int(record[0].length), 65);
        QCOMPARE(bytes(record[0].bytes), padded(QByteArray("\xF0\x01\x02\x03", 4).left(length)));
        QVERIFY(noProtocolErrors());
    }

    void writeRefusesOverlongReport()
    {
        zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        // 65 bytes of which the last would be read past a 64-byte report.
        std::uint8_t data[65] = {0x77};
        QCOMPARE(link.write(0, data, 65), -1);
        QVERIFY(zsim::Bus::instance().record().empty());
    }

    void readReturnsCompleteReport()
    {
        zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        QCOMPARE(link.write(0, kStatusRequest, 1), 65);
        std::uint8_t reply[64] = {};
        QCOMPARE(link.read(reply, 64), 64);
        QCOMPARE(int(reply[12]), 1); // CPU major of the default device
    }

    void openTwiceKeepsBothAndUsesTheSecond()
    {
        zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        QCOMPARE(zsim::Bus::instance().openHandleCount(), 2);
        QCOMPARE(link.write(0, kStatusRequest, 1), 65);
        QCOMPARE(link.write(0, kStatusRequest, 1), 65);
        const int second = zsim::Bus::instance().lastOpenedHandleId();
        for (const auto &entry : zsim::Bus::instance().record()) {
            if (entry.direction == zsim::Direction::HostToDevice)
                QCOMPARE(entry.handleId, second);
        }
        QCOMPARE(link.close(), 1);
        QCOMPARE(zsim::Bus::instance().openHandleCount(), 0);
    }

    void failedOpenIsNeverUsedForTransfers()
    {
        const int id = zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        zsim::Bus::instance().setOpenFails(id, true);
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), -1);
        QCOMPARE(link.handleCount(), 2);
        // The failed open is current: nothing goes to the earlier handle.
        std::uint8_t reply[64] = {};
        QCOMPARE(link.write(0, kStatusRequest, 1), 0);
        QCOMPARE(link.read(reply, 64), -1);
        QVERIFY(zsim::Bus::instance().record().empty());

        QCOMPARE(link.close(), 1);
        QCOMPARE(link.handleCount(), 0);
        QCOMPARE(zsim::Bus::instance().openHandleCount(), 0);
    }

    void openWithoutDeviceFails()
    {
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), -1);
        QCOMPARE(link.close(), 1);
    }

    void silentDeviceEndsReadWithinBound()
    {
        zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.readTimeout(), 1000);
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        zsim::Bus::instance().setDropReplies(-1);
        QCOMPARE(link.write(0, kStatusRequest, 1), 65);
        std::uint8_t reply[64] = {};
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(link.read(reply, 64), 0);
        QVERIFY2(timer.elapsed() >= 900 && timer.elapsed() < 3000,
                 qPrintable(QString::number(timer.elapsed())));
    }

    void goneDeviceFailsTransfers()
    {
        const int id = zsim::Bus::instance().plug();
        WinHID link;
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        zsim::Bus::instance().unplug(id);
        std::uint8_t reply[64] = {};
        QCOMPARE(link.write(0, kStatusRequest, 1), -1);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(link.read(reply, 64), -1);
        QVERIFY(timer.elapsed() < 500);
    }

    void closeWaitsForTransferOnAnotherThread()
    {
        zsim::Bus::instance().plug();
        WinHID link;
        link.setReadTimeout(300);
        QCOMPARE(link.open(zport::kVendorId, zport::kProductIdHdmi), 0);
        zsim::Bus::instance().setDropReplies(-1);

        std::atomic<int> readResult{1};
        std::thread reader([&] {
            std::uint8_t reply[64];
            readResult = link.read(reply, 64);
        });
        QTRY_VERIFY_WITH_TIMEOUT(zsim::Bus::instance().waitingReads() == 1, 2000);
        // Enumeration does not queue behind the transfer.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(link.enumerate().size(), 1);
        QVERIFY(timer.elapsed() < 250);
        // close() must not free the handle under the read; the read ends by its bound.
        QCOMPARE(link.close(), 1);
        reader.join();
        QCOMPARE(readResult.load(), 0);
        QCOMPARE(zsim::Bus::instance().openHandleCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWinHID)
#include "tst_winhid.moc"
