#include "app/status_menu.h"

#include <QMenu>

namespace vistrale {

StatusMenu::StatusMenu(QMenu& menu, std::vector<MenuRow> table)
    : menu(menu)
    , rows(std::move(table))
{
    // Items of features that are not present leave neighbouring separators behind.
    menu.setSeparatorsCollapsible(true);
    for (const MenuRow& row : rows) {
        if (row.kind == MenuRow::Separator) {
            actions.push_back(menu.addSeparator());
            continue;
        }
        QAction* action = menu.addAction(row.title);
        action->setData(row.tag);
        action->setShortcut(row.key);
        action->setCheckable(row.checkable);
        if (row.action)
            QObject::connect(action, &QAction::triggered, action, [action = row.action] { action(); });
        actions.push_back(action);
    }
    QObject::connect(&menu, &QMenu::aboutToShow, &menu, [this] { refresh(); });
}

void StatusMenu::refresh()
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].refresh)
            rows[i].refresh(*actions[i]);
}

QAction* StatusMenu::itemWithTag(int tag) const
{
    if (tag == 0)
        return nullptr;
    for (QAction* action : actions)
        if (!action->isSeparator() && action->data().toInt() == tag)
            return action;
    return nullptr;
}

QAction* StatusMenu::itemWithTitlePrefix(const QString& prefix) const
{
    for (QAction* action : actions)
        if (!action->isSeparator() && action->text().startsWith(prefix))
            return action;
    return nullptr;
}

} // namespace vistrale
