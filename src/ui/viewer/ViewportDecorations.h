#pragma once

#include "viewer/MeasurementMode.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGraphicsView;
class QLabel;
class QSlider;
class QToolButton;
class QWidget;

namespace velmaris {

// What an image panel shows over its picture: the message in its middle, the
// slice slider, the control strip, the six quick tool buttons, the four
// corner texts and the orientation letters on each edge, laid out so that
// none of them covers another.
class ViewportDecorations : public QObject
{
    Q_OBJECT
public:
    // Children of `view`; `orientationLetter` names the patient direction
    // towards an edge, empty when unknown.
    ViewportDecorations(QGraphicsView *view, std::function<QString(Qt::Edge)> orientationLetter);

    QSlider *slider() const { return m_slider; }

    void setMessage(const QString &text);
    QString message() const;
    // Patient, series, slice and window texts, clockwise from the top left.
    void setCornerTexts(const QStringList &texts, bool shown);
    QList<int> quickTools() const { return m_quickTools; }
    // The part of the view that labels over the picture may use, in view
    // pixels: left of the quick buttons and the slider.
    QRect labelArea() const;

    // Lays everything out again (size, transform or texts changed).
    void place();

    // The control strip: shown for a panel with a series; the plane box on
    // "2D" (plane −1) or a reconstruction plane (0 axial, 1 coronal, 2
    // sagittal), the slab boxes acting only on a plane.
    void setReconstructionControls(bool shown, int plane);
    QComboBox *planeBox() const { return m_planeBox; }
    QComboBox *slabBox() const { return m_slabBox; }
    QDoubleSpinBox *thicknessBox() const { return m_thicknessBox; }

signals:
    void quickToolRequested(render::MeasurementMode mode);
    // The user chose a plane in the strip (−1 for "2D").
    void planeChosen(int plane);
    // Slab box index (0 "Срез", 1 MIP, 2 MinIP, 3 Avg) and thickness in mm.
    void slabChosen(int mode, double thicknessMm);

private slots:
    void onQuickToolsChanged();

private:
    void buildControlStrip();

    QGraphicsView *m_view;
    std::function<QString(Qt::Edge)> m_orientationLetter;
    QLabel *m_message;
    QSlider *m_slider;
    QWidget *m_controlStrip = nullptr;
    QComboBox *m_planeBox = nullptr;
    QComboBox *m_slabBox = nullptr;
    QDoubleSpinBox *m_thicknessBox = nullptr;
    QCheckBox *m_printCheck = nullptr;
    QList<QToolButton *> m_quickButtons;
    QList<int> m_quickTools;
    QList<QLabel *> m_cornerLabels;
    QStringList m_cornerTexts;
    QHash<Qt::Edge, QLabel *> m_edgeLabels;
};

} // namespace velmaris
