#pragma once

#include <QList>
#include <QStringList>

// Reading the generated pages back in tests. The pages are XHTML-compatible, so an XML
// reader checks their structure.
namespace MetadataTestUtils {

struct Page
{
    bool wellFormed = false;
    QString title;
    QList<QStringList> rows; // cell texts of the table's body rows (a page has one table at most)
};

Page ReadPage(const QString &path);

} // namespace MetadataTestUtils
