#pragma once

#include <QtGlobal>

namespace render {

// Bytes this process can still allocate without being killed: the kernel's
// MemAvailable, lowered to what the process's cgroup limit leaves. 0 when
// neither can be read (no check is made then).
quint64 availableMemoryBytes();

} // namespace render
