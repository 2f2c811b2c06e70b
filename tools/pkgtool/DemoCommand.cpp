#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "DemoMedia.h"
#include "PackageOperations.h"
#include "PackageViews.h"
#include "ScanSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace PackageViews;
using DemoMedia::WriteBytes;

namespace {

const char *const defaultFiles[] = {"undetermined_rendering.gif", "generic_pdf.thumb"};

struct DemoProgram
{
    const char *resource;
    const char *folder;
};

const DemoProgram demoPrograms[] = {
    {"FACE_PLATE.NC", "mill"}, {"POCKET_7.NC", "mill"}, {"DRILL_PATTERN.NC", "mill"},
    {"BRACKET.CNV", "mill"},   {"BRACKET", "mill"},     {"SHAFT_20.NC", "lathe"},
};

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool HasDefaultFiles(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    for (const char *name : defaultFiles) {
        if (!QFileInfo(QDir(folder).filePath(QString::fromLatin1(name))).isFile())
            return false;
    }
    return true;
}

// The same places the library looks in: the configured folder, the installed data folder
// (also relative to an installed pkgtool), the source tree's data folder.
QString FindDefaultsFolder()
{
    const QStringList candidates{
        qEnvironmentVariable("PACKAGEMANAGER_DEFAULTS_DIR"),
        QStringLiteral(PKGTOOL_INSTALL_DATADIR),
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/PackageManager"),
        QStringLiteral(PKGTOOL_SOURCE_DATADIR),
    };
    for (const QString &candidate : candidates) {
        if (HasDefaultFiles(candidate))
            return QDir(candidate).absolutePath();
    }
    return QString();
}

class Demo
{
public:
    explicit Demo(const QString &workspace) : workspace(workspace) {}

    int Run()
    {
        clock.start();
        root = workspace + QStringLiteral("/packages");
        mill = workspace + QStringLiteral("/parts/mill");
        lathe = workspace + QStringLiteral("/parts/lathe");
        cell2 = workspace + QStringLiteral("/parts/cell2");
        media = workspace + QStringLiteral("/media");
        for (const QString &folder : {root, mill, lathe, cell2, media}) {
            if (!QDir().mkpath(folder))
                return Console::Fail(QStringLiteral("cannot create the folder"), folder);
        }
        Console::Out(QStringLiteral("demo workspace: ") + workspace);
        if (!WritePrograms() || !CopyDefaults())
            return Console::Failure;
        WriteMedia();

        cPackageManager registry{QDir(root)};
        Scan(registry);
        AddMedia(registry);
        MoveCopyImport(registry);
        Summary(registry);

        Console::Out(QStringLiteral("demo finished in ") + QString::number(clock.elapsed() / 1000.0, 'f', 1) +
                     QStringLiteral(" s"));
        if (!failures.isEmpty())
            return Console::Fail(QString::number(failures.size()) + QStringLiteral(" demo steps failed"),
                                 failures.join(QStringLiteral("; ")));
        return Console::Success;
    }

private:
    void Step(bool ok, const QString &done, const QString &failed)
    {
        if (ok) {
            Console::Out(QStringLiteral("  ") + done);
        } else {
            Console::Err(QStringLiteral("  FAILED: ") + failed);
            failures << failed;
        }
    }

    QString ProgramUid(const cPackageManager &registry, const QString &path) const
    {
        return registry.CalculatePackageUID(QFileInfo(path));
    }

    bool WritePrograms()
    {
        for (const DemoProgram &program : demoPrograms) {
            const QString name = QString::fromLatin1(program.resource);
            const QString target =
                workspace + QStringLiteral("/parts/") + QString::fromLatin1(program.folder) + QLatin1Char('/') + name;
            if (!WriteBytes(target, ReadBytes(QStringLiteral(":/demo/") + name))) {
                Console::Fail(QStringLiteral("cannot write the demo program"), target);
                return false;
            }
        }
        Console::Out(QStringLiteral("parts folders: ") + mill +
                     QStringLiteral(" (4 milling programs, one of them "
                                    "conversational), ") +
                     lathe + QStringLiteral(" (a lathe program)"));
        return true;
    }

    bool CopyDefaults()
    {
        const QString defaults = FindDefaultsFolder();
        for (const char *name : defaultFiles) {
            const QString fileName = QString::fromLatin1(name);
            QByteArray bytes;
            if (!defaults.isEmpty())
                bytes = ReadBytes(QDir(defaults).filePath(fileName));
            else if (fileName.endsWith(QLatin1String(".gif")))
                bytes = DemoMedia::PlaceholderGif();
            else
                bytes = DemoMedia::PlaceholderThumbnail();
            if (bytes.isEmpty() || !WriteBytes(QDir(root).filePath(fileName), bytes)) {
                Console::Fail(QStringLiteral("cannot copy the default file"), QDir(root).filePath(fileName));
                return false;
            }
        }
        Console::Out(QStringLiteral("packages root: ") + root + QStringLiteral(" (default files from ") +
                     (defaults.isEmpty() ? QStringLiteral("placeholders") : defaults) + QLatin1Char(')'));
        // The library reads the defaults folder from the environment at each use.
        if (qEnvironmentVariableIsEmpty("PACKAGEMANAGER_DEFAULTS_DIR"))
            qputenv("PACKAGEMANAGER_DEFAULTS_DIR", QFile::encodeName(root));
        return true;
    }

    void WriteMedia()
    {
        const QString title = QStringLiteral("FACE PLATE - set-up sheet");
        const QStringList lines{QStringLiteral("Program O1001  FACE_PLATE.NC"),
                                QStringLiteral("Stock: AL 6061, 100 x 80 x 14, vice on the 100 mm sides"),
                                QStringLiteral("Work offset G54: top left corner, Z on the finished face"),
                                QStringLiteral("T1 face mill D63   T2 end mill D10"),
                                QStringLiteral("T3 spot drill D8   T4 drill D6.8"),
                                QStringLiteral("Cycle time about 6 min")};
        photo = media + QStringLiteral("/fixture_photo.jpg");
        Step(DemoMedia::WritePhoto(photo, 6), QStringLiteral("photograph with EXIF orientation 6: ") + photo,
             QStringLiteral("write ") + photo);
        png = media + QStringLiteral("/setup_sheet.png");
        Step(DemoMedia::WriteSetupSheetPng(png, title, lines), QStringLiteral("PNG: ") + png,
             QStringLiteral("write ") + png);
        pdf = media + QStringLiteral("/setup_sheet.pdf");
        Step(DemoMedia::WriteSetupSheetPdf(pdf, title, lines), QStringLiteral("PDF: ") + pdf,
             QStringLiteral("write ") + pdf);
        notes = media + QStringLiteral("/MACHINING_NOTES.TXT");
        Step(WriteBytes(notes, ReadBytes(QStringLiteral(":/demo/MACHINING_NOTES.TXT"))),
             QStringLiteral("notes: ") + notes, QStringLiteral("write ") + notes);
        QString reason;
        const QString clip = media + QStringLiteral("/spindle_warmup.mp4");
        if (DemoMedia::WriteVideo(clip, reason)) {
            video = clip;
            Console::Out(QStringLiteral("  video: ") + video);
        } else {
            // A machine without ffmpeg still runs the demo, without the video.
            Console::Out(QStringLiteral("  no video (") + reason + QLatin1Char(')'));
        }
    }

    void Scan(cPackageManager &registry)
    {
        Console::Out(QStringLiteral("scanning the parts folders:"));
        ScanSession::Options options;
        options.progressDelayMs = 0;
        ScanSession session(registry, {mill, lathe}, options);
        if (!session.RunOnce()) {
            Step(false, QString(), QStringLiteral("start the scan"));
            return;
        }
        const QStringList programs{mill + QStringLiteral("/FACE_PLATE.NC"), mill + QStringLiteral("/POCKET_7.NC"),
                                   mill + QStringLiteral("/DRILL_PATTERN.NC"), mill + QStringLiteral("/BRACKET.CNV"),
                                   lathe + QStringLiteral("/SHAFT_20.NC")};
        for (const QString &program : programs) {
            const QString uid = ProgramUid(registry, program);
            Step(registry.DoesPackageExist(uid), QStringLiteral("package ") + uid,
                 QStringLiteral("package for ") + program);
        }
    }

    void AddMedia(cPackageManager &registry)
    {
        const QString uid = ProgramUid(registry, mill + QStringLiteral("/FACE_PLATE.NC"));
        cPackage *package = registry.GetPackage(uid);
        if (!package) {
            Step(false, QString(), QStringLiteral("find package ") + uid);
            return;
        }
        Console::Out(QStringLiteral("adding media to ") + package->GetPackageName() + QLatin1Char(':'));
        struct Addition
        {
            QString file;
            QString author;
            QString comment;
        };
        QList<Addition> additions{
            {photo, QStringLiteral("Setter, shift 2"), QStringLiteral("Fixture as clamped")},
            {png, QString(), QStringLiteral("Set-up sheet")},
            {pdf, QString(), QStringLiteral("Set-up sheet for printing")},
            {notes, QString(), QString()},
        };
        if (!video.isEmpty())
            additions.append({video, QStringLiteral("Maintenance"), QStringLiteral("Spindle warm-up check")});
        for (const Addition &addition : additions) {
            if (!QFileInfo::exists(addition.file))
                continue;
            const bool added =
                package->AddFileToPackage(QFileInfo(addition.file), addition.author, addition.comment, QString());
            Step(added, QFileInfo(addition.file).fileName(), QStringLiteral("add ") + addition.file);
        }
        Step(package->UpdateStatsFile(12), QStringLiteral("statistics: 12 parts"),
             QStringLiteral("update the statistics of ") + uid);
        Step(package->UpdateHistoryFile(ProgramRun, QStringLiteral("First article approved"), QString()),
             QStringLiteral("history: program run recorded"), QStringLiteral("update the history of ") + uid);
        facePlate = uid;
    }

    void MoveCopyImport(cPackageManager &registry)
    {
        QString moved;
        const QString pocket = ProgramUid(registry, mill + QStringLiteral("/POCKET_7.NC"));
        const bool moveOk = registry.DoesPackageExist(pocket) &&
                            PackageOperations::Move(registry, pocket, mill + QStringLiteral("/POCKET_7B.NC"), moved);
        Step(moveOk, QStringLiteral("moved POCKET_7 to POCKET_7B: ") + moved, QStringLiteral("move ") + pocket);

        QString copied;
        const QString drill = ProgramUid(registry, mill + QStringLiteral("/DRILL_PATTERN.NC"));
        const bool copyOk =
            registry.DoesPackageExist(drill) &&
            PackageOperations::Copy(registry, drill, mill + QStringLiteral("/DRILL_PATTERN_2.NC"), copied);
        Step(copyOk, QStringLiteral("copied DRILL_PATTERN to DRILL_PATTERN_2: ") + copied,
             QStringLiteral("copy ") + drill);

        QString imported;
        const QString bracket = ProgramUid(registry, mill + QStringLiteral("/BRACKET.CNV"));
        const cPackage *source = registry.GetPackage(bracket);
        const bool importOk = source && PackageOperations::Import(registry, PackageFolder(*source), cell2,
                                                                  QStringLiteral("BRACKET_B"), imported);
        Step(importOk, QStringLiteral("imported BRACKET into ") + cell2 + QStringLiteral(" as BRACKET_B: ") + imported,
             QStringLiteral("import ") + bracket);
    }

    void Summary(const cPackageManager &registry)
    {
        Console::Out(QString());
        QList<QStringList> rows{{QStringLiteral("PACKAGE"), QStringLiteral("PARTS FOLDER"), QStringLiteral("PROGRAMS"),
                                 QStringLiteral("FILES"), QStringLiteral("BYTES")}};
        const QMap<QString, cPackage *> packages = registry.GetPackageMap(QString(), true);
        for (const cPackage *package : packages) {
            QStringList programs;
            if (package->HasNCProgram())
                programs << QStringLiteral("nc");
            if (package->HasCONVProgram())
                programs << QStringLiteral("conv");
            rows << QStringList{package->GetPackageName(), cPackageManager::PartsFolderKey(package->GetPackageUID()),
                                programs.isEmpty() ? QStringLiteral("-") : programs.join(QLatin1Char('+')),
                                QString::number(package->GetManifestItems(Unknown).size()),
                                QString::number(package->GetPackageSize())};
        }
        PrintTable(rows);
        Console::Out(QString::number(packages.size()) + QStringLiteral(" packages in ") + root);

        const cPackage *package = registry.GetPackage(facePlate);
        if (!package)
            return;
        Console::Out(QString());
        Console::Out(QStringLiteral("open these:"));
        rows.clear();
        const QList<QPair<QString, eMetadataType>> pages{{QStringLiteral("statistics page"), Stats},
                                                         {QStringLiteral("tool list"), Tools},
                                                         {QStringLiteral("run history"), History},
                                                         {QStringLiteral("overview picture"), Overview}};
        for (const auto &page : pages) {
            const cManifestItem *entry = package->GetManifestItem(page.second);
            if (entry && QFileInfo::exists(entry->GetFileInfo().absoluteFilePath()))
                rows << QStringList{QStringLiteral("  ") + page.first, entry->GetFileInfo().absoluteFilePath()};
        }
        for (eMetadataType kind : {Image, Video, PDF}) {
            const QList<cManifestItem *> entries = package->GetManifestItems(kind);
            for (const cManifestItem *entry : entries) {
                const QFileInfo thumbnail = entry->GetThumbnailInfo();
                if (!entry->GetPreviewString().isEmpty() && thumbnail.exists())
                    rows << QStringList{QStringLiteral("  thumbnail of ") + entry->GetFileNameString(),
                                        thumbnail.absoluteFilePath()};
            }
        }
        PrintTable(rows);
    }

    const QString workspace;
    QElapsedTimer clock;
    QString root, mill, lathe, cell2, media;
    QString photo, png, pdf, notes, video;
    QString facePlate;
    QStringList failures;
};

} // namespace

namespace Commands {

int Demo(const Invocation &invocation)
{
    QString workspace;
    if (!invocation.args.isEmpty()) {
        const QFileInfo dir(invocation.args.at(0));
        // Never mix the demo into somebody's files.
        if (dir.exists() &&
            (!dir.isDir() ||
             !QDir(dir.absoluteFilePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty()))
            return Console::Fail(QStringLiteral("demo folder exists and is not empty"), dir.absoluteFilePath());
        workspace = dir.absoluteFilePath();
    } else {
        QTemporaryDir temporary(QDir::tempPath() + QStringLiteral("/pkgtool-demo-XXXXXX"));
        if (!temporary.isValid())
            return Console::Fail(QStringLiteral("cannot create a temporary folder"), QDir::tempPath());
        temporary.setAutoRemove(false); // left for the user to open
        workspace = temporary.path();
    }
    return ::Demo(workspace).Run();
}

} // namespace Commands
