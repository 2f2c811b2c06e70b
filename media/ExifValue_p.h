#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSharedData>
#include <QString>

// The shared parts behind ExifValue: the type code and element count as the file states
// them, and one payload per supported TIFF type.
class QExifValuePrivate : public QSharedData
{
public:
    QExifValuePrivate(quint16 type, quint32 count) : type(type), count(count) {}
    virtual ~QExifValuePrivate();

    quint16 type;
    quint32 count;
};

class QExifByteValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifByteValuePrivate(const QList<quint8> &value);
    QList<quint8> value;
};

class QExifAsciiValuePrivate : public QExifValuePrivate
{
public:
    // The count includes the terminating zero of the file form.
    explicit QExifAsciiValuePrivate(const QString &value);
    QString value;
};

class QExifShortValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifShortValuePrivate(const QList<quint16> &value);
    QList<quint16> value;
};

class QExifLongValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifLongValuePrivate(const QList<quint32> &value);
    QList<quint32> value;
};

class QExifRationalValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifRationalValuePrivate(const QList<QPair<quint32, quint32>> &value);
    QList<QPair<quint32, quint32>> value;
};

class QExifUndefinedValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifUndefinedValuePrivate(const QByteArray &value);
    QByteArray value;
};

class QExifSignedLongValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifSignedLongValuePrivate(const QList<qint32> &value);
    QList<qint32> value;
};

class QExifSignedRationalValuePrivate : public QExifValuePrivate
{
public:
    explicit QExifSignedRationalValuePrivate(const QList<QPair<qint32, qint32>> &value);
    QList<QPair<qint32, qint32>> value;
};
