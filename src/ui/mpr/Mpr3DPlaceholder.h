#pragma once

#include "volume/Volume.h"

#include <QWidget>

class QLabel;

namespace velmaris {

// The fourth cell of the MPR window until the volume renderer joins the
// window: it says that 3D rendering is not available here yet and shows the
// size of the volume it would draw. The window talks to it only through
// setVolume, so the renderer can take its place.
class Mpr3DPlaceholder : public QWidget
{
    Q_OBJECT
public:
    explicit Mpr3DPlaceholder(QWidget *parent = nullptr);

    void setVolume(const render::Volume *volume);
    QString text() const;

private:
    QLabel *m_label;
};

} // namespace velmaris
