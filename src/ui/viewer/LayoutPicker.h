#pragma once

#include <QWidget>

namespace velmaris {

// The popup that chooses the panel grid: 3 × 3 cells, the hovered block is
// highlighted and its size shown as "rows × columns".
class LayoutPicker : public QWidget
{
    Q_OBJECT
public:
    explicit LayoutPicker(QWidget *parent = nullptr);

    static constexpr int cellSize = 34;
    static constexpr int margin = 10;

    // The caption under the cells: "Выберите раскладку" or "%1 × %2".
    QString caption() const { return m_caption; }
    // The centre of cell (row, column) in widget coordinates.
    static QPoint cellCenter(int row, int column);

signals:
    void layoutChosen(int rows, int columns);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    // Row and column under the point, or (-1, -1) outside the cells.
    QPoint cellAt(const QPoint &pos) const;
    void setHover(const QPoint &cell);

    QPoint m_hover{-1, -1};
    QString m_caption;
};

} // namespace velmaris
