#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Reading the generated pages back in tests. The pages are XHTML-compatible, so an XML
// reader checks their structure.
namespace MetadataTestUtils {

struct PageSummary
{
    bool wellFormed = false;
    QString error;
    QString rootElement;
    QString title;
    QString heading;           // text of the <h1>
    QList<QStringList> rows;   // cell texts of each <tbody> row of the table with the id
    QStringList rowAttributes; // the given attribute of each such row
    QStringList idsFound;      // every id attribute on the page
    QString attributeOfId;     // the given attribute of the element with `attributeId`
};

// Parses the page; `tableId` selects the table whose body rows are read, `rowAttribute`
// an attribute to collect from those rows, `attributeId`/`attribute` one attribute to read.
PageSummary ReadPage(const QByteArray &page, const QString &tableId = QString(),
                     const QString &rowAttribute = QString(), const QString &attributeId = QString(),
                     const QString &attribute = QString());

} // namespace MetadataTestUtils
