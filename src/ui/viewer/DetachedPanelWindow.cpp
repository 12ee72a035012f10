#include "ui/viewer/DetachedPanelWindow.h"

#include "ui/viewer/ImageViewportWidget.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace velmaris {

DetachedPanelWindow::DetachedPanelWindow(ImageViewportWidget *panel, QWidget *parent)
    : QWidget(parent, Qt::Window), m_panel(panel)
{
    setWindowTitle(QStringLiteral("Панель — Velmaris"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(panel);
    panel->show();
    resize(900, 800);
}

ImageViewportWidget *DetachedPanelWindow::takePanel()
{
    ImageViewportWidget *panel = m_panel;
    m_panel = nullptr;
    if (panel != nullptr)
        layout()->removeWidget(panel);
    return panel;
}

void DetachedPanelWindow::closeEvent(QCloseEvent *event)
{
    // The viewer takes the panel back before this window goes away.
    if (m_panel != nullptr)
        emit reattachRequested();
    event->accept();
}

} // namespace velmaris
