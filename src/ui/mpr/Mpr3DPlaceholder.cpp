#include "ui/mpr/Mpr3DPlaceholder.h"

#include <QLabel>
#include <QVBoxLayout>

namespace velmaris {

namespace {

QString unavailableText()
{
    return QStringLiteral("3D-вид пока недоступен в этом окне:\nобъёмный рендеринг ещё не подключён.");
}

} // namespace

Mpr3DPlaceholder::Mpr3DPlaceholder(QWidget *parent) : QWidget(parent), m_label(new QLabel(unavailableText(), this))
{
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(0x1a, 0x1a, 0x1a));
    setPalette(palette);
    setMinimumSize(80, 80);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    m_label->setStyleSheet(QStringLiteral("color: #888; background: transparent;"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
}

void Mpr3DPlaceholder::setVolume(const render::Volume *volume)
{
    if (volume == nullptr || !volume->isValid()) {
        m_label->setText(unavailableText());
        return;
    }
    m_label->setText(unavailableText()
                     + QStringLiteral("\n\nОбъём %1×%2×%3 готов.")
                           .arg(volume->width)
                           .arg(volume->height)
                           .arg(volume->depth));
}

QString Mpr3DPlaceholder::text() const
{
    return m_label->text();
}

} // namespace velmaris
