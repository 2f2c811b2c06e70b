#include "ProgramPreview.h"

#include <QBuffer>
#include <QHash>
#include <QPainter>
#include <QSaveFile>
#include <QVarLengthArray>

#include <cgif.h>

#include <array>
#include <cmath>
#include <cstring>

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

// The picture in palette indices. Drawing uses the palette's colours only, so each pixel
// is looked up exactly (Qt's general conversion searches for the nearest colour, at about
// the cost of drawing and encoding together); a colour outside it falls back to that search.
QImage ToPalette(const QImage &drawn, const QList<QRgb> &palette)
{
    const QImage picture = drawn.format() == QImage::Format_RGB32 ? drawn : drawn.convertToFormat(QImage::Format_RGB32);
    QImage indexed(picture.size(), QImage::Format_Indexed8);
    indexed.setColorTable(palette);
    // Colours met so far, by a hash of the colour: a search of the palette per colour change
    // cost about as much as encoding the pixel.
    constexpr int slotBits = 6;
    std::array<QRgb, 1 << slotBits> slotColour{};
    std::array<uchar, 1 << slotBits> slotIndex{};
    const auto slotOf = [](QRgb colour) { return (colour * 2654435761u) >> (32 - slotBits); };
    for (qsizetype i = palette.size() - 1; i >= 0; --i) {
        const QRgb colour = palette.at(i) | 0xFF000000;
        slotColour[slotOf(colour)] = colour;
        slotIndex[slotOf(colour)] = uchar(i);
    }
    const int width = picture.width();
    for (int y = 0; y < picture.height(); ++y) {
        const auto *from = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        uchar *to = indexed.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const QRgb colour = from[x] | 0xFF000000;
            const quint32 slot = slotOf(colour);
            if (slotColour[slot] != colour) {
                const qsizetype found = palette.indexOf(colour);
                if (found < 0)
                    return picture.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
                slotColour[slot] = colour;
                slotIndex[slot] = uchar(found);
            }
            to[x] = slotIndex[slot];
        }
    }
    return indexed;
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

    // Rapids below, feed moves over them, holes on top. Lines of one colour are drawn
    // together: setting the pen per line costs more than drawing it.
    QVarLengthArray<QLineF, 256> lines;
    qint32 linesTool = 0;
    const auto drawLines = [&](PathKind pass) {
        if (lines.isEmpty())
            return;
        if (pass == PathKind::Rapid)
            painter.setPen(QPen(QColor(rapid), 0, Qt::DashLine));
        else
            painter.setPen(QPen(toolColour(linesTool), 0));
        if (pass == PathKind::Rapid) {
            // One by one: each dashed line starts its pattern afresh.
            for (const QLineF &line : lines)
                painter.drawLine(line);
        } else {
            painter.drawLines(lines.constData(), int(lines.size()));
        }
        lines.clear();
    };
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
            if (pass == PathKind::Feed && to.tool != linesTool) {
                drawLines(pass);
                linesTool = to.tool;
            }
            lines.append(QLineF(place(a), place(b)));
        }
        drawLines(pass);
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
    // A GIF is at most 65,535 pixels wide and high.
    if (picture.isNull() || picture.width() > 0xFFFF || picture.height() > 0xFFFF)
        return QByteArray();
    const QList<QRgb> palette = Palette();
    const QImage indexed = ToPalette(picture, palette);
    // cgif takes the pixels as one block of rows without padding.
    const int width = indexed.width();
    QByteArray pixels(qsizetype(width) * indexed.height(), Qt::Uninitialized);
    for (int y = 0; y < indexed.height(); ++y)
        std::memcpy(pixels.data() + qsizetype(y) * width, indexed.constScanLine(y), size_t(width));
    QByteArray colours;
    for (const QRgb colour : palette)
        colours.append(char(qRed(colour))).append(char(qGreen(colour))).append(char(qBlue(colour)));

    QByteArray bytes;
    CGIF_Config config{};
    config.pGlobalPalette = reinterpret_cast<uint8_t *>(colours.data());
    config.numGlobalPaletteEntries = uint16_t(palette.size());
    config.width = uint16_t(width);
    config.height = uint16_t(indexed.height());
    config.pWriteFn = [](void *context, const uint8_t *data, size_t size) {
        static_cast<QByteArray *>(context)->append(reinterpret_cast<const char *>(data), qsizetype(size));
        return int(CGIF_OK);
    };
    config.pContext = &bytes;
    CGIF *gif = cgif_newgif(&config);
    if (!gif)
        return QByteArray();
    CGIF_FrameConfig frame{};
    frame.pImageData = reinterpret_cast<uint8_t *>(pixels.data());
    const bool added = cgif_addframe(gif, &frame) == CGIF_OK;
    const bool closed = cgif_close(gif) == CGIF_OK;
    return added && closed ? bytes : QByteArray();
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
