#pragma once

#include "db/SliceRef.h"

#include <QList>
#include <QMainWindow>

class QListWidget;

namespace velmaris {

// The image viewer. For now it lists the series it was handed and how many
// frames each holds; the viewports replace the list.
class ViewerWindow : public QMainWindow
{
    Q_OBJECT
public:
    ViewerWindow(const QString &studyUid, bool portable, QWidget *parent = nullptr);

    // Shows a series, or updates it when already shown (it grows while a
    // portable import runs).
    void showSeries(const QString &seriesUid, const QList<db::SliceRef> &slices);

    QString studyUid() const { return m_studyUid; }
    int seriesCount() const;
    int frameCount(const QString &seriesUid) const;

private:
    QString m_studyUid;
    QListWidget *m_series = nullptr;
};

} // namespace velmaris
