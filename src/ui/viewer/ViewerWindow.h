#pragma once

#include "db/SliceRef.h"

#include <QHash>
#include <QList>
#include <QMainWindow>

class QListWidget;
class QListWidgetItem;

namespace velmaris {

class ImageViewportWidget;

// The image viewer, for now with one panel: the study's series on the left,
// the panel with its tools on the right. The multi-panel viewer replaces it.
class ViewerWindow : public QMainWindow
{
    Q_OBJECT
public:
    ViewerWindow(const QString &studyUid, bool portable, QWidget *parent = nullptr);

    // Adds a series, or updates it when already listed (it grows while a
    // portable import runs). The first series added is shown at once.
    void showSeries(const QString &seriesUid, const QList<db::SliceRef> &slices);
    // Shows a listed series in the panel.
    void openSeries(const QString &seriesUid);

    QString studyUid() const { return m_studyUid; }
    int seriesCount() const;
    int frameCount(const QString &seriesUid) const;
    ImageViewportWidget *viewport() const { return m_viewport; }

private slots:
    void onSeriesActivated(QListWidgetItem *item);

private:
    void buildMenus();

    QString m_studyUid;
    QListWidget *m_series = nullptr;
    ImageViewportWidget *m_viewport = nullptr;
    QHash<QString, QList<db::SliceRef>> m_slices;
};

} // namespace velmaris
