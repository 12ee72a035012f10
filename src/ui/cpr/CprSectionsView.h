#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>

namespace velmaris {

// "Перпендикулярные срезы (±1 см, шаг 1 мм)": the sections across the
// centre line around the chosen point, drawn as a grid with the offset under
// each and the lumen measured at the chosen point on top.
class CprSectionsView : public QWidget
{
    Q_OBJECT
public:
    static QString title();

    explicit CprSectionsView(QWidget *parent = nullptr);

    // One picture per offset (mm); `summary` goes under the title.
    void setSections(const QList<QImage> &sections, const QList<double> &offsetsMm, const QString &summary);
    QList<QImage> sections() const { return m_sections; }
    QString summary() const { return m_summary; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<QImage> m_sections;
    QList<double> m_offsets;
    QString m_summary;
};

} // namespace velmaris
