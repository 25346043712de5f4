#pragma once

#include <QKeySequence>
#include <QString>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace vistrale {

// One row of the status menu: an item or a separator. Rows are listed top to bottom in
// one table; a later feature adds its rows at their places in that table.
struct MenuRow {
    enum Kind { Item, Separator };
    Kind kind = Item;
    int tag = 0;
    QString title;
    QKeySequence key;
    bool checkable = false;
    // What choosing the item does; an item without one does nothing when chosen.
    std::function<void()> action;
    // Applied to the item every time the menu is about to open.
    std::function<void(QAction&)> refresh;
    // The rows of the item's submenu; none: a plain item.
    std::vector<MenuRow> submenu;
    // A row that shows a widget of its own (a slider, a control) instead of a title;
    // made once, when the menu is built.
    std::function<QWidget*()> view;

    static MenuRow separator()
    {
        MenuRow row;
        row.kind = Separator;
        return row;
    }
};

// Builds the menu from its table and applies every refresh rule each time it opens.
class StatusMenu {
public:
    StatusMenu(QMenu& menu, std::vector<MenuRow> rows);
    // Runs the refresh rules now (the menu does so itself before it opens).
    void refresh();
    // The item with that tag; null when there is none (tag 0 is shared by many items).
    QAction* itemWithTag(int tag) const;
    QAction* itemWithTitlePrefix(const QString& prefix) const;
    // The submenu of the item with that tag; null when there is none.
    QMenu* submenuWithTag(int tag) const;

private:
    void build(QMenu& into, const std::vector<MenuRow>& table);

    QMenu& menu;
    std::vector<MenuRow> rows;
    // Every row of the menu and its submenus, with its item, in table order.
    std::vector<std::pair<const MenuRow*, QAction*>> actions;
};

} // namespace vistrale
