#include "ui/viewer/PanelGrid.h"

#include "ui/viewer/DetachedPanelWindow.h"
#include "ui/viewer/ImageViewportWidget.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace velmaris {

PanelGrid::PanelGrid(QWidget *parent) : QWidget(parent), m_layout(new QGridLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(2);
}

PanelGrid::Cell &PanelGrid::ensureCell(int row, int column)
{
    const int cellIndex = row * maxSide + column;
    Cell &cell = m_cells[static_cast<std::size_t>(cellIndex)];
    if (cell.panel != nullptr)
        return cell;
    cell.stack = new QStackedWidget(this);
    cell.panel = new ImageViewportWidget(cell.stack);
    cell.stack->addWidget(cell.panel);

    cell.placeholder = new QWidget(cell.stack);
    cell.placeholder->setStyleSheet(QStringLiteral("background:#1a1a1a; color:#888;"));
    auto *placeholderLayout = new QVBoxLayout(cell.placeholder);
    auto *text = new QLabel(QStringLiteral("Панель отсоединена\nна отдельный экран"), cell.placeholder);
    text->setAlignment(Qt::AlignCenter);
    auto *back = new QPushButton(QStringLiteral("Прикрепить обратно"), cell.placeholder);
    placeholderLayout->addStretch();
    placeholderLayout->addWidget(text);
    placeholderLayout->addWidget(back, 0, Qt::AlignCenter);
    placeholderLayout->addStretch();
    cell.stack->addWidget(cell.placeholder);
    connect(back, &QPushButton::clicked, this, [this, cellIndex] { reattach(cellIndex); });

    emit panelCreated(cell.panel);
    return cell;
}

void PanelGrid::relayout()
{
    for (Cell &cell : m_cells) {
        if (cell.stack != nullptr) {
            m_layout->removeWidget(cell.stack);
            cell.stack->hide();
        }
    }
    for (int row = 0; row < m_rows; ++row) {
        for (int column = 0; column < m_columns; ++column) {
            Cell &cell = ensureCell(row, column);
            m_layout->addWidget(cell.stack, row, column);
            cell.stack->show();
        }
    }
    for (int row = 0; row < maxSide; ++row) {
        m_layout->setRowStretch(row, row < m_rows ? 1 : 0);
        m_layout->setColumnStretch(row, row < m_columns ? 1 : 0);
    }
}

void PanelGrid::setGrid(int rows, int columns)
{
    rows = std::clamp(rows, 1, maxSide);
    columns = std::clamp(columns, 1, maxSide);
    const int activeRow = m_activeCell / maxSide;
    const int activeColumn = m_activeCell % maxSide;
    for (int cellIndex = 0; cellIndex < maxSide * maxSide; ++cellIndex) {
        if (cellIndex / maxSide >= rows || cellIndex % maxSide >= columns)
            reattach(cellIndex);
    }
    m_rows = rows;
    m_columns = columns;
    relayout();
    if (activeRow >= rows || activeColumn >= columns)
        setActiveIndex(0);
    else
        setActiveIndex(activeRow * columns + activeColumn);
}

QList<ImageViewportWidget *> PanelGrid::panels() const
{
    QList<ImageViewportWidget *> list;
    for (int row = 0; row < m_rows; ++row) {
        for (int column = 0; column < m_columns; ++column)
            list.append(m_cells[static_cast<std::size_t>(row * maxSide + column)].panel);
    }
    return list;
}

QList<ImageViewportWidget *> PanelGrid::allPanels() const
{
    QList<ImageViewportWidget *> list;
    for (const Cell &cell : m_cells) {
        if (cell.panel != nullptr)
            list.append(cell.panel);
    }
    return list;
}

int PanelGrid::indexOf(const ImageViewportWidget *panel) const
{
    return static_cast<int>(panels().indexOf(panel));
}

PanelGrid::Cell *PanelGrid::cellAt(int index)
{
    if (index < 0 || index >= m_rows * m_columns)
        return nullptr;
    return &m_cells[static_cast<std::size_t>((index / m_columns) * maxSide + index % m_columns)];
}

const PanelGrid::Cell *PanelGrid::cellAt(int index) const
{
    return const_cast<PanelGrid *>(this)->cellAt(index);
}

ImageViewportWidget *PanelGrid::panelAt(int index) const
{
    const Cell *cell = cellAt(index);
    return cell != nullptr ? cell->panel : nullptr;
}

ImageViewportWidget *PanelGrid::activePanel() const
{
    return m_cells[static_cast<std::size_t>(m_activeCell)].panel;
}

void PanelGrid::setActiveIndex(int index)
{
    if (index < 0 || index >= m_rows * m_columns)
        return;
    m_activeCell = (index / m_columns) * maxSide + index % m_columns;
    for (const Cell &cell : m_cells) {
        if (cell.panel != nullptr)
            cell.panel->setActive(cell.panel == activePanel());
    }
    emit activePanelChanged(activePanel());
}

bool PanelGrid::isDetached(int index) const
{
    const Cell *cell = cellAt(index);
    return cell != nullptr && cell->detached != nullptr;
}

DetachedPanelWindow *PanelGrid::detachedWindow(int index) const
{
    const Cell *cell = cellAt(index);
    return cell != nullptr ? cell->detached : nullptr;
}

void PanelGrid::toggleDetach(int index)
{
    Cell *cell = cellAt(index);
    if (cell == nullptr)
        return;
    const int cellIndex = static_cast<int>(cell - m_cells.data());
    if (cell->detached != nullptr) {
        reattach(cellIndex);
        return;
    }
    cell->stack->removeWidget(cell->panel);
    cell->detached = new DetachedPanelWindow(cell->panel, this);
    cell->detached->setWindowTitle(QStringLiteral("Панель %1 — Velmaris").arg(index + 1));
    connect(cell->detached, &DetachedPanelWindow::reattachRequested, this, [this, cellIndex] { reattach(cellIndex); });
    cell->stack->setCurrentWidget(cell->placeholder);
    cell->detached->show();
}

void PanelGrid::reattach(int cellIndex)
{
    Cell &cell = m_cells[static_cast<std::size_t>(cellIndex)];
    if (cell.detached == nullptr)
        return;
    DetachedPanelWindow *window = cell.detached;
    cell.detached = nullptr;
    ImageViewportWidget *panel = window->takePanel();
    if (panel != nullptr) {
        cell.stack->insertWidget(0, panel);
        cell.stack->setCurrentWidget(panel);
    }
    window->hide();
    window->deleteLater();
}

void PanelGrid::reattachAll()
{
    for (int cellIndex = 0; cellIndex < maxSide * maxSide; ++cellIndex) {
        DetachedPanelWindow *window = m_cells[static_cast<std::size_t>(cellIndex)].detached;
        if (window == nullptr)
            continue;
        reattach(cellIndex);
        delete window;
    }
}

} // namespace velmaris
