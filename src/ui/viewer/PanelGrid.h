#pragma once

#include <QList>
#include <QWidget>

#include <array>

class QGridLayout;
class QStackedWidget;

namespace velmaris {

class DetachedPanelWindow;
class ImageViewportWidget;

// The viewer's image panels: up to 3 × 3 cells, one of them active, each of
// which can move out into a window of its own and back. A cell that leaves
// the grid keeps its panel (and what it shows) for when the grid grows again.
class PanelGrid : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maxSide = 3;

    explicit PanelGrid(QWidget *parent);

    int rows() const { return m_rows; }
    int columns() const { return m_columns; }
    // Sizes are clamped to 1 … 3. Cells that leave the grid hand their
    // detached windows back first; the active panel keeps its place when it
    // stays, the first panel becomes active otherwise.
    void setGrid(int rows, int columns);

    // The grid's panels in row-major order (detached ones included).
    QList<ImageViewportWidget *> panels() const;
    // Every panel made so far, also those of cells outside the grid now.
    QList<ImageViewportWidget *> allPanels() const;
    int indexOf(const ImageViewportWidget *panel) const;
    ImageViewportWidget *panelAt(int index) const;
    ImageViewportWidget *activePanel() const;
    void setActiveIndex(int index);

    bool isDetached(int index) const;
    DetachedPanelWindow *detachedWindow(int index) const;
    void toggleDetach(int index);
    // Puts every detached panel back and closes the windows (the viewer closes).
    void reattachAll();

signals:
    // A new panel, before it is shown, for its owner to wire and set up.
    void panelCreated(ImageViewportWidget *panel);
    void activePanelChanged(ImageViewportWidget *panel);

private:
    struct Cell
    {
        QStackedWidget *stack = nullptr;
        ImageViewportWidget *panel = nullptr;
        QWidget *placeholder = nullptr;
        DetachedPanelWindow *detached = nullptr;
    };

    Cell &ensureCell(int row, int column);
    Cell *cellAt(int index);
    const Cell *cellAt(int index) const;
    void relayout();
    void reattach(int cellIndex);

    QGridLayout *m_layout = nullptr;
    std::array<Cell, maxSide * maxSide> m_cells; // by row × 3 + column
    int m_rows = 0;
    int m_columns = 0;
    int m_activeCell = 0;
};

} // namespace velmaris
