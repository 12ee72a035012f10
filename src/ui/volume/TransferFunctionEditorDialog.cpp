#include "ui/volume/TransferFunctionEditorDialog.h"

#include "ui/volume/TransferFunctionEditorWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmaris {

TransferFunctionEditorDialog::TransferFunctionEditorDialog(const render::TransferFunctionPreset &preset, double huMin,
                                                           double huMax, QWidget *parent)
    : QDialog(parent), m_original(preset)
{
    setWindowTitle(QStringLiteral("Редактор кривой прозрачности"));
    auto *layout = new QVBoxLayout(this);
    auto *hint = new QLabel(QStringLiteral("Перетаскивайте узлы (цвет/непрозрачность). Ctrl+клик по кривой — добавить "
                                           "точку, Ctrl+клик по узлу — удалить, двойной клик по узлу — цвет."),
                            this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    m_editor = new TransferFunctionEditorWidget(this);
    m_editor->setHuRange(huMin, huMax);
    m_editor->setPreset(preset);
    layout->addWidget(m_editor, 1);
    connect(m_editor, &TransferFunctionEditorWidget::presetChangedDraft, this,
            &TransferFunctionEditorDialog::presetChangedDraft);
    connect(m_editor, &TransferFunctionEditorWidget::presetChangedFinal, this,
            &TransferFunctionEditorDialog::presetChangedFinal);

    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(new QLabel(QStringLiteral("Имя пресета:"), this));
    m_name = new QLineEdit(preset.name, this);
    saveRow->addWidget(m_name, 1);
    auto *save = new QPushButton(QStringLiteral("Сохранить как пресет"), this);
    saveRow->addWidget(save);
    layout->addLayout(saveRow);
    connect(save, &QPushButton::clicked, this, [this] { emit saveAsPresetRequested(this->preset()); });

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *done = new QPushButton(QStringLiteral("Готово"), this);
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), this);
    done->setDefault(true);
    buttons->addWidget(done);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(done, &QPushButton::clicked, this, [this] {
        emit presetChangedFinal(m_editor->preset());
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &TransferFunctionEditorDialog::reject);
}

render::TransferFunctionPreset TransferFunctionEditorDialog::preset() const
{
    render::TransferFunctionPreset edited = m_editor->preset();
    const QString name = m_name->text().trimmed();
    edited.name = name.isEmpty() ? QStringLiteral("Без имени") : name;
    return edited;
}

void TransferFunctionEditorDialog::reject()
{
    m_editor->setPreset(m_original);
    emit presetChangedFinal(m_original);
    QDialog::reject();
}

} // namespace velmaris
