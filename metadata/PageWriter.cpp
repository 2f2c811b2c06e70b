#include "PageWriter.h"

#include "MetadataLogging_p.h"
#include "platform/RegularFiles.h"
#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

namespace PageWriter {

namespace {

bool IsAllowedCharacter(char16_t c)
{
    if (c < 0x20)
        return c == u'\t' || c == u'\n' || c == u'\r';
    if (c >= 0x7f && c <= 0x9f)
        return false;
    return c != 0xfffe && c != 0xffff;
}

} // namespace

QString Text(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 < size && text.at(i + 1).isLowSurrogate()) {
                clean += c;
                clean += text.at(++i);
            }
            continue;
        }
        if (c.isLowSurrogate() || !IsAllowedCharacter(c.unicode()))
            continue;
        clean += c;
    }
    return clean.toHtmlEscaped();
}

QByteArray Head(const QString &title)
{
    const QString escapedTitle = Text(title);
    QString head = QStringLiteral("<!DOCTYPE html>\n"
                                  "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n"
                                  "<head>\n"
                                  "<meta charset=\"utf-8\"/>\n"
                                  "<meta name=\"generator\" content=\"PackageMetadata\"/>\n"
                                  "<title>");
    head += escapedTitle;
    head += QStringLiteral("</title>\n"
                           "<style>body{font-family:sans-serif;margin:1em}"
                           "table{border-collapse:collapse}"
                           "th,td{border:1px solid #999;padding:0.2em 0.6em;text-align:left;vertical-align:top}"
                           "</style>\n"
                           "</head>\n"
                           "<body>\n"
                           "<h1>");
    head += escapedTitle;
    head += QStringLiteral("</h1>\n");
    return head.toUtf8();
}

QByteArray Tail()
{
    return QByteArrayLiteral("</body>\n</html>\n");
}

QString LocalTimeText(const QDateTime &time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString RecordTime(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QDateTime ParseRecordTime(const QString &text)
{
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODate);
}

QString NameFromPage(const QString &fileName, const QString &suffix)
{
    if (fileName.size() > suffix.size() && fileName.endsWith(suffix, Qt::CaseInsensitive))
        return fileName.left(fileName.size() - suffix.size());
    return QFileInfo(fileName).completeBaseName();
}

bool Read(const QString &path, qint64 maxSize, QByteArray *bytes)
{
    QFile file;
    if (!Platform::OpenRegularFile(file, path, Platform::LinkPolicy::Refuse)) {
        qCWarning(lcMetadata) << "cannot read" << path << "(missing, or not a regular file)";
        return false;
    }
    if (file.size() > maxSize) {
        qCWarning(lcMetadata) << "page too large:" << path << file.size();
        return false;
    }
    *bytes = file.read(maxSize + 1);
    return bytes->size() <= maxSize;
}

bool Write(const QString &path, const QByteArray &bytes, bool *written, bool rebuildable)
{
    if (written)
        *written = false;
    // Pages that hold what was recorded (runs, history rows) are forced to disk like the
    // manifest.
    const Platform::Durability durability = rebuildable ? Platform::Durability::NoSync : Platform::Durability::Sync;
    if (!Platform::WriteFileAtomically(path, bytes, durability, written, Platform::AtLink::Keep)) {
        if (QFileInfo(path).isSymLink())
            qCWarning(lcMetadata) << "not writing through a symbolic link:" << path;
        else
            qCWarning(lcMetadata) << "cannot write" << path;
        return false;
    }
    return true;
}

} // namespace PageWriter
