#include "media/Thumbnails.h"

#include "media/ExifReader.h"
#include "media/ffmpegInterface.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTransform>

Q_LOGGING_CATEGORY(lcThumbnails, "packagemanager.media.thumbnails", QtWarningMsg)

namespace {

constexpr int ThumbnailSide = 110;
// The most memory one picture may take while it is decoded for its thumbnail. Qt's own
// limit (128 MiB in Qt 6.4, some 33 megapixels) turns away common photographs and panoramas.
constexpr qint64 DecodeBudgetMiB = 512;

const QString PdfThumbnailName = QStringLiteral("generic_pdf.thumb");
const QString RenderingName = QStringLiteral("undetermined_rendering.gif");

QString InFolder(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name;
}

// The box fit of QImage::scaled(110, 110, KeepAspectRatio). A side that would round to
// nothing keeps one pixel, so that a thin strip still gets a thumbnail.
QSize FitThumbnailBox(const QSize &size)
{
    return size.scaled(ThumbnailSide, ThumbnailSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// The stand-in for a picture too large to decode, in the picture's proportions.
QImage PlainThumbnail(const QSize &size)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor(192, 192, 192));
    return picture;
}

// The upright picture, fitted into the thumbnail box as QImage::scaled(110, 110,
// KeepAspectRatio, SmoothTransformation) of the full upright picture would fit it.
QImage MakeImageThumbnail(const QString &path)
{
    // The picture lies in a package folder: a link there is not followed out of it. One open
    // file serves the EXIF block and the picture, so both come from the same file.
    QFile file;
    if (!Platform::OpenRegularFile(file, path, Platform::LinkPolicy::Refuse))
        return QImage();
    ExifReader exif;
    exif.loadFromJpeg(&file);
    const quint16 orientation = exif.value(ExifReader::OrientationTag).toShort();
    if (!file.seek(0))
        return QImage();
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    // Fitting a square box gives the transposed size for the transposed picture, so the
    // stored picture may be scaled first and turned afterwards.
    const QSize storedSize = reader.size();
    if (storedSize.isValid() && FitThumbnailBox(storedSize).width() < storedSize.width() &&
        reader.format() == QByteArrayLiteral("jpeg") && reader.supportsOption(QImageIOHandler::ScaledSize)) {
        // The decoder scales while it decodes (a fraction of the work of a full decode) and
        // smooths the rest of the way.
        reader.setQuality(100);
        reader.setScaledSize(FitThumbnailBox(storedSize));
    } else if (storedSize.isValid()) {
        // Other decoders hold the whole picture: within the budget the reader may take what
        // it needs; beyond it the picture is not decoded at all, and its thumbnail is a plain
        // one, made once, so that no pass tries (and warns) again.
        const int bits = QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel();
        const qint64 bytes = qint64(storedSize.width()) * storedSize.height() * qMax(bits / 8, 4);
        const qint64 mebibytes = (bytes >> 20) + 1;
        if (mebibytes > DecodeBudgetMiB) {
            qCInfo(lcThumbnails) << "plain thumbnail for" << path << storedSize << "(too large to decode)";
            return ApplyExifOrientation(PlainThumbnail(FitThumbnailBox(storedSize)), orientation);
        }
        if (mebibytes >= reader.allocationLimit())
            reader.setAllocationLimit(int(DecodeBudgetMiB));
    }
    QImage picture = reader.read();
    if (picture.isNull()) {
        qCDebug(lcThumbnails) << "cannot read" << path << reader.errorString();
        return QImage();
    }
    const QSize target = FitThumbnailBox(storedSize.isValid() ? storedSize : picture.size());
    if (picture.size() != target)
        picture = picture.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return ApplyExifOrientation(picture, orientation);
}

bool SaveAsJpeg(const QImage &picture, const QString &path)
{
    if (picture.isNull())
        return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "JPEG"))
        return false;
    // A thumbnail is made again from its source: no need to force it to disk.
    return Platform::WriteFileAtomically(path, bytes, Platform::Durability::NoSync);
}

// A link at a thumbnail's place is removed, so that writing never reaches its target.
void RemoveIfLink(const QString &path)
{
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
}

// Paths travel through "|"-joined queue entries and a quoted command line.
bool FitsOnCommandLine(const QString &path)
{
    return !path.contains(QLatin1Char('|')) && !path.contains(QLatin1Char('"'));
}

// A video the tool failed on is not given to it again until the video changes: a hidden
// file beside it keeps the stamp of the version that failed, so that neither the next pass
// nor a new process spends another run (up to 30 s) on it.
QString FailureMarkerPath(const QFileInfo &video)
{
    return InFolder(video.absolutePath(), QLatin1Char('.') + video.fileName() + QLatin1String(".nothumb"));
}

QByteArray StampText(const Platform::FileStamp &stamp)
{
    return QByteArray::number(stamp.size) + ' ' + QByteArray::number(stamp.modified) + ' ' +
           QByteArray::number(stamp.changed) + ' ' + QByteArray::number(stamp.identity) + '\n';
}

bool FailedBefore(const QFileInfo &video, const Platform::FileStamp &stamp)
{
    QFile marker;
    if (!Platform::OpenRegularFile(marker, FailureMarkerPath(video), Platform::LinkPolicy::Refuse))
        return false;
    return marker.read(256) == StampText(stamp);
}

// Runs one request in a folder of its own inside the temporary folder, so requests on
// other threads neither see nor clear its files; the folder is gone afterwards.
void MakeVideoThumbnail(const QFileInfo &video, const QString &thumbnailPath)
{
    // Only a regular file in place is given to the tool (the copy step would refuse anything
    // else anyway); its stamp tells a video that failed before.
    const Platform::FileStamp stamp = Platform::StampOf(video.absoluteFilePath());
    if (!stamp.IsValid())
        return;
    if (FailedBefore(video, stamp)) {
        qCDebug(lcThumbnails) << "no thumbnail for" << video.absoluteFilePath() << "(failed before, unchanged)";
        return;
    }
    if (!FitsOnCommandLine(video.absoluteFilePath()) || !FitsOnCommandLine(thumbnailPath)) {
        qCInfo(lcThumbnails) << "no thumbnail for" << video.absoluteFilePath() << "(name unfit for ffmpeg)";
        return;
    }
    const QString tempRoot = Platform::TempDir();
    if (!QDir().mkpath(tempRoot))
        return;
    QTemporaryDir workFolder(InFolder(tempRoot, QStringLiteral("request-XXXXXX")));
    if (!workFolder.isValid())
        return;
    ffmpegInterface converter{QDir(workFolder.path())};
    converter.StartVideoThumbnailGeneration(video, QFileInfo(thumbnailPath));
    const QString markerPath = FailureMarkerPath(video);
    if (converter.LastOutcome() == ffmpegInterface::Outcome::Made) {
        ForgetThumbnailFailure(video);
    } else if (converter.LastOutcome() == ffmpegInterface::Outcome::ToolFailed &&
               Platform::StampOf(video.absoluteFilePath()) == stamp) {
        // Not when the video changed during the run: the new version deserves its own try.
        if (QFileInfo(markerPath).isSymLink())
            QFile::remove(markerPath);
        if (!Platform::WriteFileAtomically(markerPath, StampText(stamp), Platform::Durability::NoSync))
            qCInfo(lcThumbnails) << "cannot remember the failed thumbnail of" << video.absoluteFilePath();
    }
}

} // namespace

void ForgetThumbnailFailure(const QFileInfo &video)
{
    // A link at the name is removed itself, never its target.
    QFile::remove(FailureMarkerPath(video));
}

namespace {

QString CopyDefaultFile(const QString &defaultName, const QString &destination)
{
    // An existing file of the name (left by an earlier request) serves as well.
    (void)Platform::CopyFileKeepTime(InFolder(Platform::DefaultsDir(), defaultName), destination);
    return QFileInfo::exists(destination) ? QFileInfo(destination).fileName() : QString();
}

} // namespace

bool UpdateImageThumbnail(const QFileInfo &image, const QFileInfo &thumbnail)
{
    const QString thumbnailPath = thumbnail.absoluteFilePath();
    QFile::remove(thumbnailPath);
    SaveAsJpeg(MakeImageThumbnail(image.absoluteFilePath()), thumbnailPath);
    return QFileInfo::exists(thumbnailPath);
}

bool UpdateVideoThumbnail(const QFileInfo &video, const QFileInfo &thumbnail)
{
    const QString thumbnailPath = thumbnail.absoluteFilePath();
    QFile::remove(thumbnailPath);
    MakeVideoThumbnail(video, thumbnailPath);
    return QFileInfo::exists(thumbnailPath);
}

QString GenerateImageThumbnail(const QFileInfo &image)
{
    const QString name = image.fileName() + QLatin1String(".thumb");
    const QString thumbnailPath = InFolder(image.path(), name);
    RemoveIfLink(thumbnailPath);
    SaveAsJpeg(MakeImageThumbnail(image.absoluteFilePath()), thumbnailPath);
    return QFile::exists(thumbnailPath) ? name : QString();
}

QString GenerateVideoThumbnail(const QFileInfo &video)
{
    // The complete base name, as the package scan names it: "a.b.mp4" -> "a.b.gif.thumb".
    const QString name = video.completeBaseName() + QLatin1String(".gif.thumb");
    const QString thumbnailPath = InFolder(video.path(), name);
    MakeVideoThumbnail(video, thumbnailPath);
    return QFile::exists(thumbnailPath) ? name : QString();
}

QString GeneratePdfThumbnail(const QFileInfo &pdf)
{
    return CopyDefaultFile(PdfThumbnailName, InFolder(pdf.path(), pdf.fileName() + QLatin1String(".thumb")));
}

QString GenerateUndeterminedRendering(const QFileInfo &ncProgram)
{
    // The program's overview picture: "PART.V2.NC" -> "PART.V2.gif".
    QString name = ncProgram.fileName();
    if (Platform::EndsWithNoCase(name, QLatin1String(".NC")))
        name.chop(3);
    name += QLatin1String(".gif");
    // "plate_7.nc" belongs to the overview "PLATE_7.gif" already in the folder: names in a
    // package folder are compared without regard to case.
    QString target = InFolder(ncProgram.path(), name);
    Platform::FileFacts facts = Platform::FactsOf(target);
    if (!facts.exists) {
        const QString existing = Platform::FindEntryNoCase(ncProgram.path(), name);
        if (!existing.isEmpty() && existing != name) {
            name = existing;
            target = InFolder(ncProgram.path(), name);
            facts = Platform::FactsOf(target);
        }
    }
    if (facts.size > 0)
        return name;
    // Missing, or empty from an earlier run without a placeholder: made (again).
    const QString source = PlaceholderOverviewSource(QFileInfo(target));
    if (!source.isEmpty()) {
        QFile::remove(target);
        if (!Platform::CopyFileKeepTime(source, target))
            qCWarning(lcThumbnails) << "cannot put the placeholder picture at" << target;
    }
    return Platform::FactsOf(target).size > 0 ? name : QString();
}

QString PlaceholderOverviewSource(const QFileInfo &overview, qint64 *size)
{
    // The packages root and the defaults folder were one folder on the control: a root
    // without the picture takes the installed one. An empty file is no picture.
    const QString inRoot = GetParentOfFileDir(overview).absoluteFilePath(RenderingName);
    qint64 found = Platform::FactsOf(inRoot).size;
    QString source = inRoot;
    if (found <= 0) {
        source = InFolder(Platform::DefaultsDir(), RenderingName);
        found = Platform::FactsOf(source).size;
    }
    if (size)
        *size = found > 0 ? found : 0;
    return found > 0 ? source : QString();
}

bool ReplaceWithUndeterminedRendering(const QFileInfo &overview)
{
    const QString overviewPath = overview.absoluteFilePath();
    const QString source = PlaceholderOverviewSource(overview);
    // Without a picture to copy nothing is written: an empty overview is no picture either.
    if (source.isEmpty())
        return Platform::FactsOf(overviewPath).size > 0;
    QFile::remove(overviewPath);
    // Made again whenever missing or empty: not forced to disk one by one.
    if (!Platform::CopyFileKeepTime(source, overviewPath, false))
        return false;
    // A fresh copy counts as new.
    TouchFile(QFileInfo(overviewPath));
    return QFileInfo::exists(overviewPath);
}

QDir GetParentOfFileDir(const QFileInfo &file)
{
    QDir dir(file.absolutePath());
    dir.cdUp();
    return dir;
}

bool TouchFile(const QFileInfo &file)
{
    QFile touched(file.absoluteFilePath());
    if (!touched.open(QIODevice::ReadWrite))
        return false;
    if (touched.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime))
        return true;
    // Where times cannot be set directly: a write and a truncation leave the content as it was.
    const qint64 size = touched.size();
    if (!touched.seek(size) || touched.write("0", 1) != 1)
        return false;
    return touched.resize(size);
}

QImage ApplyExifOrientation(const QImage &image, quint16 orientation)
{
    QTransform transform;
    switch (orientation) {
    case 2:
        transform.rotate(180.0, Qt::YAxis);
        break;
    case 3:
        transform.rotate(180.0, Qt::ZAxis);
        break;
    case 4:
        transform.rotate(180.0, Qt::XAxis);
        break;
    case 5:
        transform.rotate(180.0, Qt::YAxis);
        transform.rotate(90.0, Qt::ZAxis);
        break;
    case 6:
        transform.rotate(90.0, Qt::ZAxis);
        break;
    case 7:
        transform.rotate(180.0, Qt::XAxis);
        transform.rotate(90.0, Qt::ZAxis);
        break;
    case 8:
        transform.rotate(270.0, Qt::ZAxis);
        break;
    default:
        return image;
    }
    return image.transformed(transform, Qt::FastTransformation);
}
