#pragma once

#include <QImage>
#include <QString>
#include <QVector3D>

#include <vector>

namespace render {

// One freehand cut-out: the camera basis, half extent and pan it was drawn
// under, and a square mask (Format_Grayscale8) that is 255 inside the path.
struct VolumeCutOut
{
    QVector3D direction;
    QVector3D right;
    QVector3D up;
    double halfExtentMm = 0.1;
    double panU = 0.0;
    double panV = 0.0;
    QImage mask;

    // True when p (mm about the volume's centre) projects into the mask's
    // square on a place outside the path.
    bool hides(const QVector3D &p) const;
};

// The active cut-outs: at most six, undone last first.
class VolumeCutOuts
{
public:
    static constexpr int limit = 6;

    // False with the limit message when six are active already.
    bool add(const VolumeCutOut &cutOut, QString *message = nullptr);
    // Removes the last one; false when there is none.
    bool undo();
    void clear() { m_cutOuts.clear(); }
    bool isEmpty() const { return m_cutOuts.empty(); }
    int count() const { return int(m_cutOuts.size()); }
    const std::vector<VolumeCutOut> &items() const { return m_cutOuts; }

    // A point is visible when no cut-out hides it.
    bool hides(const QVector3D &p) const;

private:
    std::vector<VolumeCutOut> m_cutOuts;
};

} // namespace render
