#pragma once

#include <QKeySequence>
#include <QString>
#include <functional>
#include <vector>

class QAction;
class QMenu;

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

private:
    QMenu& menu;
    std::vector<MenuRow> rows;
    std::vector<QAction*> actions;
};

} // namespace vistrale
