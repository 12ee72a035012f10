#pragma once

#include <QString>
#include <QtGlobal>

namespace pacs {

// Creates an empty file named "%1.dcm" after `msecsSinceEpoch` in `folder`
// (created with its parents), or "%1_%2.dcm" with a counter when that name is
// taken. The file is created with an exclusive open, so two objects arriving
// in the same millisecond never share a name and an existing file is never
// replaced. Returns the path, or an empty string with the reason.
QString createUniqueFile(const QString &folder, qint64 msecsSinceEpoch, QString *error = nullptr);

} // namespace pacs
