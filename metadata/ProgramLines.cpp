#include "ProgramLines.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

ProgramLines::ProgramLines(QIODevice &device, qint64 maxLength)
    : device(device), maxLength(maxLength), chunk(1 << 16, Qt::Uninitialized)
{
    chunkStart = lineStart = device.pos();
}

bool ProgramLines::Refill()
{
    if (drained)
        return false;
    const qint64 kept = chunkEnd - chunkPos;
    std::memmove(chunk.data(), chunk.constData() + chunkPos, size_t(kept));
    chunkStart += chunkPos;
    chunkPos = 0;
    chunkEnd = kept;
    const qint64 read = device.read(chunk.data() + kept, chunk.size() - kept);
    if (read <= 0) {
        drained = true;
        return false;
    }
    chunkEnd += read;
    return true;
}

bool ProgramLines::Next(const char **line, qint64 *length, bool *tooLong)
{
    lineStart = Pos();
    *tooLong = false;
    qint64 end = 0; // of the line's text, from its start
    const char *begin = nullptr;
    for (;;) {
        begin = chunk.constData() + chunkPos;
        const qint64 available = chunkEnd - chunkPos;
        const qint64 window = std::min(available, maxLength + 1);
        const auto *newline = static_cast<const char *>(std::memchr(begin, '\n', size_t(window)));
        if (newline) {
            end = newline - begin;
            chunkPos += end + 1;
            break;
        }
        if (available > maxLength) {
            // Only the start of an endless line is kept; the rest is passed over.
            longLine = QByteArray(begin, maxLength);
            begin = longLine.constData();
            end = maxLength;
            chunkPos += maxLength;
            for (;;) {
                const char *rest = chunk.constData() + chunkPos;
                const auto *found = static_cast<const char *>(std::memchr(rest, '\n', size_t(chunkEnd - chunkPos)));
                if (found) {
                    chunkPos += found - rest + 1;
                    break;
                }
                chunkPos = chunkEnd;
                if (!Refill())
                    break;
            }
            break;
        }
        if (!Refill()) {
            if (available == 0)
                return false;
            begin = chunk.constData() + chunkPos; // the last line, without an end
            end = available;
            chunkPos = chunkEnd;
            break;
        }
    }
    if (end >= maxLength) {
        *tooLong = true;
        end = maxLength;
    }
    while (end > 0 && (begin[end - 1] == '\n' || begin[end - 1] == '\r'))
        --end;
    *line = begin;
    *length = end;
    return true;
}

void ProgramLines::Seek(qint64 to)
{
    if (to >= chunkStart && to <= chunkStart + chunkEnd) {
        chunkPos = to - chunkStart;
        return;
    }
    device.seek(to);
    chunkStart = to;
    chunkPos = chunkEnd = 0;
    drained = false;
}
