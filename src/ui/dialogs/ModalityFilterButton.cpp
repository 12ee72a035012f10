#include "ui/dialogs/ModalityFilterButton.h"

#include <QMenu>

namespace velmaris {

QStringList ModalityFilterButton::modalityCodes()
{
    return {QStringLiteral("CT"), QStringLiteral("MR"), QStringLiteral("CR"), QStringLiteral("DX"),
            QStringLiteral("US"), QStringLiteral("MG"), QStringLiteral("XA"), QStringLiteral("RF"),
            QStringLiteral("NM"), QStringLiteral("PT"), QStringLiteral("SR"), QStringLiteral("OT")};
}

ModalityFilterButton::ModalityFilterButton(QWidget *parent) : QToolButton(parent)
{
    setText(QStringLiteral("Модальность"));
    setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(this);
    for (const QString &code : modalityCodes()) {
        QAction *action = menu->addAction(code);
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this] {
            const QStringList codes = checkedCodes();
            setText(codes.isEmpty() ? QStringLiteral("Модальность") : codes.join(QLatin1Char(',')));
            emit checkedCodesChanged();
        });
    }
    setMenu(menu);
}

QStringList ModalityFilterButton::checkedCodes() const
{
    QStringList codes;
    for (QAction *action : menu()->actions()) {
        if (action->isChecked())
            codes << action->text();
    }
    return codes;
}

void ModalityFilterButton::setCheckedCodes(const QStringList &codes)
{
    for (QAction *action : menu()->actions())
        action->setChecked(codes.contains(action->text()));
}

} // namespace velmaris
