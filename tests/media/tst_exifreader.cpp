#include "MediaTestUtils.h"
#include "TestUtils.h"
#include "media/ExifReader.h"

#include <QBuffer>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace MediaTestUtils;

class tst_ExifReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QByteArray plainJpeg;

    QString WriteJpeg(const QString &name, const QList<QByteArray> &segments)
    {
        const QString path = dir.filePath(name);
        if (!TestUtils::WriteFile(path, WithSegments(plainJpeg, segments)))
            return QString();
        return path;
    }

    static ExifReader ReadBlock(const QByteArray &block)
    {
        ExifReader reader;
        QByteArray bytes = block;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.read(&buffer);
        return reader;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
        plainJpeg = EncodeJpeg(QuadrantPicture(16, 12));
        QVERIFY(plainJpeg.startsWith("\xFF\xD8"));
    }

    void orientation_data()
    {
        QTest::addColumn<bool>("bigEndian");
        QTest::addColumn<quint16>("type");
        QTest::addColumn<quint32>("count");
        QTest::addColumn<quint16>("expected16");
        QTest::addColumn<quint32>("expected32");
        QTest::newRow("little-endian SHORT") << false << quint16(3) << 1u << quint16(6) << 6u;
        QTest::newRow("big-endian SHORT") << true << quint16(3) << 1u << quint16(6) << 6u;
        QTest::newRow("BYTE") << true << quint16(1) << 1u << quint16(6) << 6u;
        QTest::newRow("LONG reads 0 as 16-bit") << false << quint16(4) << 1u << quint16(0) << 6u;
        QTest::newRow("big-endian LONG") << true << quint16(4) << 1u << quint16(0) << 6u;
        QTest::newRow("SHORT count 2") << false << quint16(3) << 2u << quint16(0) << 0u;
    }

    void orientation()
    {
        QFETCH(bool, bigEndian);
        QFETCH(quint16, type);
        QFETCH(quint32, count);
        TiffBlockWriter writer(bigEndian, 8);
        QByteArray field;
        if (type == 1)
            field = TiffBlockWriter::FieldBytes(QByteArray(1, char(6)));
        else if (type == 3)
            field = writer.Field16(6, 6);
        else
            field = writer.Field32(6);
        writer.PutDirectory(8, {{274, type, count, field}});
        const QString path = WriteJpeg(QStringLiteral("orientation.jpg"), {ExifSegment(writer.bytes)});

        const ExifReader reader(path);
        QTEST(reader.value(274).toShort(), "expected16");
        QTEST(reader.value(274).toLong(), "expected32");
        QCOMPARE(reader.byteOrder(), bigEndian ? QSysInfo::BigEndian : QSysInfo::LittleEndian);
    }

    void noExifBlock_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray exif = ExifSegment(OrientationBlock(6));
        QTest::newRow("PNG") << EncodePng(QuadrantPicture(16, 12));
        QTest::newRow("JPEG without APP1") << plainJpeg;
        QTest::newRow("XMP before EXIF") << WithSegments(plainJpeg, {XmpSegment(), exif});
        QTest::newRow("not a picture") << QByteArray("G0 X0 Y0\n");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("segment length 0") << QByteArray("\xFF\xD8\xFF\xE0\x00\x00\xFF\xE0\x00\x00", 10);
        QTest::newRow("segment past the end") << QByteArray("\xFF\xD8\xFF\xE0\x7F\xFF", 6);
        QTest::newRow("bad byte order") << WithSegments(plainJpeg, {ExifSegment("XX\x00\x2A\x00\x00\x00\x08")});
        QTest::newRow("not 42") << WithSegments(plainJpeg, {ExifSegment(QByteArray("II\x2B\x00\x08\x00\x00\x00", 8))});
        // The APP1 segment claims more bytes than the file holds.
        QTest::newRow("file ends inside the block") << WithSegments(plainJpeg, {exif}).left(2 + exif.size() - 4);
    }

    void noExifBlock()
    {
        QFETCH(QByteArray, content);
        const QString path = dir.filePath(QStringLiteral("no-exif.jpg"));
        QVERIFY(TestUtils::WriteFile(path, content));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        ExifReader reader;
        QVERIFY(!reader.loadFromJpeg(path));
        QVERIFY(reader.value(274).isNull());
        QCOMPARE(reader.value(274).toShort(), quint16(0));
        QVERIFY(reader.imageTags().isEmpty());
    }

    void missingFile()
    {
        ExifReader reader;
        QVERIFY(!reader.loadFromJpeg(dir.filePath(QStringLiteral("absent.jpg"))));
        QCOMPARE(ExifReader(dir.filePath(QStringLiteral("absent.jpg"))).value(274).toShort(), quint16(0));
    }

    void unsupportedTypeWarnsAndReadingGoesOn()
    {
        TiffBlockWriter writer(false, 8);
        writer.PutDirectory(8,
                            {{1000, 8, 1, writer.Field16(7)}, writer.Short(274, 6), {1001, 12, 1, writer.Field32(0)}});
        const QString path = WriteJpeg(QStringLiteral("sshort.jpg"), {ExifSegment(writer.bytes)});

        QTest::ignoreMessage(QtWarningMsg, "Invalid Ifd Type 8");
        QTest::ignoreMessage(QtWarningMsg, "Invalid Ifd Type 12");
        const ExifReader reader(path);
        QCOMPARE(reader.value(274).toShort(), quint16(6));
        const ExifValue unsupported = reader.value(1000);
        QVERIFY(unsupported.isNull());
        QCOMPARE(unsupported.type(), quint16(ExifValue::Byte));
        QCOMPARE(unsupported.count(), 0u);
        QVERIFY(reader.imageTags().contains(1001));
    }

    void valuesInFieldOrAtOffset()
    {
        for (const bool bigEndian : {false, true}) {
            TiffBlockWriter writer(bigEndian, 8);
            const int data = 200; // past the directory of 13 entries
            writer.PutBytes(data, QByteArray("\x01\x02\x03\x04\x05", 5));
            writer.PutBytes(data + 8, QByteArray("hello\0", 6));
            writer.PutBytes(data + 16, writer.U16(10) + writer.U16(20) + writer.U16(30));
            writer.PutBytes(data + 24, writer.U32(72) + writer.U32(1) + writer.U32(quint32(-3)) + writer.U32(4));
            writer.PutBytes(data + 40, writer.U32(7) + writer.U32(8));
            writer.PutDirectory(8, {
                                       // count 4 stays in the field, whose bytes differ from the data
                                       {1, 1, 4, TiffBlockWriter::FieldBytes("\x09\x08\x07\x06")},
                                       writer.AtOffset(2, 1, 5, data),
                                       {3, 2, 3, TiffBlockWriter::FieldBytes("ab")},
                                       writer.AtOffset(4, 2, 6, data + 8),
                                       {5, 3, 2, writer.Field16(1, 2)},
                                       writer.AtOffset(6, 3, 3, data + 16),
                                       {7, 9, 1, writer.Field32(quint32(-5))},
                                       writer.AtOffset(8, 4, 2, data + 40),
                                       writer.AtOffset(9, 5, 1, data + 24),
                                       writer.AtOffset(10, 10, 1, data + 32),
                                       {11, 7, 4, TiffBlockWriter::FieldBytes("UNDF")},
                                       {12, 2, 1, TiffBlockWriter::FieldBytes(QByteArray())},
                                       {13, 4, 0, writer.Field32(99)},
                                   });
            const ExifReader reader = ReadBlock(writer.bytes);
            QCOMPARE(reader.value(1).toByteVector(), QList<quint8>({9, 8, 7, 6}));
            QCOMPARE(reader.value(2).toByteVector(), QList<quint8>({1, 2, 3, 4, 5}));
            QCOMPARE(reader.value(2).count(), 5u);
            QCOMPARE(reader.value(3).toString(), QStringLiteral("ab"));
            QCOMPARE(reader.value(3).count(), 3u);
            QCOMPARE(reader.value(4).toString(), QStringLiteral("hello"));
            QCOMPARE(reader.value(5).toShortVector(), QList<quint16>({1, 2}));
            QCOMPARE(reader.value(6).toShortVector(), QList<quint16>({10, 20, 30}));
            QCOMPARE(reader.value(7).toSignedLongVector(), QList<qint32>({-5}));
            QCOMPARE(reader.value(7).toLong(), quint32(-5));
            QCOMPARE(reader.value(8).toLongVector(), QList<quint32>({7, 8}));
            QCOMPARE(reader.value(9).toRationalVector(), (QList<QPair<quint32, quint32>>{{72, 1}}));
            QCOMPARE(reader.value(10).toSignedRationalVector(), (QList<QPair<qint32, qint32>>{{-3, 4}}));
            QCOMPARE(reader.value(11).toByteArray(), QByteArray("UNDF"));
            QCOMPARE(reader.value(12).toString(), QString());
            QCOMPARE(reader.value(12).count(), 1u);
            QCOMPARE(reader.value(13).type(), quint16(ExifValue::Long));
            QCOMPARE(reader.value(13).count(), 0u);
        }
    }

    void subDirectoriesAndEmbeddedPicture()
    {
        TiffBlockWriter writer(true, 8);
        const quint32 exifAt = 100, gpsAt = 150, ifd1At = 200, pictureAt = 260;
        writer.PutDirectory(8, {writer.Short(274, 3), writer.Long(34665, exifAt), writer.Long(34853, gpsAt)}, ifd1At);
        writer.PutDirectory(exifAt, {writer.Short(0xA002, 640), writer.Long(40965, 0)});
        writer.PutDirectory(gpsAt, {{0, 1, 4, TiffBlockWriter::FieldBytes("\x02\x03\x00\x00")}});
        writer.PutDirectory(
            ifd1At, {writer.Long(513, pictureAt), writer.Long(514, 4), writer.Short(274, 8), writer.Short(296, 2)});
        writer.PutBytes(pictureAt, QByteArray("\xFF\xD8\xFF\xD9", 4));

        const ExifReader reader = ReadBlock(writer.bytes);
        QCOMPARE(reader.value(274).toShort(), quint16(3));
        QVERIFY(!reader.imageTags().contains(34665));
        QVERIFY(!reader.imageTags().contains(34853));
        QCOMPARE(reader.extendedTags().value(0xA002).toShort(), quint16(640));
        QVERIFY(!reader.extendedTags().contains(40965));
        QCOMPARE(reader.gpsTags().value(0).toByteVector(), QList<quint8>({2, 3, 0, 0}));
        QCOMPARE(reader.thumbnailData(), QByteArray("\xFF\xD8\xFF\xD9", 4));
        QCOMPARE(reader.thumbnailOrientation().toShort(), quint16(8));
        QCOMPARE(reader.thumbnailResolutionUnit().toShort(), quint16(2));
        QVERIFY(reader.thumbnailXResolution().isNull());
    }

    // Counts and offsets that reach past the block decode to the null value; nothing is
    // read outside it and nothing is allocated for what it cannot hold.
    void entriesPastTheEnd()
    {
        TiffBlockWriter writer(false, 8);
        const int size = 120;
        writer.PutDirectory(8,
                            {
                                writer.AtOffset(1, 1, 5, size - 2),
                                writer.AtOffset(2, 4, 0xFFFFFFFFu, 8),
                                writer.AtOffset(3, 5, 0x20000000u, 8),
                                writer.AtOffset(4, 2, 100, size - 10),
                                writer.AtOffset(5, 7, 0xFFFFFFF0u, 0xFFFFFFF0u),
                                writer.AtOffset(6, 3, 3, 0xFFFFFFFFu),
                                writer.Short(274, 6),
                                writer.Long(34665, 0xFFFFFF00u),
                            },
                            0xFFFFFFF0u);
        writer.PutBytes(size - 1, QByteArray(1, '\0'));
        QCOMPARE(writer.bytes.size(), size);

        const ExifReader reader = ReadBlock(writer.bytes);
        for (quint16 tag = 1; tag <= 6; ++tag)
            QVERIFY2(reader.value(tag).isNull(), qPrintable(QString::number(tag)));
        QCOMPARE(reader.value(274).toShort(), quint16(6));
        QVERIFY(reader.extendedTags().isEmpty());
        QVERIFY(reader.thumbnailTags().isEmpty());
    }

    void truncatedDirectory()
    {
        // The directory claims 50 entries; the block ends after two of them.
        TiffBlockWriter writer(true, 8);
        writer.PutDirectory(8, {writer.Short(1, 1), writer.Short(274, 5)});
        writer.PutU16(8, 50);
        writer.bytes.chop(4);
        const ExifReader reader = ReadBlock(writer.bytes);
        QCOMPARE(reader.value(274).toShort(), quint16(5));
        QCOMPARE(reader.imageTags().size(), 2);
    }

    void directoriesPointingBack()
    {
        // IFD1 is IFD0 again, the EXIF directory points at IFD0: read once each, no loop.
        TiffBlockWriter writer(false, 8);
        writer.PutDirectory(8, {writer.Short(274, 2), writer.Long(34665, 8)}, 8);
        const ExifReader reader = ReadBlock(writer.bytes);
        QCOMPARE(reader.value(274).toShort(), quint16(2));
        QCOMPARE(reader.thumbnailTags().value(274).toShort(), quint16(2));
    }

    void valuesOutliveTheReader()
    {
        ExifValue kept;
        {
            const ExifReader reader = ReadBlock(OrientationBlock(7, true));
            kept = reader.value(274);
        }
        QCOMPARE(kept.toShort(), quint16(7));
        const ExifValue copy = kept;
        QCOMPARE(copy.count(), 1u);
    }

    // Random damage to a valid block must never crash the reader or read outside it.
    void damagedBlocks()
    {
        TiffBlockWriter writer(false, 8);
        writer.PutDirectory(8, {writer.Short(274, 6), writer.AtOffset(2, 2, 6, 80), writer.Long(34665, 90)}, 110);
        writer.PutBytes(80, QByteArray("hello\0", 6));
        writer.PutDirectory(90, {writer.AtOffset(3, 5, 1, 80)});
        writer.PutDirectory(110, {writer.Long(513, 80), writer.Long(514, 6)});
        const QByteArray valid = writer.bytes;

        QLoggingCategory::setFilterRules(QStringLiteral("packagemanager.media.exif.warning=false"));
        QRandomGenerator random(12345);
        for (int round = 0; round < 3000; ++round) {
            QByteArray damaged = valid;
            const int changes = 1 + random.bounded(6);
            for (int i = 0; i < changes; ++i)
                damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
            if (round % 7 == 0)
                damaged.truncate(random.bounded(int(damaged.size())));
            const ExifReader reader = ReadBlock(damaged);
            (void)reader.value(274).toShort();
            QByteArray jpeg = WithSegments(plainJpeg, {ExifSegment(damaged)});
            jpeg.truncate(random.bounded(int(jpeg.size())));
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::ReadOnly);
            ExifReader().loadFromJpeg(&buffer);
        }
        QLoggingCategory::setFilterRules(QString());
    }
};

QTEST_GUILESS_MAIN(tst_ExifReader)
#include "tst_exifreader.moc"
