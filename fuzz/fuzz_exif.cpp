// The EXIF reader on arbitrary bytes: as a JPEG file and as a bare TIFF block.
#include "FuzzFile.h"
#include "media/ExifReader.h"

#include <QBuffer>
#include <QLoggingCategory>

static void Touch(const ExifReader &reader)
{
    (void)reader.value(ExifReader::OrientationTag).toShort();
    for (const auto &tags : {reader.imageTags(), reader.extendedTags(), reader.gpsTags(), reader.thumbnailTags()})
        for (const ExifValue &value : tags)
            (void)value.count();
    (void)reader.thumbnailData().size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzFile jpeg(QStringLiteral("photo.jpg"));
    static const bool quiet = [] {
        // The reader warns about unsupported entry types; keep the fuzzer's output readable.
        QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false"));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return true;
    }();
    (void)quiet;

    Touch(ExifReader(jpeg.Write(data, size)));

    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ExifReader tiff;
    tiff.read(&buffer);
    Touch(tiff);
    return 0;
}
