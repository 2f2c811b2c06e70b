#pragma once

#include <QHash>
#include <QString>

// The package states that a scan's maintenance found settled, kept on this machine between
// processes: a control that starts again looks at each unchanged package once instead of
// maintaining all of them. A state covers the package folder's entries with their times and
// identities, its programs and its manifest, so a package that anything touched since no
// longer matches. The file is a cache: this build, this machine's settings and an intact
// file, or nothing is taken from it.
class SettledStates
{
public:
    using tStates = QHash<quint64, quint64>; // KeyOf(identifier) -> state

    explicit SettledStates(const QString &packagesRoot);

    static quint64 KeyOf(const QString &packageUID);

    // The states a process left for this packages root; empty when there are none to trust.
    tStates Load();
    // Keeps `states` for the next process; writes only when they differ from what was
    // loaded or saved last.
    void Save(const tStates &states);

    // The file, for tests; empty when states are not kept here.
    QString FilePath() const { return filePath; }

private:
    static quint64 Digest(const tStates &states);

    QString filePath;
    QString packagesRoot;
    quint64 settings = 0;
    quint64 lastDigest = 0;
};
