#pragma once

#include "volume/TransferFunctionPreset.h"

#include <QPointF>
#include <QWidget>

namespace velmaris {

// The opacity-over-HU curve of a transfer function with a handle per node in
// the node's colour: drag a handle to change its HU and opacity, Ctrl+click on
// the curve to add a node, Ctrl+click on a handle to remove it (two stay),
// double-click a handle to choose its colour.
class TransferFunctionEditorWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TransferFunctionEditorWidget(QWidget *parent = nullptr);

    // The HU range the curve is drawn over; widened to the preset's nodes.
    void setHuRange(double minimum, double maximum);
    void setPreset(const render::TransferFunctionPreset &preset);
    const render::TransferFunctionPreset &preset() const { return m_preset; }

    // Widget position of a node, and the node at a position (−1: none).
    QPointF nodePosition(int index) const;
    int nodeAt(const QPointF &position) const;

signals:
    // Every change, while dragging too.
    void presetChangedDraft(const render::TransferFunctionPreset &preset);
    // The end of a change (a drag released, a node added, removed or recoloured).
    void presetChangedFinal(const render::TransferFunctionPreset &preset);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QRectF plotRect() const;
    double huAt(double x) const;
    double opacityAt(double y) const;
    void changed(bool final);

    render::TransferFunctionPreset m_preset;
    double m_huMin = -1024.0;
    double m_huMax = 3071.0;
    int m_dragged = -1;
    bool m_moved = false;
};

} // namespace velmaris
