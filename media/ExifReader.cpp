#include "media/ExifReader.h"
#include "media/ExifValue_p.h"
#include "platform/RegularFiles.h"

#include <QBuffer>
#include <QFile>
#include <QLoggingCategory>
#include <QtEndian>

Q_LOGGING_CATEGORY(lcExif, "packagemanager.media.exif", QtWarningMsg)

namespace {

constexpr quint16 ExifDirectoryTag = 0x8769;
constexpr quint16 GpsDirectoryTag = 0x8825;
constexpr quint16 InteroperabilityDirectoryTag = 0xA005;
constexpr quint16 JpegOffsetTag = 0x0201;
constexpr quint16 JpegLengthTag = 0x0202;
constexpr quint16 XResolutionTag = 282;
constexpr quint16 YResolutionTag = 283;
constexpr quint16 ResolutionUnitTag = 296;
constexpr int EntrySize = 12;

using TagMap = QMap<quint16, ExifValue>;

// Bounds-checked access to a TIFF block; every offset counts from its first byte.
class TiffBlock
{
public:
    TiffBlock(const QByteArray &bytes, bool bigEndian) : bytes(bytes), bigEndian(bigEndian) {}

    bool Holds(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && length <= bytes.size() && offset <= bytes.size() - length;
    }

    // Numbers beyond the end of the block read as 0.
    quint16 U16(qint64 offset) const
    {
        if (!Holds(offset, 2))
            return 0;
        const uchar *p = reinterpret_cast<const uchar *>(bytes.constData()) + offset;
        return bigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    }

    quint32 U32(qint64 offset) const
    {
        if (!Holds(offset, 4))
            return 0;
        const uchar *p = reinterpret_cast<const uchar *>(bytes.constData()) + offset;
        return bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }

    QByteArray Bytes(qint64 offset, qint64 length) const
    {
        return Holds(offset, length) ? bytes.mid(offset, length) : QByteArray();
    }

    // Reads the entries of the directory at `offset` into `tags`; returns the offset of the
    // next directory (0 for none or when the directory runs past the block).
    quint32 ReadDirectory(qint64 offset, TagMap &tags) const
    {
        const quint16 entryCount = U16(offset);
        const qint64 first = offset + 2;
        for (quint16 i = 0; i < entryCount; ++i) {
            const qint64 entry = first + qint64(i) * EntrySize;
            if (!Holds(entry, EntrySize))
                return 0;
            tags.insert(U16(entry), DecodeEntry(entry));
        }
        return U32(first + qint64(entryCount) * EntrySize);
    }

private:
    // Where the elements of an entry lie: in its own 4-byte field when they fit, else at
    // the offset the field holds. An empty optional-like result (-1) when they do not all
    // lie inside the block.
    qint64 ElementsAt(qint64 entry, quint32 count, int elementSize, quint32 fitsInField) const
    {
        if (count <= fitsInField)
            return entry + 8;
        const qint64 offset = U32(entry + 8);
        return Holds(offset, qint64(count) * elementSize) ? offset : -1;
    }

    ExifValue DecodeEntry(qint64 entry) const
    {
        const quint16 type = U16(entry + 2);
        const quint32 count = U32(entry + 4);
        switch (type) {
        case ExifValue::Byte: {
            const qint64 at = ElementsAt(entry, count, 1, 4);
            if (at < 0)
                return ExifValue();
            QList<quint8> values;
            values.reserve(count);
            for (quint32 i = 0; i < count; ++i)
                values.append(quint8(bytes.at(at + i)));
            return ExifValue(values);
        }
        case ExifValue::Ascii: {
            const qint64 at = ElementsAt(entry, count, 1, 4);
            if (at < 0)
                return ExifValue();
            // The last byte is the terminating zero.
            return ExifValue(count <= 1 ? QString() : QString::fromLatin1(Bytes(at, count - 1)));
        }
        case ExifValue::Short: {
            const qint64 at = ElementsAt(entry, count, 2, 2);
            if (at < 0)
                return ExifValue();
            QList<quint16> values;
            values.reserve(count);
            for (quint32 i = 0; i < count; ++i)
                values.append(U16(at + qint64(i) * 2));
            return ExifValue(values);
        }
        case ExifValue::Long:
        case ExifValue::SignedLong: {
            const qint64 at = ElementsAt(entry, count, 4, 1);
            if (at < 0)
                return ExifValue();
            if (type == ExifValue::Long) {
                QList<quint32> values;
                values.reserve(count);
                for (quint32 i = 0; i < count; ++i)
                    values.append(U32(at + qint64(i) * 4));
                return ExifValue(values);
            }
            QList<qint32> values;
            values.reserve(count);
            for (quint32 i = 0; i < count; ++i)
                values.append(qint32(U32(at + qint64(i) * 4)));
            return ExifValue(values);
        }
        case ExifValue::Rational:
        case ExifValue::SignedRational: {
            const qint64 at = ElementsAt(entry, count, 8, 0);
            if (at < 0)
                return ExifValue();
            if (type == ExifValue::Rational) {
                QList<QPair<quint32, quint32>> values;
                values.reserve(count);
                for (quint32 i = 0; i < count; ++i)
                    values.append(qMakePair(U32(at + qint64(i) * 8), U32(at + qint64(i) * 8 + 4)));
                return ExifValue(values);
            }
            QList<QPair<qint32, qint32>> values;
            values.reserve(count);
            for (quint32 i = 0; i < count; ++i)
                values.append(qMakePair(qint32(U32(at + qint64(i) * 8)), qint32(U32(at + qint64(i) * 8 + 4))));
            return ExifValue(values);
        }
        case ExifValue::Undefined: {
            const qint64 at = ElementsAt(entry, count, 1, 4);
            if (at < 0)
                return ExifValue();
            return ExifValue(Bytes(at, count));
        }
        default:
            qCWarning(lcExif) << "Invalid Ifd Type" << type;
            return ExifValue();
        }
    }

    const QByteArray &bytes;
    const bool bigEndian;
};

// The TIFF block inside the first APP1 segment of a JPEG stream; empty when there is none
// or the first APP1 segment is not an EXIF segment.
QByteArray FindExifBlock(QIODevice *device)
{
    if (device->read(2) != QByteArrayLiteral("\xFF\xD8"))
        return QByteArray();
    for (;;) {
        const QByteArray marker = device->read(2);
        if (marker.size() != 2)
            return QByteArray();
        if (marker == QByteArrayLiteral("\xFF\xE1"))
            break;
        if (device->atEnd())
            return QByteArray();
        const QByteArray length = device->read(2);
        if (length.size() != 2)
            return QByteArray();
        // A length below 2 would step back or stand still: not a JPEG stream.
        const quint16 segmentLength = qFromBigEndian<quint16>(length.constData());
        if (segmentLength < 2 || device->skip(segmentLength - 2) != segmentLength - 2)
            return QByteArray();
    }
    const QByteArray length = device->read(2);
    if (length.size() != 2)
        return QByteArray();
    const quint16 segmentLength = qFromBigEndian<quint16>(length.constData());
    if (segmentLength < 8 || device->read(4) != QByteArrayLiteral("Exif"))
        return QByteArray();
    if (device->skip(2) != 2)
        return QByteArray();
    return device->read(segmentLength - 8);
}

} // namespace

class ExifReaderPrivate : public QSharedData
{
public:
    void Clear()
    {
        imageTags.clear();
        extendedTags.clear();
        gpsTags.clear();
        thumbnailTags.clear();
        thumbnailData.clear();
        thumbnailXResolution = thumbnailYResolution = thumbnailResolutionUnit = thumbnailOrientation = ExifValue();
    }

    QSysInfo::Endian byteOrder = QSysInfo::BigEndian;
    TagMap imageTags;
    TagMap extendedTags;
    TagMap gpsTags;
    TagMap thumbnailTags;
    QByteArray thumbnailData;
    ExifValue thumbnailXResolution;
    ExifValue thumbnailYResolution;
    ExifValue thumbnailResolutionUnit;
    ExifValue thumbnailOrientation;
};

ExifReader::ExifReader() : d(new ExifReaderPrivate) {}

ExifReader::ExifReader(const QString &fileName) : d(new ExifReaderPrivate)
{
    loadFromJpeg(fileName);
}

ExifReader::ExifReader(const ExifReader &other) = default;
ExifReader &ExifReader::operator=(const ExifReader &other) = default;
ExifReader::~ExifReader() = default;

bool ExifReader::loadFromJpeg(const QString &fileName)
{
    // Photographs lie in package folders: a link there is not followed out of it.
    QFile file;
    if (!Platform::OpenRegularFile(file, fileName, Platform::LinkPolicy::Refuse))
        return false;
    return loadFromJpeg(&file);
}

bool ExifReader::loadFromJpeg(QIODevice *device)
{
    d->Clear();
    QByteArray block = FindExifBlock(device);
    // A segment that ends the file is a truncated stream.
    if (device->read(20).isEmpty())
        return false;
    if (block.isEmpty())
        return false;
    QBuffer buffer(&block);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    return read(&buffer);
}

bool ExifReader::read(QIODevice *device)
{
    d->Clear();
    const QByteArray bytes = device->readAll();
    if (bytes.size() < 8)
        return false;
    const QByteArray order = bytes.left(2);
    if (order == "II")
        d->byteOrder = QSysInfo::LittleEndian;
    else if (order == "MM")
        d->byteOrder = QSysInfo::BigEndian;
    else
        return false;

    const TiffBlock block(bytes, d->byteOrder == QSysInfo::BigEndian);
    if (block.U16(2) != 42)
        return false;

    TagMap imageTags;
    const quint32 nextDirectory = block.ReadDirectory(block.U32(4), imageTags);

    const ExifValue extendedPointer = imageTags.take(ExifDirectoryTag);
    const ExifValue gpsPointer = imageTags.take(GpsDirectoryTag);
    TagMap extendedTags;
    TagMap gpsTags;
    if (extendedPointer.type() == ExifValue::Long && extendedPointer.count() == 1)
        block.ReadDirectory(extendedPointer.toLong(), extendedTags);
    extendedTags.remove(InteroperabilityDirectoryTag);
    if (gpsPointer.type() == ExifValue::Long && gpsPointer.count() == 1)
        block.ReadDirectory(gpsPointer.toLong(), gpsTags);

    if (nextDirectory != 0) {
        TagMap thumbnailTags;
        block.ReadDirectory(nextDirectory, thumbnailTags);
        const ExifValue offset = thumbnailTags.value(JpegOffsetTag);
        const ExifValue length = thumbnailTags.value(JpegLengthTag);
        if (offset.type() == ExifValue::Long && offset.count() == 1 && length.type() == ExifValue::Long &&
            length.count() == 1) {
            d->thumbnailData = block.Bytes(offset.toLong(), length.toLong());
            d->thumbnailXResolution = thumbnailTags.value(XResolutionTag);
            d->thumbnailYResolution = thumbnailTags.value(YResolutionTag);
            d->thumbnailResolutionUnit = thumbnailTags.value(ResolutionUnitTag);
            d->thumbnailOrientation = thumbnailTags.value(OrientationTag);
        }
        d->thumbnailTags = thumbnailTags;
    }
    d->imageTags = imageTags;
    d->extendedTags = extendedTags;
    d->gpsTags = gpsTags;
    return true;
}

ExifValue ExifReader::value(quint16 tag) const
{
    return d->imageTags.value(tag);
}

QSysInfo::Endian ExifReader::byteOrder() const
{
    return d->byteOrder;
}
QMap<quint16, ExifValue> ExifReader::imageTags() const
{
    return d->imageTags;
}
QMap<quint16, ExifValue> ExifReader::extendedTags() const
{
    return d->extendedTags;
}
QMap<quint16, ExifValue> ExifReader::gpsTags() const
{
    return d->gpsTags;
}
QMap<quint16, ExifValue> ExifReader::thumbnailTags() const
{
    return d->thumbnailTags;
}
QByteArray ExifReader::thumbnailData() const
{
    return d->thumbnailData;
}
ExifValue ExifReader::thumbnailXResolution() const
{
    return d->thumbnailXResolution;
}
ExifValue ExifReader::thumbnailYResolution() const
{
    return d->thumbnailYResolution;
}
ExifValue ExifReader::thumbnailResolutionUnit() const
{
    return d->thumbnailResolutionUnit;
}
ExifValue ExifReader::thumbnailOrientation() const
{
    return d->thumbnailOrientation;
}
