#include "ui/viewer/ViewportDecorations.h"

#include "viewer/QuickTools.h"
#include "viewer/QuickToolsNotifier.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsView>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include <algorithm>

namespace velmaris {

namespace {

// The widest line of a multi-line text.
int textWidth(const QFontMetrics &metrics, const QString &text)
{
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// Each line cut to `width` pixels with an ellipsis where it is longer.
QString elidedLines(const QFontMetrics &metrics, const QString &text, int width)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = metrics.elidedText(line, Qt::ElideRight, width);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

ViewportDecorations::ViewportDecorations(QGraphicsView *view, std::function<QString(Qt::Edge)> orientationLetter)
    : QObject(view)
    , m_view(view)
    , m_orientationLetter(std::move(orientationLetter))
    , m_message(new QLabel(view))
    , m_slider(new QSlider(Qt::Vertical, view))
{
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #ffd633; background: transparent;"));
    m_message->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_message->hide();
    for (const Qt::Edge edge : {Qt::LeftEdge, Qt::TopEdge, Qt::RightEdge, Qt::BottomEdge}) {
        auto *letter = new QLabel(view);
        letter->setStyleSheet(QStringLiteral("color: #ffd633; background: transparent; font-weight: bold;"));
        letter->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_edgeLabels.insert(edge, letter);
    }
    m_slider->setRange(0, 0);
    m_slider->setEnabled(false);

    buildControlStrip();
    for (int i = 0; i < quicktools::slotCount; ++i) {
        auto *button = new QToolButton(view);
        button->setAutoRaise(true);
        // No padding: the application style's tool-button padding would leave
        // no room for the two-letter caption.
        button->setStyleSheet(QStringLiteral(
            "QToolButton { color: #ffd633; background: rgba(0, 0, 0, 150); padding: 0px; font-size: 11px; }"));
        connect(button, &QToolButton::clicked, this, [this, i] {
            if (i < m_quickTools.size() && m_quickTools.at(i) != quicktools::emptySlot)
                emit quickToolRequested(static_cast<render::MeasurementMode>(m_quickTools.at(i)));
        });
        m_quickButtons.append(button);
    }
    connect(quicktools::Notifier::instance(), &quicktools::Notifier::changed, this,
            &ViewportDecorations::onQuickToolsChanged);
    onQuickToolsChanged();

    for (int i = 0; i < 4; ++i) {
        auto *label = new QLabel(view);
        label->setStyleSheet(QStringLiteral("color: #ffd633; background: transparent;"));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_cornerLabels.append(label);
    }
}

void ViewportDecorations::setMessage(const QString &text)
{
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

QString ViewportDecorations::message() const
{
    return m_message->text();
}

void ViewportDecorations::setCornerTexts(const QStringList &texts, bool shown)
{
    m_cornerTexts = texts;
    for (int i = 0; i < m_cornerLabels.size(); ++i)
        m_cornerLabels.at(i)->setVisible(shown && i < texts.size() && !texts.at(i).isEmpty());
    place();
}

void ViewportDecorations::place()
{
    const QRect area = m_view->viewport()->geometry();
    m_message->setGeometry(area.adjusted(8, 8, -8, -8));
    const int sliderWidth = m_slider->sizeHint().width();
    m_slider->setGeometry(area.right() - sliderWidth, area.top() + 8, sliderWidth, area.height() - 16);

    m_controlStrip->adjustSize();
    m_controlStrip->move(area.left() + 4, area.top() + 4);

    // Three quick buttons above the middle of the right edge, three below.
    constexpr int buttonSide = 26;
    constexpr int sideLabelGap = 24;
    const int buttonX = area.right() - sliderWidth - buttonSide - 4;
    const int middle = area.center().y();
    for (int i = 0; i < m_quickButtons.size(); ++i) {
        const int row = i % 3;
        const int y = i < 3 ? middle - sideLabelGap / 2 - (3 - row) * buttonSide
                            : middle + sideLabelGap / 2 + row * buttonSide;
        m_quickButtons.at(i)->setGeometry(buttonX, y, buttonSide, buttonSide);
    }

    // Corner texts: patient top left (under the strip when it is shown),
    // series top right, slice bottom left, window bottom right. When the two
    // texts of a row would run into each other, each keeps half the row and
    // its lines are cut with an ellipsis.
    const int margin = 6;
    const int right = buttonX - margin;
    const int left = area.left() + margin;
    const int top = (m_controlStrip->isHidden() ? area.top() : m_controlStrip->geometry().bottom()) + margin;
    // The middle of the top and bottom rows belongs to the orientation letters.
    int letterZone = 0;
    for (QLabel *letter : std::as_const(m_edgeLabels)) {
        letter->setText(m_orientationLetter(m_edgeLabels.key(letter)));
        letter->adjustSize();
        if (!letter->text().isEmpty())
            letterZone = std::max(letterZone, letter->width() + 2 * margin);
    }
    if (m_cornerLabels.size() == 4 && m_cornerTexts.size() == 4) {
        const int row = std::max(0, right - left);
        for (int i = 0; i < 4; ++i) {
            QLabel *label = m_cornerLabels.at(i);
            const QFontMetrics metrics = label->fontMetrics();
            const int both = textWidth(metrics, m_cornerTexts.at(i)) + textWidth(metrics, m_cornerTexts.at(i ^ 1));
            const int half = std::max(24, (row - letterZone) / 2 - margin);
            const int room = both + 2 * margin + letterZone > row ? std::min(half, row) : row;
            label->setText(elidedLines(metrics, m_cornerTexts.at(i), room));
            label->adjustSize();
        }
        m_cornerLabels.at(0)->move(left, top);
        m_cornerLabels.at(1)->move(right - m_cornerLabels.at(1)->width(), top);
        m_cornerLabels.at(2)->move(left, area.bottom() - margin - m_cornerLabels.at(2)->height());
        m_cornerLabels.at(3)->move(right - m_cornerLabels.at(3)->width(),
                                    area.bottom() - margin - m_cornerLabels.at(3)->height());
    }

    // Orientation letters in the middle of each edge of the image area; the
    // right one stands left of the quick-button column, not inside it, and
    // the top and bottom ones step aside from the corner texts.
    for (auto it = m_edgeLabels.cbegin(); it != m_edgeLabels.cend(); ++it) {
        QLabel *letter = it.value();
        const int centreX = (area.left() + right) / 2 - letter->width() / 2;
        const int centreY = middle - letter->height() / 2;
        QRect box(QPoint(), letter->size());
        switch (it.key()) {
        case Qt::LeftEdge:
            box.moveTo(left, centreY);
            break;
        case Qt::RightEdge:
            box.moveTo(right - letter->width(), centreY);
            break;
        case Qt::TopEdge:
            box.moveTo(centreX, top);
            for (int i : {0, 1}) {
                const QLabel *corner = m_cornerLabels.value(i);
                if (corner != nullptr && !corner->isHidden() && corner->geometry().intersects(box))
                    box.moveTop(corner->geometry().bottom() + 2);
            }
            break;
        case Qt::BottomEdge:
            box.moveTo(centreX, area.bottom() - margin - letter->height());
            for (int i : {2, 3}) {
                const QLabel *corner = m_cornerLabels.value(i);
                if (corner != nullptr && !corner->isHidden() && corner->geometry().intersects(box))
                    box.moveBottom(corner->geometry().top() - 2);
            }
            break;
        }
        letter->move(box.topLeft());
        letter->setVisible(!letter->text().isEmpty());
    }
}

QRect ViewportDecorations::labelArea() const
{
    // The image area left of the quick buttons and the slider.
    QRect area = m_view->viewport()->rect().adjusted(2, 2, -2, -2);
    int right = area.right();
    for (const QToolButton *button : m_quickButtons) {
        if (!button->isHidden())
            right = std::min(right, m_view->viewport()->mapFrom(m_view, button->geometry().topLeft()).x() - 4);
    }
    if (!m_slider->isHidden())
        right = std::min(right, m_view->viewport()->mapFrom(m_view, m_slider->geometry().topLeft()).x() - 4);
    area.setRight(right);
    return area;
}

void ViewportDecorations::buildControlStrip()
{
    m_controlStrip = new QWidget(m_view);
    m_controlStrip->setObjectName(QStringLiteral("controlStrip"));
    m_controlStrip->setStyleSheet(QStringLiteral(
        "#controlStrip { background: rgba(0, 0, 0, 150); } "
        "QComboBox, QDoubleSpinBox, QCheckBox { color: #ffd633; background: rgba(0, 0, 0, 150); }"));
    auto *layout = new QHBoxLayout(m_controlStrip);
    layout->setContentsMargins(4, 2, 4, 2);
    // The strip shows once the panel holds a series; printing has no use for
    // the check box yet, so it stays hidden until it has.
    m_controlStrip->hide();
    m_planeBox = new QComboBox(m_controlStrip);
    m_planeBox->addItems({QStringLiteral("2D"), QStringLiteral("AX"), QStringLiteral("SAG"), QStringLiteral("COR")});
    m_slabBox = new QComboBox(m_controlStrip);
    m_slabBox->addItems({tr("Срез"), QStringLiteral("MIP"), QStringLiteral("MinIP"), QStringLiteral("Avg")});
    m_thicknessBox = new QDoubleSpinBox(m_controlStrip);
    m_thicknessBox->setRange(0.0, 100.0);
    m_thicknessBox->setSingleStep(5.0);
    m_thicknessBox->setDecimals(0);
    m_thicknessBox->setSuffix(tr(" мм"));
    m_thicknessBox->setToolTip(tr("Толщина утолщённого среза (0 — обычный тонкий срез)"));
    // Slab controls act only on a reconstruction plane.
    m_slabBox->setEnabled(false);
    m_thicknessBox->setEnabled(false);
    connect(m_planeBox, &QComboBox::activated, this, [this](int index) {
        // Box order 2D, AX, SAG, COR; the signal carries the plane or none.
        static const int planes[] = {-1, 0, 2, 1};
        emit planeChosen(planes[index]);
    });
    const auto slab = [this] { emit slabChosen(m_slabBox->currentIndex(), m_thicknessBox->value()); };
    connect(m_slabBox, &QComboBox::activated, this, slab);
    connect(m_thicknessBox, &QDoubleSpinBox::valueChanged, this, slab);
    m_printCheck = new QCheckBox(tr("Выбрать"), m_controlStrip);
    layout->addWidget(m_planeBox);
    layout->addWidget(m_slabBox);
    layout->addWidget(m_thicknessBox);
    layout->addWidget(m_printCheck);
    m_printCheck->hide();
}

void ViewportDecorations::setReconstructionControls(bool shown, int plane)
{
    static const int boxIndex[] = {1, 3, 2}; // axial, coronal, sagittal
    m_controlStrip->setVisible(shown);
    m_planeBox->setCurrentIndex(plane < 0 ? 0 : boxIndex[plane]);
    m_slabBox->setEnabled(plane >= 0);
    m_thicknessBox->setEnabled(plane >= 0);
    place();
}

void ViewportDecorations::onQuickToolsChanged()
{
    m_quickTools = quicktools::loadQuickTools();
    for (int i = 0; i < m_quickButtons.size(); ++i) {
        QToolButton *button = m_quickButtons.at(i);
        const int tool = i < m_quickTools.size() ? m_quickTools.at(i) : quicktools::emptySlot;
        button->setVisible(tool != quicktools::emptySlot);
        if (tool == quicktools::emptySlot)
            continue;
        const QString label = render::measurementModeLabel(static_cast<render::MeasurementMode>(tool));
        button->setText(label.left(2));
        button->setToolTip(label);
    }
}

} // namespace velmaris
