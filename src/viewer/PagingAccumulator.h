#pragma once

#include <QtGlobal>

namespace render {

// Left-drag paging: collects the vertical mouse movement so that slow drags
// page one slice per 8 pixels and fast drags up to six times faster.
class PagingAccumulator
{
public:
    // One mouse move: dy screen pixels (down positive) and elapsedMs since the
    // previous move (values below 1 count as 1). Returns the slices to move,
    // positive towards the next slice.
    int addMove(double dy, qint64 elapsedMs);

    // A new drag starts from nothing.
    void reset() { m_pending = 0.0; }

    double pending() const { return m_pending; }

private:
    double m_pending = 0.0;
};

} // namespace render
