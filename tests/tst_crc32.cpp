#include "threads/Crc32.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cstdint>
#include <limits>
#include <vector>
#include <zlib.h>

namespace {

// zlib declares a crc32 of its own; these pick one of the two overloads each.
using CrcFunction = std::uint32_t (*)(std::uint32_t, const std::uint8_t *, std::uint32_t);
const CrcFunction ours = &crc32;
using ZlibFunction = uLong (*)(uLong, const Bytef *, uInt);
const ZlibFunction zlibCrc = &::crc32;

const std::uint8_t *bytesOf(const QByteArray &data)
{
    return reinterpret_cast<const std::uint8_t *>(data.constData());
}

std::uint32_t crcOf(const QByteArray &data)
{
    return ours(0, bytesOf(data), std::uint32_t(data.size()));
}

} // namespace

class TestCrc32 : public QObject
{
    Q_OBJECT

private slots:
    void knownValues_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<uint>("expected");

        QTest::newRow("check value") << QByteArray("123456789") << 0xCBF43926u;
        QTest::newRow("no bytes") << QByteArray() << 0u;
        QTest::newRow("one zero byte") << QByteArray(1, '\0') << 0xD202EF8Du;
        QTest::newRow("32 bytes of 0xFF") << QByteArray(32, '\xFF') << 0xFF6CAB0Bu;
        QTest::newRow("sentence") << QByteArray("The quick brown fox jumps over the lazy dog")
                                  << 0x414FA339u;
    }

    void knownValues()
    {
        QFETCH(QByteArray, data);
        QFETCH(uint, expected);
        QCOMPARE(crcOf(data), std::uint32_t(expected));
    }

    void piecesChainToTheWhole_data()
    {
        QTest::addColumn<QList<int>>("cuts");

        QTest::newRow("halves") << QList<int>{500};
        QTest::newRow("empty first piece") << QList<int>{0};
        QTest::newRow("empty last piece") << QList<int>{1000};
        QTest::newRow("one byte at a time at the start") << QList<int>{1, 2, 3, 4};
        QTest::newRow("uneven pieces") << QList<int>{7, 63, 64, 300, 999};
        QTest::newRow("page-sized pieces") << QList<int>{256, 512, 768};
    }

    void piecesChainToTheWhole()
    {
        QFETCH(QList<int>, cuts);
        QByteArray data(1000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char((i * 131 + 7) & 0xFF);

        std::uint32_t running = 0;
        int from = 0;
        for (int cut : cuts + QList<int>{data.size()}) {
            running = ours(running, bytesOf(data) + from, std::uint32_t(cut - from));
            from = cut;
        }
        QCOMPARE(running, crcOf(data));
    }

    void agreesWithZlib_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<quint32>("generatorStart");

        for (int size : {1, 2, 3, 255, 256, 4097, 180072, 1 << 20})
            QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(size)))
                << size << quint32(size * 7);
    }

    void agreesWithZlib()
    {
        QFETCH(int, size);
        QFETCH(quint32, generatorStart);
        QRandomGenerator random(generatorStart);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
        for (auto &byte : data)
            byte = static_cast<std::uint8_t>(random.bounded(256));

        const uLong expected = zlibCrc(zlibCrc(0, Z_NULL, 0), data.data(), uInt(size));
        QCOMPARE(ours(0, data.data(), std::uint32_t(size)), std::uint32_t(expected));

        // Continuing from another running value agrees as well.
        const uLong half = zlibCrc(0, data.data(), uInt(size / 2));
        QCOMPARE(ours(std::uint32_t(half), data.data() + size / 2, std::uint32_t(size - size / 2)),
                 std::uint32_t(expected));
    }

    void countWrappingPastTheTopIsNothing()
    {
        // Never dereferenced: a count whose end would wrap is taken as 0, which returns the
        // running value unchanged.
        const auto nearTop =
            reinterpret_cast<const std::uint8_t *>(std::numeric_limits<std::uintptr_t>::max() - 15);
        QCOMPARE(ours(0x12345678u, nearTop, 17), 0x12345678u);
        QCOMPARE(ours(0, nearTop, 0xFFFFFFFFu), 0u);
        QCOMPARE(ours(0xCBF43926u, nullptr, 9), 0xCBF43926u);
    }
};

QTEST_GUILESS_MAIN(TestCrc32)
#include "tst_crc32.moc"
