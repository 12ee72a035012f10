#include "ui/browser/StudyFilterBar.h"

#include "ui/dialogs/ModalityFilterButton.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

namespace velmaris {

QStringList StudyFilterBar::modalityCodes()
{
    return ModalityFilterButton::modalityCodes();
}

StudyFilterBar::StudyFilterBar(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_text = new QLineEdit(this);
    m_text->setPlaceholderText(QStringLiteral("Фильтр: ФИО или ID пациента…"));
    m_text->setClearButtonEnabled(true);
    layout->addWidget(m_text, 1);

    auto *modalities = new ModalityFilterButton(this);
    connect(modalities, &ModalityFilterButton::checkedCodesChanged, this, &StudyFilterBar::filterChanged);
    m_modalities = modalities;
    layout->addWidget(m_modalities);

    m_range = new QComboBox(this);
    m_range->addItems({QStringLiteral("Любая дата"), QStringLiteral("Сегодня"), QStringLiteral("Вчера"),
                       QStringLiteral("Последние 10 дней"), QStringLiteral("Последний месяц"),
                       QStringLiteral("Точная дата"), QStringLiteral("Диапазон дат…")});
    layout->addWidget(m_range);

    for (QDateEdit **edit : {&m_first, &m_second}) {
        *edit = new QDateEdit(QDate::currentDate(), this);
        (*edit)->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        (*edit)->setCalendarPopup(true);
        layout->addWidget(*edit);
        connect(*edit, &QDateEdit::dateChanged, this, &StudyFilterBar::filterChanged);
    }
    updateDateFields();

    connect(m_text, &QLineEdit::textChanged, this, &StudyFilterBar::filterChanged);
    connect(m_range, &QComboBox::currentIndexChanged, this, [this] {
        updateDateFields();
        emit filterChanged();
    });
}

void StudyFilterBar::updateDateFields()
{
    const auto range = static_cast<db::StudyFilter::DateRange>(m_range->currentIndex());
    m_first->setVisible(range == db::StudyFilter::DateRange::ExactDate
                        || range == db::StudyFilter::DateRange::Between);
    m_second->setVisible(range == db::StudyFilter::DateRange::Between);
}

db::StudyFilter StudyFilterBar::filter() const
{
    db::StudyFilter f;
    f.text = m_text->text();
    f.modalities = static_cast<const ModalityFilterButton *>(m_modalities)->checkedCodes();
    f.range = static_cast<db::StudyFilter::DateRange>(m_range->currentIndex());
    f.first = m_first->date();
    f.second = m_second->date();
    return f;
}

} // namespace velmaris
