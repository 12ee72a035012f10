#pragma once

#include "db/SeriesRecord.h"
#include "db/SliceRef.h"
#include "ui/viewer/PanelGrid.h"
#include "ui/viewer/SeriesListWidget.h"
#include "viewer/MeasurementMode.h"
#include "viewer/SliceGeometry.h"
#include "viewer/VertebraLabels.h"

#include <QHash>
#include <QPointer>
#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QStringList>

class QAction;
class QActionGroup;
class QMenu;
class QSpinBox;
class QTimer;
class QToolBar;

namespace db {
class Database;
}

namespace velmaris {

class DetachedPanelWindow;
class ImageViewportWidget;
class SeriesListWidget;
class ViewerLinks;

// The window in which a study is read: its series as a thumbnail list on the
// left, up to 3 × 3 image panels on the right, one of them active, linked by
// synchronised paging, reference lines, the 3D cursor and vertebra labels.
class ViewerWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int maxGridSide = PanelGrid::maxSide;

    ViewerWindow(const QString &studyUid, bool portable, QWidget *parent = nullptr);
    ~ViewerWindow() override;

    // Adds a series, or updates it when already listed (it grows while a
    // portable import runs). The first series added is shown at once.
    void showSeries(const QString &seriesUid, const QList<db::SliceRef> &slices);
    // The same with the series row, whose number, modality and description
    // label the list and the series menu.
    void showSeries(const db::SeriesRecord &series, const QList<db::SliceRef> &slices);
    // Shows a listed series in the active panel.
    void openSeries(const QString &seriesUid);

    // The archive to compare with; without it "Сравнить с…" has nothing to offer.
    void setArchive(db::Database *archive);
    // Adds another study's series to the list under a header, ready to be
    // dragged into panels. False (after telling the user) when it has none.
    bool addComparisonStudy(const QString &studyUid);

    QString studyUid() const { return m_studyUid; }
    int seriesCount() const { return static_cast<int>(m_seriesOrder.size()); }
    int frameCount(const QString &seriesUid) const;
    // The active panel.
    ImageViewportWidget *viewport() const;

    int gridRows() const;
    int gridColumns() const;
    // The grid's panels in row-major order (detached ones included).
    QList<ImageViewportWidget *> panels() const;
    int activeViewportIndex() const;
    void setActiveViewport(int viewportIndex);
    bool isViewportDetached(int viewportIndex) const;
    DetachedPanelWindow *detachedWindow(int viewportIndex) const;

    SeriesListWidget *seriesList() const { return m_seriesList; }
    QToolBar *mainToolBar() const { return m_toolBar; }
    // A window action by its identifier (toolbar identifiers, the hotkey
    // identifiers "viewer.*", "referenceLines", "cine", "layout"); null when
    // this window has no such action.
    QAction *action(const QString &id) const;
    // Adds an action from outside (the volume entries) under its object
    // name, with the shortcut of that identifier, so action() finds it.
    void addWindowAction(QAction *action);
    // The "Реконструкция" menu every volume entry of this window goes into.
    QMenu *reconstructionMenu() const { return m_reconstructionMenu; }
    // The study's series in list order, and the slices of any listed series.
    QStringList seriesUids() const { return m_seriesOrder; }
    QList<db::SliceRef> seriesSlices(const QString &seriesUid) const { return m_slices.value(seriesUid); }
    // The series' description as stored (empty when it has none).
    QString seriesDescription(const QString &seriesUid) const;
    QSpinBox *cineRateBox() const { return m_cineRate; }
    QTimer *cineTimer() const { return m_cineTimer; }
    const render::VertebraLabeler &vertebraLabeler() const;

    // Chooses the tool for every panel; the vertebra tool asks for the first
    // label and the click direction first (nothing changes when cancelled).
    void chooseTool(render::MeasurementMode mode);
    // The series menu of a panel, as shown on its right click.
    QMenu *buildSeriesMenu(int viewportIndex, QWidget *parent);

signals:
    // The detached panels' windows are gone and the window is closing.
    void closed();
    // "К списку исследований": the browser shows itself and takes this
    // window as the one the next viewer replaces.
    void backToListRequested();

public slots:
    void onSeriesThumbnailActivated(const QString &seriesUid);
    void onViewportSliceChanged(int sourceViewportIndex, int index, int total);
    void onGridLayoutChosen(int rows, int columns);
    void onSeriesMenuRequested(int viewportIndex, const QPoint &globalPos);
    void toggleDetachViewport(int viewportIndex);
    void onSeriesStepRequested(int viewportIndex, int direction);
    void onCursor3DClicked(int viewportIndex, const QPointF &imagePixel);
    void onVertebraLabelClicked(int viewportIndex, const QPointF &imagePixel);
    void onCineToggled(bool on);
    void onCineRateChanged(int rate);
    void onCineTick();
    void onBackToListTriggered();
    void onResetCalibrationTriggered();
    void onCopyOneTriggered();
    void onCopyAllTriggered();
    void onCompareTriggered();
    void onLayoutButtonClicked();
    void onPanelCreated(ImageViewportWidget *panel);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildActions();
    void buildMenus();
    void buildToolBars();
    void loadIntoPanel(ImageViewportWidget *panel, const QString &seriesUid);
    void refreshSeriesList();
    void updateReferenceLines();
    void updateVertebraLabels();
    QString seriesLabel(const QString &seriesUid) const;
    void showStatus(const QString &text, int timeoutMs = 0);

    QString m_studyUid;
    bool m_portable = false;
    SeriesListWidget *m_seriesList = nullptr;
    PanelGrid *m_grid = nullptr;

    QStringList m_seriesOrder;
    QPointer<db::Database> m_archive;
    // The patient corner of the panels: for this study, and per comparison series.
    QString m_patientText;
    QHash<QString, QString> m_patientTextOfSeries;
    // Studies opened beside this one, re-added whenever the list is rebuilt.
    struct Comparison
    {
        QString header;
        QList<SeriesListEntry> series;
    };
    QList<Comparison> m_comparisons;
    QHash<QString, QList<db::SliceRef>> m_slices;
    QHash<QString, QList<render::SliceGeometry>> m_geometry;
    QHash<QString, db::SeriesRecord> m_records;

    QHash<QString, QAction *> m_actions;
    QActionGroup *m_toolGroup = nullptr;
    QHash<int, QAction *> m_toolActions;
    QToolBar *m_toolBar = nullptr;
    QSpinBox *m_cineRate = nullptr;
    QTimer *m_cineTimer = nullptr;
    QTimer *m_listRefresh = nullptr;

    ViewerLinks *m_links = nullptr;
    QMenu *m_reconstructionMenu = nullptr;
};

} // namespace velmaris
