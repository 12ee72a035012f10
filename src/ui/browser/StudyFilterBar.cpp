#include "ui/browser/StudyFilterBar.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace velmaris {

QStringList StudyFilterBar::modalityCodes()
{
    return {QStringLiteral("CT"), QStringLiteral("MR"), QStringLiteral("CR"), QStringLiteral("DX"),
            QStringLiteral("US"), QStringLiteral("MG"), QStringLiteral("XA"), QStringLiteral("RF"),
            QStringLiteral("NM"), QStringLiteral("PT"), QStringLiteral("SR"), QStringLiteral("OT")};
}

StudyFilterBar::StudyFilterBar(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_text = new QLineEdit(this);
    m_text->setPlaceholderText(QStringLiteral("Фильтр: ФИО или ID пациента…"));
    m_text->setClearButtonEnabled(true);
    layout->addWidget(m_text, 1);

    m_modalities = new QToolButton(this);
    m_modalities->setText(QStringLiteral("Модальность"));
    m_modalities->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(m_modalities);
    for (const QString &code : modalityCodes()) {
        QAction *action = menu->addAction(code);
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this] {
            const QStringList codes = filter().modalities;
            m_modalities->setText(codes.isEmpty() ? QStringLiteral("Модальность") : codes.join(QLatin1Char(',')));
            emit filterChanged();
        });
    }
    m_modalities->setMenu(menu);
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
    for (QAction *action : m_modalities->menu()->actions()) {
        if (action->isChecked())
            f.modalities << action->text();
    }
    f.range = static_cast<db::StudyFilter::DateRange>(m_range->currentIndex());
    f.first = m_first->date();
    f.second = m_second->date();
    return f;
}

} // namespace velmaris
