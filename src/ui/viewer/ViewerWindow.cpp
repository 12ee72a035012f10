#include "ui/viewer/ViewerWindow.h"

#include <QListWidget>

namespace velmaris {

ViewerWindow::ViewerWindow(const QString &studyUid, bool portable, QWidget *parent)
    : QMainWindow(parent), m_studyUid(studyUid)
{
    setWindowTitle(portable ? QStringLiteral("Velmaris — портативный просмотр")
                            : QStringLiteral("Velmaris — просмотр"));
    resize(1000, 700);
    m_series = new QListWidget(this);
    setCentralWidget(m_series);
}

void ViewerWindow::showSeries(const QString &seriesUid, const QList<db::SliceRef> &slices)
{
    QListWidgetItem *item = nullptr;
    for (int i = 0; i < m_series->count(); ++i) {
        if (m_series->item(i)->data(Qt::UserRole).toString() == seriesUid)
            item = m_series->item(i);
    }
    if (item == nullptr) {
        item = new QListWidgetItem(m_series);
        item->setData(Qt::UserRole, seriesUid);
    }
    item->setData(Qt::UserRole + 1, static_cast<int>(slices.size()));
    item->setText(QStringLiteral("Серия %1: срезов %2").arg(seriesUid).arg(slices.size()));
}

int ViewerWindow::seriesCount() const
{
    return m_series->count();
}

int ViewerWindow::frameCount(const QString &seriesUid) const
{
    for (int i = 0; i < m_series->count(); ++i) {
        if (m_series->item(i)->data(Qt::UserRole).toString() == seriesUid)
            return m_series->item(i)->data(Qt::UserRole + 1).toInt();
    }
    return 0;
}

} // namespace velmaris
