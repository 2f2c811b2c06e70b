#include "media/ExifValue.h"
#include "media/ExifValue_p.h"

QExifValuePrivate::~QExifValuePrivate() = default;

QExifByteValuePrivate::QExifByteValuePrivate(const QList<quint8> &value)
    : QExifValuePrivate(ExifValue::Byte, quint32(value.size())), value(value)
{}

QExifAsciiValuePrivate::QExifAsciiValuePrivate(const QString &value)
    : QExifValuePrivate(ExifValue::Ascii, quint32(value.size() + 1)), value(value)
{}

QExifShortValuePrivate::QExifShortValuePrivate(const QList<quint16> &value)
    : QExifValuePrivate(ExifValue::Short, quint32(value.size())), value(value)
{}

QExifLongValuePrivate::QExifLongValuePrivate(const QList<quint32> &value)
    : QExifValuePrivate(ExifValue::Long, quint32(value.size())), value(value)
{}

QExifRationalValuePrivate::QExifRationalValuePrivate(const QList<QPair<quint32, quint32>> &value)
    : QExifValuePrivate(ExifValue::Rational, quint32(value.size())), value(value)
{}

QExifUndefinedValuePrivate::QExifUndefinedValuePrivate(const QByteArray &value)
    : QExifValuePrivate(ExifValue::Undefined, quint32(value.size())), value(value)
{}

QExifSignedLongValuePrivate::QExifSignedLongValuePrivate(const QList<qint32> &value)
    : QExifValuePrivate(ExifValue::SignedLong, quint32(value.size())), value(value)
{}

QExifSignedRationalValuePrivate::QExifSignedRationalValuePrivate(const QList<QPair<qint32, qint32>> &value)
    : QExifValuePrivate(ExifValue::SignedRational, quint32(value.size())), value(value)
{}

namespace {

// One shared null value for the whole process; C++ makes its first-use creation thread-safe.
QExifValuePrivate *NullValueData()
{
    static const QExplicitlySharedDataPointer<QExifValuePrivate> nullValue(new QExifByteValuePrivate({}));
    return nullValue.data();
}

template <typename Private> const Private *As(const QExifValuePrivate *data, quint16 type)
{
    return data->type == type ? static_cast<const Private *>(data) : nullptr;
}

} // namespace

ExifValue::ExifValue() : d(NullValueData()) {}
ExifValue::ExifValue(QExifValuePrivate *data) : d(data) {}
ExifValue::ExifValue(const QList<quint8> &value) : d(new QExifByteValuePrivate(value)) {}
ExifValue::ExifValue(const QString &value) : d(new QExifAsciiValuePrivate(value)) {}
ExifValue::ExifValue(const QList<quint16> &value) : d(new QExifShortValuePrivate(value)) {}
ExifValue::ExifValue(const QList<quint32> &value) : d(new QExifLongValuePrivate(value)) {}
ExifValue::ExifValue(const QList<QPair<quint32, quint32>> &value) : d(new QExifRationalValuePrivate(value)) {}
ExifValue::ExifValue(const QByteArray &value) : d(new QExifUndefinedValuePrivate(value)) {}
ExifValue::ExifValue(const QList<qint32> &value) : d(new QExifSignedLongValuePrivate(value)) {}
ExifValue::ExifValue(const QList<QPair<qint32, qint32>> &value) : d(new QExifSignedRationalValuePrivate(value)) {}
ExifValue::ExifValue(const ExifValue &other) = default;
ExifValue &ExifValue::operator=(const ExifValue &other) = default;
ExifValue::~ExifValue() = default;

bool ExifValue::isNull() const
{
    return d.data() == NullValueData();
}
quint16 ExifValue::type() const
{
    return d->type;
}
quint32 ExifValue::count() const
{
    return d->count;
}

quint16 ExifValue::toShort() const
{
    if (d->count != 1)
        return 0;
    if (const auto *bytes = As<QExifByteValuePrivate>(d.data(), Byte))
        return bytes->value.value(0);
    if (const auto *shorts = As<QExifShortValuePrivate>(d.data(), Short))
        return shorts->value.value(0);
    return 0;
}

quint32 ExifValue::toLong() const
{
    if (d->count != 1)
        return 0;
    if (const auto *bytes = As<QExifByteValuePrivate>(d.data(), Byte))
        return bytes->value.value(0);
    if (const auto *shorts = As<QExifShortValuePrivate>(d.data(), Short))
        return shorts->value.value(0);
    if (const auto *longs = As<QExifLongValuePrivate>(d.data(), Long))
        return longs->value.value(0);
    if (const auto *signedLongs = As<QExifSignedLongValuePrivate>(d.data(), SignedLong))
        return quint32(signedLongs->value.value(0));
    return 0;
}

QList<quint8> ExifValue::toByteVector() const
{
    const auto *data = As<QExifByteValuePrivate>(d.data(), Byte);
    return data ? data->value : QList<quint8>();
}

QString ExifValue::toString() const
{
    const auto *data = As<QExifAsciiValuePrivate>(d.data(), Ascii);
    return data ? data->value : QString();
}

QList<quint16> ExifValue::toShortVector() const
{
    const auto *data = As<QExifShortValuePrivate>(d.data(), Short);
    return data ? data->value : QList<quint16>();
}

QList<quint32> ExifValue::toLongVector() const
{
    const auto *data = As<QExifLongValuePrivate>(d.data(), Long);
    return data ? data->value : QList<quint32>();
}

QList<QPair<quint32, quint32>> ExifValue::toRationalVector() const
{
    const auto *data = As<QExifRationalValuePrivate>(d.data(), Rational);
    return data ? data->value : QList<QPair<quint32, quint32>>();
}

QByteArray ExifValue::toByteArray() const
{
    const auto *data = As<QExifUndefinedValuePrivate>(d.data(), Undefined);
    return data ? data->value : QByteArray();
}

QList<qint32> ExifValue::toSignedLongVector() const
{
    const auto *data = As<QExifSignedLongValuePrivate>(d.data(), SignedLong);
    return data ? data->value : QList<qint32>();
}

QList<QPair<qint32, qint32>> ExifValue::toSignedRationalVector() const
{
    const auto *data = As<QExifSignedRationalValuePrivate>(d.data(), SignedRational);
    return data ? data->value : QList<QPair<qint32, qint32>>();
}
