#pragma once

#include "packagemanager_export.h"

#include <QDateTime>
#include <QFileInfo>
#include <QString>

// The kind of a piece of package content. Unknown (11) is also the "every kind" filter.
enum eMetadataType {
    Overview = 0,
    Stats = 1,
    Tools = 2,
    History = 3,
    GraphData = 4,
    Note = 5,
    Image = 6,
    Video = 7,
    PDF = 8,
    NCProgram = 9,
    ConvProgram = 10,
    Unknown = 11
};

class cManifest;

// One file of a package with its attributes. The entry keeps the file's name and the
// folder path (shared with its manifest) and builds QFileInfo values on demand, so that
// thousands of packages stay cheap in memory.
class PACKAGEMANAGER_EXPORT cManifestItem
{
    friend class cManifest;
    friend struct cPackageTestAccess;

public:
    cManifestItem(const cManifestItem &other) = default;
    cManifestItem &operator=(const cManifestItem &other) = default;
    ~cManifestItem() = default;

    QFileInfo GetFileInfo() const;
    QString GetFileNameString() const;
    QFileInfo GetThumbnailInfo() const;
    QDateTime GetModTime() const;
    QString GetModTimeString() const;
    QString GetPreviewString() const;
    QString GetAuthorString() const;
    QString GetCommentString() const;
    QString GetFileTypeString() const;
    bool IsHidden() const;
    bool IsReadOnly() const;
    void SetComment(const QString &comment);

protected:
    explicit cManifestItem(eMetadataType type = Unknown);

    void SetFileInfo(const QFileInfo &file);
    void SetMetadataType(const QString &category);
    void SetHidden(bool hidden);
    void SetReadOnly(bool readOnly);
    void SetAuthor(const QString &author);
    void SetPreview(const QString &preview);
    void SetModTime(const QString &textDate);
    eMetadataType GetMetadataType() const;
    QString GetCategoryTypeString() const;
    QString GetTabString() const;
    QString GetHiddenString() const;
    QString GetReadOnlyString() const;
    bool AutoPopulateAttributes(const QString &packageName);
    bool SyncModTime();
    bool SyncThumbnail();

    // Same as SyncModTime, with the file's current last-modified time (UTC, null when the
    // file is missing) already known from a directory listing.
    bool SyncModTime(const QDateTime &currentModTimeUtc);
    // The absolute path of the described file; empty for an entry without file.
    QString GetFilePath() const;

private:
    eMetadataType AutoDetermineFileType(const QString &fileName, const QString &packageName) const;
    QString AutoDetermineComment(eMetadataType type) const;
    QString AutoDetermineAuthor(eMetadataType type) const;
    bool AutoDetermineHiddenState(eMetadataType type) const;
    bool AutoDetermineReadOnlyState(eMetadataType type) const;

    // AutoPopulateAttributes with the file's description already at hand (its cached
    // times are used, so a listing's QFileInfo costs no further stat).
    bool AutoPopulateAttributes(const QString &packageName, const QFileInfo &file);
    // The same, keeping the time and size the entry took from its file a moment ago: only a
    // program's comment (its creation time) looks at the file.
    void AutoPopulateTexts(const QString &packageName);
    QString AutoDetermineComment(eMetadataType type, const QFileInfo &file) const;
    // SyncThumbnail when the caller already knows whether the preview file exists.
    bool RefreshThumbnail(bool thumbnailExists);

    // Fields ordered to keep the entry small; see cManifest for who shares what.
    QString folderPath; // absolute folder of the file, shared with the manifest's copy
    QString fileName;   // file name without folder; empty for a placeholder
    QString comment;
    QString author;
    QString preview;
    QDateTime modTime; // UTC, null when unknown
    // The file's size when its time was last taken, so that the manifest can total the
    // package without a further stat per file.
    quint64 fileSize = 0;
    eMetadataType kind = Unknown;
    bool hidden = true;
    bool readOnly = true;
    bool textsFresh = false; // added by the last match, its texts just determined
};
