#include "ui/viewer/CommentInputDialog.h"

#include "viewer/MeasurementLabels.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmaris {

namespace {
constexpr int quickLabelsPerRow = 4;
constexpr int minimumDialogWidth = 360;
} // namespace

CommentInputDialog::CommentInputDialog(const QString &title, const QString &text, QWidget *parent)
    : QDialog(parent)
    , m_field(new QLineEdit(text, this))
{
    setWindowTitle(title);
    setMinimumWidth(minimumDialogWidth);
    m_field->setPlaceholderText(tr("Комментарий"));
    m_field->selectAll();

    auto *quickLabels = new QGridLayout;
    const QStringList &labels = render::quickCommentLabels();
    for (int i = 0; i < labels.size(); ++i) {
        auto *button = new QPushButton(labels.at(i), this);
        // Only OK reacts to Return; a quick label never closes the dialog.
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, label = labels.at(i)] { onQuickLabelClicked(label); });
        quickLabels->addWidget(button, i / quickLabelsPerRow, i % quickLabelsPerRow);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_field, &QLineEdit::returnPressed, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_field);
    layout->addLayout(quickLabels);
    layout->addWidget(buttons);
    m_field->setFocus();
}

QString CommentInputDialog::text() const
{
    return m_field->text();
}

void CommentInputDialog::onQuickLabelClicked(const QString &label)
{
    m_field->setText(label);
    m_field->selectAll();
}

} // namespace velmaris
