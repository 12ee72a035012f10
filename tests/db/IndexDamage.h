#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QtEndian>

// What a real index file looks like after the disk or another program has
// damaged it: the bytes of a healthy index, changed the way such damage does.
namespace velmaris::testing {

enum class IndexDamage {
    PageOverwritten,  // one page in the middle holds garbage
    Truncated,        // the file ends halfway, at a page boundary
    AllButFirstPage,  // garbage after the header page, written behind an open connection
};

// The page size as the file's header states it (big-endian at offset 16;
// 1 stands for 65536).
inline qsizetype indexPageSize(const QByteArray &index)
{
    if (index.size() < 100)
        return 0;
    const quint16 stored = qFromBigEndian<quint16>(index.constData() + 16);
    return stored == 1 ? 65536 : stored;
}

// The page that PageOverwritten fills, numbered from 1 as SQLite names it.
inline qsizetype overwrittenPage(const QByteArray &index)
{
    const qsizetype pageSize = indexPageSize(index);
    return pageSize > 0 ? index.size() / pageSize / 2 + 1 : 0;
}

// Empty when the index is too small for the damage to hit one page only.
// PageOverwritten hits `page` when one is given.
inline QByteArray damagedIndex(QByteArray index, IndexDamage damage, qsizetype page = 0)
{
    const qsizetype pageSize = indexPageSize(index);
    const qsizetype pages = pageSize > 0 ? index.size() / pageSize : 0;
    if (pages < 3)
        return QByteArray();
    quint32 noise = 0x9e3779b9u;
    const auto overwrite = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i) {
            noise = noise * 1664525u + 1013904223u;
            index[i] = char(noise >> 24);
        }
    };
    const qsizetype middle = overwrittenPage(index) - 1;
    switch (damage) {
    case IndexDamage::PageOverwritten: {
        const qsizetype at = page > 0 ? page - 1 : middle;
        if (at >= pages)
            return QByteArray();
        overwrite(at * pageSize, (at + 1) * pageSize);
        break;
    }
    case IndexDamage::Truncated:
        index.truncate(middle * pageSize);
        break;
    case IndexDamage::AllButFirstPage: {
        overwrite(pageSize, index.size());
        // A connection that keeps the file open trusts the pages it has read
        // until the change counter (offset 24) moves, as after any writer.
        const quint32 counter = qFromBigEndian<quint32>(index.constData() + 24);
        qToBigEndian<quint32>(counter + 1, index.data() + 24);
        break;
    }
    }
    return index;
}

} // namespace velmaris::testing

Q_DECLARE_METATYPE(velmaris::testing::IndexDamage)
