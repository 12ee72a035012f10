#include "ui/dialogs/HotkeyDialog.h"

#include "app/HotkeyRegistry.h"
#include "ui/dialogs/SingleKeySequenceEdit.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequenceEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace velmaris {

namespace {

constexpr int labelColumn = 0;
constexpr int keyColumn = 1;

} // namespace

HotkeyDialog::HotkeyDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Горячие клавиши"));
    setModal(true);
    resize(520, 420);

    const QList<HotkeyEntry> entries = HotkeyRegistry::availableEntries();
    m_table = new QTableWidget(static_cast<int>(entries.size()), 2, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Действие"), QStringLiteral("Клавиша")});
    m_table->horizontalHeader()->setSectionResizeMode(labelColumn, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(keyColumn, QHeaderView::ResizeToContents);
    m_table->verticalHeader()->hide();
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    for (int row = 0; row < entries.size(); ++row) {
        auto *label = new QTableWidgetItem(entries[row].label);
        label->setFlags(Qt::ItemIsEnabled);
        m_table->setItem(row, labelColumn, label);
        m_table->setCellWidget(row, keyColumn,
                               new SingleKeySequenceEdit(HotkeyRegistry::shortcut(entries[row].id), m_table));
    }

    auto *resetAll = new QPushButton(QStringLiteral("Сбросить всё к умолчаниям"), this);
    auto *save = new QPushButton(QStringLiteral("Сохранить"), this);
    auto *cancel = new QPushButton(QStringLiteral("Отмена"), this);
    save->setDefault(true);
    connect(resetAll, &QPushButton::clicked, this, &HotkeyDialog::onResetAllClicked);
    connect(save, &QPushButton::clicked, this, &HotkeyDialog::onSaveClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(resetAll);
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
}

void HotkeyDialog::onResetAllClicked()
{
    // Takes effect in the store at once, without "Сохранить": the user asked
    // for the defaults, and cancelling afterwards should not bring back
    // bindings they just threw away.
    const QList<HotkeyEntry> entries = HotkeyRegistry::availableEntries();
    for (int row = 0; row < entries.size(); ++row) {
        HotkeyRegistry::reset(entries[row].id);
        if (auto *editor = qobject_cast<QKeySequenceEdit *>(m_table->cellWidget(row, keyColumn)))
            editor->setKeySequence(entries[row].defaultSequence);
    }
}

void HotkeyDialog::onSaveClicked()
{
    const QList<HotkeyEntry> entries = HotkeyRegistry::availableEntries();
    for (int row = 0; row < entries.size(); ++row) {
        if (auto *editor = qobject_cast<QKeySequenceEdit *>(m_table->cellWidget(row, keyColumn)))
            HotkeyRegistry::store(entries[row].id, editor->keySequence());
    }
    QMessageBox::information(this, QStringLiteral("Горячие клавиши"),
                             QStringLiteral("Сохранено. Изменения применятся к новым открываемым окнам — уже "
                                            "открытые окна нужно закрыть и открыть заново."));
    accept();
}

} // namespace velmaris
