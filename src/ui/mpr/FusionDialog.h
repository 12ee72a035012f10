#pragma once

#include "db/SliceRef.h"
#include "volume/Volume.h"

#include <QDialog>
#include <QList>
#include <QPointer>

#include <memory>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSlider;

namespace velmaris {

class ImageViewportWidget;

// "Fusion": lays another series of the study over a panel in colour. The
// chosen series' volume builds on the shared registry (shared with the MPR
// window and reconstructions of that series); its colour map, window and
// opacity apply at once. Closing the dialog keeps the overlay; "Убрать
// наложение" removes it.
class FusionDialog : public QDialog
{
    Q_OBJECT
public:
    struct Series
    {
        QString label;
        QString description; // the plane hint of a stack without geometry is read from it
        QList<db::SliceRef> slices;
    };

    FusionDialog(ImageViewportWidget *panel, const QList<Series> &candidates, QWidget *parent = nullptr);

    QComboBox *seriesBox() const { return m_series; }
    QComboBox *colourMapBox() const { return m_colourMap; }
    QSlider *opacitySlider() const { return m_opacity; }
    QLabel *opacityLabel() const { return m_opacityLabel; }
    QDoubleSpinBox *centreBox() const { return m_centre; }
    QDoubleSpinBox *widthBox() const { return m_width; }
    const render::Volume *volume() const { return m_volume.get(); }

signals:
    // The overlay is on the panel (after a build), or the build failed.
    void applied();
    void failed(const QString &message);

private:
    void buildChosen();
    void apply();

    QPointer<ImageViewportWidget> m_panel;
    QList<Series> m_candidates;
    QComboBox *m_series;
    QComboBox *m_colourMap;
    QDoubleSpinBox *m_centre;
    QDoubleSpinBox *m_width;
    QSlider *m_opacity;
    QLabel *m_opacityLabel;
    std::shared_ptr<const render::Volume> m_volume;
    int m_request = 0;
};

} // namespace velmaris
