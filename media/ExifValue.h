#pragma once

#include <QByteArray>
#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QPair>
#include <QString>

class QExifValuePrivate;

// One decoded EXIF/TIFF value. Copies share the decoded data, so a value stays valid after
// the reader that made it is gone. A missing tag or an unsupported type is the null value:
// type Byte with count 0.
class ExifValue
{
public:
    enum Type : quint16 {
        Byte = 1,
        Ascii = 2,
        Short = 3,
        Long = 4,
        Rational = 5,
        Undefined = 7,
        SignedLong = 9,
        SignedRational = 10,
    };

    ExifValue();
    explicit ExifValue(const QList<quint8> &value);
    explicit ExifValue(const QString &value);
    explicit ExifValue(const QList<quint16> &value);
    explicit ExifValue(const QList<quint32> &value);
    explicit ExifValue(const QList<QPair<quint32, quint32>> &value);
    explicit ExifValue(const QByteArray &value);
    explicit ExifValue(const QList<qint32> &value);
    explicit ExifValue(const QList<QPair<qint32, qint32>> &value);
    ExifValue(const ExifValue &other);
    ExifValue &operator=(const ExifValue &other);
    ~ExifValue();

    bool isNull() const;
    quint16 type() const;
    quint32 count() const;

    // The only element when the count is 1 and the type is Byte or Short; else 0.
    quint16 toShort() const;
    // The only element when the count is 1 and the type is Byte, Short, Long or SignedLong; else 0.
    quint32 toLong() const;

    // The payload when the type matches; else empty.
    QList<quint8> toByteVector() const;
    QString toString() const;
    QList<quint16> toShortVector() const;
    QList<quint32> toLongVector() const;
    QList<QPair<quint32, quint32>> toRationalVector() const;
    QByteArray toByteArray() const;
    QList<qint32> toSignedLongVector() const;
    QList<QPair<qint32, qint32>> toSignedRationalVector() const;

private:
    explicit ExifValue(QExifValuePrivate *data);

    QExplicitlySharedDataPointer<QExifValuePrivate> d;
};
