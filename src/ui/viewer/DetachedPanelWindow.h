#pragma once

#include <QWidget>

namespace velmaris {

class ImageViewportWidget;

// A panel moved out of the viewer's grid into a window of its own, for a
// second screen. Closing the window hands the panel back to its cell.
class DetachedPanelWindow : public QWidget
{
    Q_OBJECT
public:
    DetachedPanelWindow(ImageViewportWidget *panel, QWidget *parent);

    ImageViewportWidget *panel() const { return m_panel; }
    // Gives the panel up (to be put back into the grid) without asking.
    ImageViewportWidget *takePanel();

signals:
    void reattachRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    ImageViewportWidget *m_panel = nullptr;
};

} // namespace velmaris
