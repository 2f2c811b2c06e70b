#include "ProgramPreview.h"

#include <QBuffer>
#include <QHash>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

// Drawn without antialiasing in the palette's own colours, so that the GIF's fixed palette
// holds every pixel exactly. The digits are stroked: text through fonts needs a GUI
// application's font database, which a host or the scan's thread may not have.

namespace {

const QRgb background = qRgb(250, 250, 247);
const QRgb ink = qRgb(60, 60, 60);
const QRgb rapid = qRgb(150, 150, 150);
const QRgb partial = qRgb(214, 39, 40);
const QRgb toolColours[] = {qRgb(31, 119, 180), qRgb(255, 127, 14),  qRgb(44, 160, 44),  qRgb(148, 103, 189),
                            qRgb(140, 86, 75),  qRgb(227, 119, 194), qRgb(188, 189, 34), qRgb(23, 190, 207)};

QList<QRgb> Palette()
{
    QList<QRgb> colours = {background, ink, rapid, partial};
    for (const QRgb colour : toolColours)
        colours.append(colour);
    while (colours.size() < 16)
        colours.append(qRgb(0, 0, 0));
    return colours;
}

// Each pixel's index in the palette. The picture is drawn in the palette's colours, so
// nearly every pixel matches one exactly; any other takes the nearest colour.
QByteArray PaletteIndices(const QImage &picture, const QList<QRgb> &palette)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, char> indexOf;
    for (qsizetype i = palette.size() - 1; i >= 0; --i)
        indexOf.insert(palette.at(i) | 0xFF000000u, char(i));
    const auto nearest = [&palette](QRgb colour) {
        int best = 0;
        int bestDistance = std::numeric_limits<int>::max();
        for (int i = 0; i < int(palette.size()); ++i) {
            const int r = qRed(colour) - qRed(palette.at(i));
            const int g = qGreen(colour) - qGreen(palette.at(i));
            const int b = qBlue(colour) - qBlue(palette.at(i));
            const int distance = r * r + g * g + b * b;
            if (distance < bestDistance) {
                best = i;
                bestDistance = distance;
            }
        }
        return char(best);
    };
    const int width = rgb.width();
    const int height = rgb.height();
    QByteArray indices(qsizetype(width) * height, Qt::Uninitialized);
    char *out = indices.data();
    QRgb last = palette.value(0) | 0xFF000000u;
    char lastIndex = 0;
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb colour = line[x] | 0xFF000000u;
            if (colour != last) {
                last = colour;
                const auto found = indexOf.constFind(colour);
                lastIndex = found != indexOf.cend() ? *found : indexOf.insert(colour, nearest(colour)).value();
            }
            *out++ = lastIndex;
        }
    }
    return indices;
}

// GIF's LZW over 4-bit indices, in data sub-blocks: codes grow from 5 to 12 bits, and the
// table starts anew when full. A direct table of successors costs no hashing per pixel.
void CompressLzw(const QByteArray &indices, QByteArray *out)
{
    constexpr int MinCodeSize = 4;
    constexpr int Colours = 1 << MinCodeSize;
    constexpr int ClearCode = Colours;
    constexpr int EndCode = Colours + 1;
    constexpr int MaxCode = 4095;
    out->append(char(MinCodeSize));
    QByteArray block;
    quint32 pending = 0;
    int pendingBits = 0;
    const auto flushBlock = [&] {
        if (block.isEmpty())
            return;
        out->append(char(block.size()));
        out->append(block);
        block.clear();
    };
    int codeSize = MinCodeSize + 1;
    const auto put = [&](int code) {
        pending |= quint32(code) << pendingBits;
        pendingBits += codeSize;
        while (pendingBits >= 8) {
            block.append(char(pending & 0xFF));
            if (block.size() == 255)
                flushBlock();
            pending >>= 8;
            pendingBits -= 8;
        }
    };
    // successor[code * Colours + pixel]: the code for `code` followed by `pixel`, 0 for none.
    // A code's row is cleared when the code is made, not the whole table at each start.
    const std::unique_ptr<quint16[]> successor(new quint16[size_t(MaxCode + 1) * Colours]);
    const auto clearRows = [&successor](int first, int count) {
        std::fill_n(successor.get() + size_t(first) * Colours, size_t(count) * Colours, quint16(0));
    };
    clearRows(0, Colours);
    int nextCode = EndCode + 1;
    put(ClearCode);
    if (!indices.isEmpty()) {
        const auto *pixels = reinterpret_cast<const uchar *>(indices.constData());
        int current = pixels[0] & (Colours - 1);
        for (qsizetype i = 1; i < indices.size(); ++i) {
            const int pixel = pixels[i] & (Colours - 1);
            quint16 &known = successor[size_t(current) * Colours + pixel];
            if (known != 0) {
                current = known;
                continue;
            }
            put(current);
            if (nextCode >= MaxCode) {
                put(ClearCode);
                clearRows(0, Colours);
                nextCode = EndCode + 1;
                codeSize = MinCodeSize + 1;
            } else {
                clearRows(nextCode, 1);
                known = quint16(nextCode++);
                // The decoder, one entry behind, widens its codes at the same point.
                if (nextCode > (1 << codeSize) && codeSize < 12)
                    ++codeSize;
            }
            current = pixel;
        }
        put(current);
        if (nextCode >= (1 << codeSize) && codeSize < 12)
            ++codeSize;
    }
    put(EndCode);
    if (pendingBits > 0) {
        block.append(char(pending & 0xFF));
        if (block.size() == 255)
            flushBlock();
    }
    flushBlock();
    out->append(char(0));
}

// Seven-segment strokes on a 4 x 6 cell: segments a-g as bits 0-6.
void DrawGlyph(QPainter &painter, char c, int left, int top)
{
    static const QHash<char, int> segments = {{'0', 0x3F}, {'1', 0x06}, {'2', 0x5B}, {'3', 0x4F},
                                              {'4', 0x66}, {'5', 0x6D}, {'6', 0x7D}, {'7', 0x07},
                                              {'8', 0x7F}, {'9', 0x6F}, {'-', 0x40}};
    const int r = left + 3;
    const int m = top + 3;
    const int b = top + 6;
    if (c == '.') {
        painter.drawPoint(left + 1, b);
        return;
    }
    if (c == 'x') {
        painter.drawLine(left, m - 1, r, b);
        painter.drawLine(left, b, r, m - 1);
        return;
    }
    if (c == 'Z') {
        painter.drawLine(left, top, r, top);
        painter.drawLine(r, top, left, b);
        painter.drawLine(left, b, r, b);
        return;
    }
    const int bits = segments.value(c, 0);
    const QLine strokes[7] = {{left, top, r, top}, {r, top, r, m},       {r, m, r, b},   {left, b, r, b},
                              {left, m, left, b},  {left, top, left, m}, {left, m, r, m}};
    for (int s = 0; s < 7; ++s)
        if (bits & (1 << s))
            painter.drawLine(strokes[s]);
}

int DrawText(QPainter &painter, const QByteArray &text, int left, int top)
{
    for (const char c : text) {
        if (c != ' ')
            DrawGlyph(painter, c, left, top);
        left += c == '.' ? 3 : 6;
    }
    return left;
}

int TextWidth(const QByteArray &text)
{
    int width = 0;
    for (const char c : text)
        width += c == '.' ? 3 : 6;
    return width;
}

QByteArray Millimetres(double value)
{
    return QByteArray::number(value, 'f', std::fabs(value) >= 100 ? 0 : 1);
}

} // namespace

namespace ProgramPreview {

QImage Draw(const ProgramFacts &facts, const QSize &size)
{
    // Horizontal and vertical axes of the view.
    const int h = facts.lathe ? 2 : 0;
    const int v = facts.lathe ? 0 : 1;
    const AxisRange &hr = facts.extents.axis[h];
    const AxisRange &vr = facts.extents.axis[v];
    if (!facts.HasMotion() || !hr.set || !vr.set || size.width() < 40 || size.height() < 30)
        return QImage();

    QImage picture(size, QImage::Format_RGB32);
    picture.fill(background);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);

    const int margin = 4;
    const int textHeight = 10;
    const QRectF area(margin, margin, size.width() - 2 * margin - 1, size.height() - 2 * margin - textHeight - 1);
    const double spanH = hr.max - hr.min;
    const double spanV = vr.max - vr.min;
    double scale = std::min(spanH > 0 ? area.width() / spanH : 1e9, spanV > 0 ? area.height() / spanV : 1e9);
    if (scale >= 1e9)
        scale = 1;
    const double offsetH = area.center().x() - (hr.min + spanH / 2) * scale;
    const double offsetV = area.center().y() + (vr.min + spanV / 2) * scale;
    const auto place = [&](const float p[3]) { return QPointF(offsetH + p[h] * scale, offsetV - p[v] * scale); };

    QHash<qint32, int> colourOf;
    for (const ToolFacts &tool : facts.tools)
        colourOf.insert(tool.tool, int(colourOf.size()) % 8);
    const auto toolColour = [&](qint32 tool) {
        const auto found = colourOf.constFind(tool);
        return found == colourOf.constEnd() ? QColor(ink) : QColor(toolColours[*found]);
    };

    // Rapids below, feed moves over them, holes on top.
    for (const PathKind pass : {PathKind::Rapid, PathKind::Feed}) {
        for (qsizetype i = 1; i < facts.path.size(); ++i) {
            const PathPoint &to = facts.path.at(i);
            if (!to.joined || to.kind != pass)
                continue;
            const PathPoint &from = facts.path.at(i - 1);
            const float a[3] = {from.x, from.y, from.z};
            const float b[3] = {to.x, to.y, to.z};
            if (std::isnan(a[h]) || std::isnan(a[v]) || std::isnan(b[h]) || std::isnan(b[v]))
                continue;
            if (pass == PathKind::Rapid)
                painter.setPen(QPen(QColor(rapid), 0, Qt::DashLine));
            else
                painter.setPen(QPen(toolColour(to.tool), 0));
            painter.drawLine(place(a), place(b));
        }
    }
    for (const HoleMark &hole : facts.holeMarks) {
        const float p[3] = {hole.x, hole.y, hole.z};
        const QPointF centre = place(p);
        painter.setPen(QPen(toolColour(hole.tool), 0));
        painter.drawEllipse(centre, 2, 2);
        painter.drawPoint(centre);
    }

    // The extents' dimensions: width x height of the view, and the depth of a milling program.
    painter.setPen(QPen(QColor(ink), 0));
    const int textTop = size.height() - margin - 7;
    DrawText(painter, Millimetres(spanH) + " x " + Millimetres(spanV), margin, textTop);
    if (!facts.lathe && facts.extents.axis[2].set) {
        const QByteArray depth = "Z" + Millimetres(facts.extents.axis[2].min);
        DrawText(painter, depth, size.width() - margin - TextWidth(depth), textTop);
    }
    if (!facts.complete) {
        // Only part of the program is drawn.
        painter.setPen(QPen(QColor(partial), 0));
        painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
    }
    painter.end();
    return picture;
}

QByteArray EncodeGif(const QImage &picture)
{
    if (picture.isNull() || picture.width() > 0xFFFF || picture.height() > 0xFFFF)
        return QByteArray();
    const QList<QRgb> palette = Palette();
    const QByteArray indices = PaletteIndices(picture, palette);

    QByteArray bytes;
    bytes.reserve(1024);
    const auto put16 = [&bytes](int value) {
        bytes.append(char(value & 0xFF));
        bytes.append(char((value >> 8) & 0xFF));
    };
    bytes.append("GIF87a", 6);
    put16(picture.width());
    put16(picture.height());
    // A global table of 16 colours (2^(3+1)), eight bits per primary.
    bytes.append(char(0xF3));
    bytes.append(char(0));
    bytes.append(char(0));
    for (const QRgb colour : palette) {
        bytes.append(char(qRed(colour)));
        bytes.append(char(qGreen(colour)));
        bytes.append(char(qBlue(colour)));
    }
    bytes.append(char(0x2C)); // the one image, at the origin, not interlaced
    put16(0);
    put16(0);
    put16(picture.width());
    put16(picture.height());
    bytes.append(char(0));
    CompressLzw(indices, &bytes);
    bytes.append(char(0x3B));
    return bytes;
}

bool Save(const QImage &picture, const QString &path)
{
    if (picture.isNull())
        return false;
    QByteArray bytes;
    if (path.endsWith(QLatin1String(".gif"), Qt::CaseInsensitive)) {
        bytes = EncodeGif(picture);
    } else {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!picture.save(&buffer, "PNG"))
            return false;
    }
    if (bytes.isEmpty())
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QByteArray OverviewGif(const ProgramFacts &facts)
{
    return EncodeGif(Draw(facts, overviewSize));
}

} // namespace ProgramPreview
