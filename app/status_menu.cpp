#include "app/status_menu.h"

#include "app/settings/shortcut.h"

#include <QMenu>
#include <QWidgetAction>

namespace vistrale {

StatusMenu::StatusMenu(QMenu& menu, std::vector<MenuRow> table)
    : menu(menu)
    , rows(std::move(table))
{
    build(menu, rows);
    QObject::connect(&menu, &QMenu::aboutToShow, &menu, [this] { refresh(); });
}

void StatusMenu::build(QMenu& into, const std::vector<MenuRow>& table)
{
    // Items of features that are not present leave neighbouring separators behind.
    into.setSeparatorsCollapsible(true);
    for (const MenuRow& row : table) {
        if (row.kind == MenuRow::Separator) {
            actions.emplace_back(&row, into.addSeparator());
            continue;
        }
        QAction* action = nullptr;
        if (row.view) {
            auto* holder = new QWidgetAction(&into);
            holder->setDefaultWidget(row.view());
            into.addAction(holder);
            action = holder;
        } else if (!row.submenu.empty()) {
            QMenu* submenu = into.addMenu(row.title);
            action = submenu->menuAction();
            build(*submenu, row.submenu);
        } else {
            action = into.addAction(row.title);
        }
        action->setData(row.tag);
        // The key equivalent is shown, not bound: the global hot keys act on it, and the
        // desktop's key names are used rather than Qt's ("Super", not "Meta").
        if (!row.key.isEmpty())
            action->setText(row.title + QLatin1Char('\t') + keyCombinationText(row.key));
        action->setCheckable(row.checkable);
        if (row.action)
            QObject::connect(action, &QAction::triggered, action, [action = row.action] { action(); });
        actions.emplace_back(&row, action);
    }
}

void StatusMenu::refresh()
{
    for (const auto& [row, action] : actions)
        if (row->refresh)
            row->refresh(*action);
}

QAction* StatusMenu::itemWithTag(int tag) const
{
    if (tag == 0)
        return nullptr;
    for (const auto& [row, action] : actions)
        if (!action->isSeparator() && action->data().toInt() == tag)
            return action;
    return nullptr;
}

QAction* StatusMenu::itemWithTitlePrefix(const QString& prefix) const
{
    for (const auto& [row, action] : actions)
        if (!action->isSeparator() && action->text().startsWith(prefix))
            return action;
    return nullptr;
}

QMenu* StatusMenu::submenuWithTag(int tag) const
{
    QAction* item = itemWithTag(tag);
    return item ? item->menu() : nullptr;
}

} // namespace vistrale
