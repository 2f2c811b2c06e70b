#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// The readers under test take files: each input is written to a scratch folder that lives
// for the whole fuzzing run.
class FuzzFile
{
public:
    explicit FuzzFile(const QString &name) : path(folder.path() + QLatin1Char('/') + name) {}

    const QString &Write(const uint8_t *data, size_t size)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
        return path;
    }
    QString Folder() const { return folder.path(); }

private:
    QTemporaryDir folder;
    QString path;
};
