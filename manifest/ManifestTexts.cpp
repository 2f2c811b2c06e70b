#include "manifest/ManifestTexts_p.h"

namespace ManifestTexts {

namespace {

struct KindTexts
{
    QString category;
    QString tab;
    QString fileType;
    QString comment;
    QString author;
    bool hidden;
    bool readOnly;
};

// Indexed by eMetadataType; the last row also serves every value out of range.
const KindTexts &Row(eMetadataType type)
{
    static const KindTexts rows[] = {
        {QStringLiteral("Overview"), QStringLiteral("Overview"), QStringLiteral("gif"),
         QStringLiteral("Program Overview"), QStringLiteral("Auto-Generated"), false, false},
        {QStringLiteral("Stats"), QStringLiteral("Stats"), QStringLiteral("html"), QStringLiteral("Program Statistics"),
         QStringLiteral("Auto-Generated"), false, true},
        {QStringLiteral("Tools"), QStringLiteral("Tool Info"), QStringLiteral("html"),
         QStringLiteral("Program Tool List"), QStringLiteral("Auto-Generated"), false, true},
        {QStringLiteral("History"), QStringLiteral("History"), QStringLiteral("html"),
         QStringLiteral("Program Run History"), QStringLiteral("Auto-Generated"), false, true},
        {QStringLiteral("GraphData"), QStringLiteral("X"), QStringLiteral("graphics"),
         QStringLiteral("Graphical Output Data"), QStringLiteral("Auto-Generated"), true, true},
        {QStringLiteral("Note"), QStringLiteral("Notes"), QStringLiteral("text"), QString(),
         QStringLiteral("Unknown User"), false, false},
        {QStringLiteral("Image"), QStringLiteral("Images"), QStringLiteral("image"), QString(),
         QStringLiteral("Unknown User"), false, false},
        {QStringLiteral("Video"), QStringLiteral("Videos"), QStringLiteral("video"), QString(),
         QStringLiteral("Unknown User"), false, false},
        {QStringLiteral("PDF"), QStringLiteral("PDFs"), QStringLiteral("pdf"), QString(),
         QStringLiteral("Unknown User"), false, false},
        {QStringLiteral("NCProgram"), QStringLiteral("X"), QStringLiteral("text"), QString(),
         QStringLiteral("Unknown User"), true, true},
        {QStringLiteral("ConvProgram"), QStringLiteral("X"), QStringLiteral("conversational"), QString(),
         QStringLiteral("Unknown User"), true, true},
        // The misspelling is what stored files and hosts know.
        {QStringLiteral("Unknown Category Type"), QStringLiteral("Unknown Tab"), QStringLiteral("Unkown File Type"),
         QString(), QString(), true, false},
    };
    const int index = static_cast<int>(type);
    return (index >= 0 && index < Unknown) ? rows[index] : rows[Unknown];
}

} // namespace

QString Category(eMetadataType type)
{
    return Row(type).category;
}
QString Tab(eMetadataType type)
{
    return Row(type).tab;
}
QString FileType(eMetadataType type)
{
    return Row(type).fileType;
}
QString FixedComment(eMetadataType type)
{
    return Row(type).comment;
}
QString Author(eMetadataType type)
{
    return Row(type).author;
}
bool Hidden(eMetadataType type)
{
    return Row(type).hidden;
}
bool ReadOnly(eMetadataType type)
{
    return Row(type).readOnly;
}

eMetadataType KindOfCategory(QStringView category)
{
    // The order in which the kinds are tried when a category text is read.
    static const eMetadataType order[] = {NCProgram, ConvProgram, Overview, Stats, Tools, History,
                                          GraphData, Note,        Image,    Video, PDF};
    for (eMetadataType type : order) {
        if (category == Row(type).category)
            return type;
    }
    return Unknown;
}

bool IsProgram(eMetadataType type)
{
    return type == NCProgram || type == ConvProgram;
}

QString ProgramCreatedPrefix()
{
    return QStringLiteral("Program Created ");
}

QString Shared(QStringView text)
{
    static const QString known[] = {
        QStringLiteral("Auto-Generated"),        QStringLiteral("Unknown User"),
        QStringLiteral("Program Overview"),      QStringLiteral("Program Statistics"),
        QStringLiteral("Program Tool List"),     QStringLiteral("Program Run History"),
        QStringLiteral("Graphical Output Data"),
    };
    for (const QString &candidate : known) {
        if (text == candidate)
            return candidate;
    }
    return text.toString();
}

} // namespace ManifestTexts
