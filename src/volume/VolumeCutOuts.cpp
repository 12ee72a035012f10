#include "volume/VolumeCutOuts.h"

#include <algorithm>
#include <cmath>

namespace render {

bool VolumeCutOut::hides(const QVector3D &p) const
{
    if (mask.isNull())
        return false;
    const double half = std::max(halfExtentMm, 0.1);
    const double u = (double(QVector3D::dotProduct(p, right)) - panU) / half;
    const double v = (double(QVector3D::dotProduct(p, up)) - panV) / half;
    if (!(u >= -1.0 && u <= 1.0 && v >= -1.0 && v <= 1.0))
        return false;
    const int side = mask.width();
    const int column = std::clamp(int((u + 1.0) * 0.5 * side), 0, side - 1);
    const int row = std::clamp(int((1.0 - v) * 0.5 * mask.height()), 0, mask.height() - 1);
    return mask.constScanLine(row)[column] < 128;
}

bool VolumeCutOuts::add(const VolumeCutOut &cutOut, QString *message)
{
    if (int(m_cutOuts.size()) >= limit) {
        if (message)
            *message = QStringLiteral("Достигнут предел одновременных обрезок (%1) — сначала уберите одну кнопкой "
                                      "«Убрать обрезку».")
                           .arg(limit);
        return false;
    }
    VolumeCutOut stored = cutOut;
    if (stored.mask.format() != QImage::Format_Grayscale8)
        stored.mask = stored.mask.convertToFormat(QImage::Format_Grayscale8);
    stored.halfExtentMm = std::max(stored.halfExtentMm, 0.1);
    m_cutOuts.push_back(std::move(stored));
    return true;
}

bool VolumeCutOuts::undo()
{
    if (m_cutOuts.empty())
        return false;
    m_cutOuts.pop_back();
    return true;
}

bool VolumeCutOuts::hides(const QVector3D &p) const
{
    return std::any_of(m_cutOuts.begin(), m_cutOuts.end(), [&p](const VolumeCutOut &c) { return c.hides(p); });
}

} // namespace render
