#include "ui/app/Theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace velmaris {

namespace {

const char commonSheet[] =
    "QToolButton { padding: 4px 8px; border-radius: 3px; border: none; background: transparent; }"
    "QToolButton::menu-button { border: none; background: transparent; width: 14px; }"
    "QToolButton::menu-indicator { subcontrol-position: right center; subcontrol-origin: padding; }"
    "QMenu { font-size: 13px; }"
    "QMenu::item { padding: 9px 34px 9px 12px; icon-size: 36px 36px; }"
    "QMenu::item:selected { background-color: #3f6fb0; color: #ffffff; }";

const char darkSheet[] =
    "QToolBar { background: #2d2d30; border: none; spacing: 4px; padding: 3px; }"
    "QToolButton:hover { background: #45454a; }"
    "QToolButton:checked { background: #3377bb; color: white; }"
    "QToolButton::menu-button:hover { background: #45454a; }"
    "QHeaderView::section { background: #3a3a3e; padding: 4px; border: none;  border-bottom: 1px solid #222; }"
    "QTableWidget { gridline-color: #3a3a3e; selection-background-color: #3377bb; }"
    "QStatusBar { background: #2d2d30; }"
    "QListWidget { background: #1e1e20; border: none; }"
    "QListWidget::item:selected { background: #3377bb; border-radius: 4px; }";

const char lightSheet[] =
    "QToolBar { background: #e4e4e7; border: none; spacing: 4px; padding: 3px; }"
    "QToolButton:hover { background: #d0d0d4; }"
    "QToolButton:checked { background: #3377bb; color: white; }"
    "QToolButton::menu-button:hover { background: #d0d0d4; }"
    "QHeaderView::section { background: #e8e8ea; padding: 4px; border: none;  border-bottom: 1px solid #ccc; color: #222; }"
    "QTableWidget { gridline-color: #ddd; selection-background-color: #3377bb; }"
    "QStatusBar { background: #e4e4e7; }"
    "QListWidget { background: #ffffff; border: none; }"
    "QListWidget::item:selected { background: #3377bb; border-radius: 4px; color: white; }";

struct Colours
{
    QColor window, windowText, base, alternateBase, toolTipBase, toolTipText, text, button,
        buttonText, link, placeholder, disabledText;
};

QPalette paletteFrom(const Colours &c)
{
    QPalette p;
    p.setColor(QPalette::Window, c.window);
    p.setColor(QPalette::WindowText, c.windowText);
    p.setColor(QPalette::Base, c.base);
    p.setColor(QPalette::AlternateBase, c.alternateBase);
    p.setColor(QPalette::ToolTipBase, c.toolTipBase);
    p.setColor(QPalette::ToolTipText, c.toolTipText);
    p.setColor(QPalette::Text, c.text);
    p.setColor(QPalette::Button, c.button);
    p.setColor(QPalette::ButtonText, c.buttonText);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, c.link);
    p.setColor(QPalette::Highlight, QColor(51, 119, 187));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, c.placeholder);
    p.setColor(QPalette::Disabled, QPalette::Text, c.disabledText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, c.disabledText);
    return p;
}

} // namespace

void applyTheme(QApplication &app, bool dark)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (dark) {
        app.setPalette(paletteFrom({{45, 45, 48}, {220, 220, 220}, {30, 30, 32}, {45, 45, 48},
                                    {45, 45, 48}, {220, 220, 220}, {220, 220, 220}, {58, 58, 62},
                                    {220, 220, 220}, {90, 160, 220}, {140, 140, 140}, {120, 120, 120}}));
    } else {
        app.setPalette(paletteFrom({{240, 240, 242}, {20, 20, 20}, {255, 255, 255}, {245, 245, 247},
                                    {255, 255, 225}, {20, 20, 20}, {20, 20, 20}, {230, 230, 232},
                                    {20, 20, 20}, {30, 100, 180}, {130, 130, 130}, {160, 160, 160}}));
    }
    app.setStyleSheet(QLatin1String(commonSheet) + QLatin1String(dark ? darkSheet : lightSheet));
}

} // namespace velmaris
