#include "MetadataTestUtils.h"

#include <QXmlStreamReader>

namespace MetadataTestUtils {

PageSummary ReadPage(const QByteArray &page, const QString &tableId, const QString &rowAttribute,
                     const QString &attributeId, const QString &attribute)
{
    PageSummary summary;
    QXmlStreamReader reader(page);
    QString insideTable; // id of the table we are in
    bool inBody = false;
    QStringList currentRow;
    QString cellText;
    bool inCell = false;
    QString *textTarget = nullptr;

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            const QString name = reader.name().toString();
            const QXmlStreamAttributes attributes = reader.attributes();
            const QString id = attributes.value(QLatin1String("id")).toString();
            if (summary.rootElement.isEmpty())
                summary.rootElement = name;
            if (!id.isEmpty())
                summary.idsFound << id;
            if (!attributeId.isEmpty() && id == attributeId)
                summary.attributeOfId = attributes.value(attribute).toString();
            if (name == QLatin1String("title"))
                textTarget = &summary.title;
            else if (name == QLatin1String("h1"))
                textTarget = &summary.heading;
            else if (name == QLatin1String("table"))
                insideTable = id;
            else if (name == QLatin1String("tbody"))
                inBody = true;
            else if (name == QLatin1String("tr") && inBody && insideTable == tableId) {
                currentRow.clear();
                if (!rowAttribute.isEmpty())
                    summary.rowAttributes << attributes.value(rowAttribute).toString();
            } else if ((name == QLatin1String("td") || name == QLatin1String("th")) && inBody &&
                       insideTable == tableId) {
                inCell = true;
                cellText.clear();
            }
            break;
        }
        case QXmlStreamReader::EndElement: {
            const QString name = reader.name().toString();
            if (name == QLatin1String("title") || name == QLatin1String("h1"))
                textTarget = nullptr;
            else if (name == QLatin1String("table"))
                insideTable.clear();
            else if (name == QLatin1String("tbody"))
                inBody = false;
            else if ((name == QLatin1String("td") || name == QLatin1String("th")) && inCell) {
                currentRow << cellText;
                inCell = false;
            } else if (name == QLatin1String("tr") && inBody && insideTable == tableId)
                summary.rows << currentRow;
            break;
        }
        case QXmlStreamReader::Characters:
            if (inCell)
                cellText += reader.text();
            else if (textTarget)
                *textTarget += reader.text();
            break;
        default:
            break;
        }
    }
    summary.wellFormed = !reader.hasError();
    summary.error = reader.errorString();
    return summary;
}

} // namespace MetadataTestUtils
