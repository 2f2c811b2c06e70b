#pragma once

#include <QByteArrayView>
#include <QStringView>

#include <xxhash.h>

// Hashes that every process on this machine computes alike, for states that one process
// keeps for the next: Qt's qHash of bytes and strings mixes in a seed chosen at random for
// each process.
namespace Platform {

inline quint64 StableHash(QByteArrayView bytes, quint64 seed = 0)
{
    return XXH3_64bits_withSeed(bytes.data(), size_t(bytes.size()), seed);
}

inline quint64 StableHash(QStringView text, quint64 seed = 0)
{
    return XXH3_64bits_withSeed(text.data(), size_t(text.size()) * sizeof(QChar), seed);
}

} // namespace Platform
