#pragma once

#include <QByteArray>
#include <QtGlobal>

class QIODevice;

// Splits a program into lines read from the device in large blocks, so that a reader of a
// whole program costs one read call per block rather than one per line. Lines are handed
// out without their end ("\n", "\r\n"); a line longer than maxLength bytes is cut to its
// start and the rest passed over. Shared by the tools page and the toolpath interpreter.
class ProgramLines
{
public:
    // Reads from the device's current position.
    explicit ProgramLines(QIODevice &device, qint64 maxLength);

    // The next line; false at the end. `line` stays valid until the next call.
    bool Next(const char **line, qint64 *length, bool *tooLong);
    // Device position of the current line's start, and of the line after it.
    qint64 LineStart() const { return lineStart; }
    qint64 Pos() const { return chunkStart + chunkPos; }
    // Goes on reading at a device position (a line's start); stays in the block when it can.
    void Seek(qint64 to);

private:
    bool Refill();

    QIODevice &device;
    const qint64 maxLength;
    QByteArray chunk;
    qint64 chunkStart = 0; // device position of chunk[0]
    qint64 chunkPos = 0;
    qint64 chunkEnd = 0;
    qint64 lineStart = 0;
    bool drained = false;
    QByteArray longLine; // the kept start of a line longer than the block holds at once
};
