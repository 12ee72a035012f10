#pragma once

#include "volume/TransferFunctionPreset.h"

#include <QDialog>

class QLineEdit;

namespace velmaris {

class TransferFunctionEditorWidget;

// "Редактор кривой прозрачности": edits a copy of a preset live; "Готово"
// keeps the curve, "Отмена" (or closing) hands back the preset it started with
// through presetChangedFinal.
class TransferFunctionEditorDialog : public QDialog
{
    Q_OBJECT
public:
    TransferFunctionEditorDialog(const render::TransferFunctionPreset &preset, double huMin, double huMax,
                                 QWidget *parent = nullptr);

    TransferFunctionEditorWidget *editor() const { return m_editor; }
    QLineEdit *nameEdit() const { return m_name; }
    render::TransferFunctionPreset preset() const;

public slots:
    void reject() override;

signals:
    void presetChangedDraft(const render::TransferFunctionPreset &preset);
    void presetChangedFinal(const render::TransferFunctionPreset &preset);
    // The edited curve under the typed name ("Без имени" when empty).
    void saveAsPresetRequested(const render::TransferFunctionPreset &preset);

private:
    render::TransferFunctionPreset m_original;
    TransferFunctionEditorWidget *m_editor = nullptr;
    QLineEdit *m_name = nullptr;
};

} // namespace velmaris
