#include "MediaTestUtils.h"
#include "media/ExifReader.h"

#include <QBuffer>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTest>

using namespace MediaTestUtils;

// Reads a JPEG stream, or a bare TIFF block.
static ExifReader Read(QByteArray bytes, bool jpeg = false)
{
    ExifReader reader;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    (void)(jpeg ? reader.loadFromJpeg(&buffer) : reader.read(&buffer));
    return reader;
}

class tst_ExifReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void orientation_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("expected");
        const QByteArray jpeg = Encode(QuadrantPicture(16, 12));
        const QByteArray xmp("\xFF\xE1\x00\x20http://ns.adobe.com/xap/1.0/\0<x/>", 34);
        QTest::newRow("little-endian") << WithExif(jpeg, OrientationBlock(6)) << 6;
        QTest::newRow("big-endian") << WithExif(jpeg, OrientationBlock(6, true)) << 6;
        QTest::newRow("LONG reads 0") << WithExif(jpeg, OrientationBlock(6, false, 4)) << 0;
        QTest::newRow("XMP before EXIF") << WithExif(jpeg, OrientationBlock(6), xmp) << 0;
        QTest::newRow("segment length 0") << QByteArray("\xFF\xD8\xFF\xE0\x00\x00\xFF\xE0\x00\x00", 10) << 0;
        QTest::newRow("file ends inside the block") << WithExif(jpeg, OrientationBlock(6)).left(24) << 0;
    }

    void orientation()
    {
        QFETCH(QByteArray, content);
        QTEST(int(Read(content, true).value(274).toShort()), "expected");
    }

    void valuesAndUnsupportedTypes()
    {
        for (const bool bigEndian : {false, true}) {
            TiffBlock block(bigEndian);
            block.Put(100,
                      QByteArray("\x01\x02\x03\x04\x05\0\0\0hello\0", 14) + block.Number(72, 4) + block.Number(1, 4));
            // SSHORT first: it is not supported, the rest still decodes. Count 4 stays in the
            // field, whose bytes differ from the data at any offset.
            block.Directory(8, {block.Entry(6, 8, 1, block.Number(7, 2)), block.Entry(1, 1, 4, "\x09\x08\x07\x06"),
                                block.At(2, 1, 5, 100), block.Entry(3, 2, 3, "ab"), block.At(4, 2, 6, 108),
                                block.At(5, 5, 1, 114)});
            QTest::ignoreMessage(QtWarningMsg, "Invalid Ifd Type 8");
            const ExifReader reader = Read(block.bytes);
            QVERIFY(reader.value(6).isNull());
            QCOMPARE(reader.value(1).toByteVector(), QList<quint8>({9, 8, 7, 6}));
            QCOMPARE(reader.value(2).toByteVector(), QList<quint8>({1, 2, 3, 4, 5}));
            QCOMPARE(reader.value(3).toString(), QStringLiteral("ab"));
            QCOMPARE(reader.value(4).toString(), QStringLiteral("hello"));
            QCOMPARE(reader.value(5).toRationalVector(), (QList<QPair<quint32, quint32>>{{72, 1}}));
        }
    }

    // Entries reaching past the block read as null; a directory cut short keeps its whole
    // entries; directories pointing back are read once. Random damage never crashes.
    void damagedBlocks()
    {
        TiffBlock block(false);
        block.Directory(8,
                        {block.At(1, 1, 5, 118), block.At(2, 4, 0xFFFFFFFFu, 8), block.At(3, 5, 0x20000000u, 8),
                         block.At(5, 7, 0xFFFFFFF0u, 0xFFFFFFF0u), block.Short(274, 6), block.At(513, 4, 1, 100),
                         block.At(514, 4, 1, 6), block.At(34665, 4, 1, 8)},
                        8);
        block.Put(119, QByteArray(1, '\0'));
        const ExifReader reader = Read(block.bytes);
        QVERIFY(reader.value(1).isNull() && reader.value(2).isNull() && reader.value(3).isNull() &&
                reader.value(5).isNull());
        QCOMPARE(reader.value(274).toShort(), quint16(6));
        QCOMPARE(reader.thumbnailTags().value(274).toShort(), quint16(6));
        block.Put(8, block.Number(50, 2)); // claims 50 entries; the block ends inside the sixth
        QCOMPARE(Read(block.bytes.left(8 + 2 + 5 * 12 + 4)).imageTags().keys(), QList<quint16>({1, 2, 3, 5, 274}));

        QLoggingCategory::setFilterRules(QStringLiteral("packagemanager.media.exif.warning=false")); // the last test
        QRandomGenerator random(12345);
        for (int round = 0; round < 3000; ++round) {
            QByteArray damaged = block.bytes;
            for (int i = random.bounded(1, 7); i > 0; --i)
                damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
            (void)Read(damaged.left(round % 3 ? damaged.size() : random.bounded(int(damaged.size()))));
        }
    }
};

QTEST_GUILESS_MAIN(tst_ExifReader)
#include "tst_exifreader.moc"
