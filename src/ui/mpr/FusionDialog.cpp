#include "ui/mpr/FusionDialog.h"

#include "ui/viewer/ImageViewportWidget.h"
#include "viewer/FusionComposer.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/SharedVolumes.h"
#include "volume/VolumeBuilder.h"
#include "volume/VolumeVoxelGrid.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

namespace velmaris {

FusionDialog::FusionDialog(ImageViewportWidget *panel, const QList<Series> &candidates, QWidget *parent)
    : QDialog(parent)
    , m_panel(panel)
    , m_candidates(candidates)
    , m_series(new QComboBox(this))
    , m_colourMap(new QComboBox(this))
    , m_centre(new QDoubleSpinBox(this))
    , m_width(new QDoubleSpinBox(this))
    , m_opacity(new QSlider(Qt::Horizontal, this))
    , m_opacityLabel(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Fusion"));
    setAttribute(Qt::WA_DeleteOnClose);
    for (const Series &series : candidates)
        m_series->addItem(series.label);
    m_colourMap->addItems({QStringLiteral("Hot"), QStringLiteral("Jet"), QStringLiteral("Серая")});
    for (QDoubleSpinBox *box : {m_centre, m_width}) {
        box->setRange(-100000.0, 100000.0);
        box->setDecimals(0);
        box->setSingleStep(10.0);
    }
    m_opacity->setRange(0, 100);
    m_opacity->setValue(50);
    m_opacityLabel->setText(QStringLiteral("Прозрачность наложения: %1%").arg(m_opacity->value()));

    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Серия:"), m_series);
    form->addRow(QStringLiteral("Цвет:"), m_colourMap);
    form->addRow(QStringLiteral("Центр окна:"), m_centre);
    form->addRow(QStringLiteral("Ширина окна:"), m_width);
    form->addRow(m_opacityLabel);
    form->addRow(m_opacity);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *remove = buttons->addButton(QStringLiteral("Убрать наложение"), QDialogButtonBox::ResetRole);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(remove, &QPushButton::clicked, this, [this] {
        ++m_request;
        m_volume.reset();
        if (m_panel)
            m_panel->setFusionLayer(std::nullopt);
    });

    connect(m_series, &QComboBox::currentIndexChanged, this, &FusionDialog::buildChosen);
    connect(m_colourMap, &QComboBox::currentIndexChanged, this, &FusionDialog::apply);
    connect(m_centre, &QDoubleSpinBox::valueChanged, this, &FusionDialog::apply);
    connect(m_width, &QDoubleSpinBox::valueChanged, this, &FusionDialog::apply);
    connect(m_opacity, &QSlider::valueChanged, this, [this](int value) {
        m_opacityLabel->setText(QStringLiteral("Прозрачность наложения: %1%").arg(value));
        apply();
    });
    if (!candidates.isEmpty())
        buildChosen();
}

void FusionDialog::buildChosen()
{
    const int index = m_series->currentIndex();
    if (index < 0 || index >= m_candidates.size())
        return;
    const QList<render::VolumeSlice> slices =
        render::seriesVolumeSlices(m_candidates.at(index).slices, render::SliceOrientationUse::Keep);
    const int request = ++m_request;
    render::SharedVolumes::instance()->acquire(
        render::SharedVolumes::keyFor(slices, render::planeHintFromText(m_candidates.at(index).description)), slices,
        render::planeHintFromText(m_candidates.at(index).description), this,
        [this, request](const render::SharedVolumes::Handle &volume, const QString &message) {
            if (request != m_request)
                return;
            if (!volume || !volume->hasPatientGeometry) {
                const QString reason = volume ? QStringLiteral("у серии нет пространственных координат") : message;
                QMessageBox::warning(this, QStringLiteral("Fusion"),
                                     QStringLiteral("Не удалось построить объём серии: %1").arg(reason));
                emit failed(reason);
                return;
            }
            m_volume = volume;
            // The layer's own range as its first window.
            const QSignalBlocker centreBlocker(m_centre);
            const QSignalBlocker widthBlocker(m_width);
            m_centre->setValue((volume->maxValue + volume->minValue) / 2.0);
            m_width->setValue(std::max(volume->maxValue - volume->minValue, 1.0));
            apply();
            emit applied();
        });
}

void FusionDialog::apply()
{
    if (!m_volume || !m_panel)
        return;
    render::FusionLayer layer;
    layer.grid = render::voxelGridOf(*m_volume);
    layer.window = {m_centre->value(), m_width->value()};
    layer.colourMap = m_colourMap->currentIndex();
    layer.opacity = m_opacity->value() / 100.0;
    m_panel->setFusionLayer(layer, m_volume);
}

} // namespace velmaris
