#include "MetadataTestUtils.h"
#include "TestUtils.h"

#include <QXmlStreamReader>

namespace MetadataTestUtils {

Page ReadPage(const QString &path)
{
    Page page;
    QXmlStreamReader xml(TestUtils::ReadFile(path));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"title")
            page.title = xml.readElementText();
        else if (xml.isStartElement() && xml.name() == u"tbody") {
            while (xml.readNextStartElement()) { // a row, until </tbody>
                page.rows << QStringList();
                while (xml.readNextStartElement()) // a cell, until </tr>
                    page.rows.last() << xml.readElementText(QXmlStreamReader::IncludeChildElements);
            }
        }
    }
    page.wellFormed = !xml.hasError();
    return page;
}

} // namespace MetadataTestUtils
