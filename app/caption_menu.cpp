// The "Closed Captions" submenu: the recognition languages, the custom words and the
// number of caption lines. The captions themselves are captions/captions.h.

#include "app/app_delegate.h"
#include "app/settings/settings.h"
#include "app/settings/settings_keys.h"
#include "captions/captions.h"

#include <QAction>
#include <QMenu>

namespace vistrale {
namespace {

// Marks the language items, which are made anew from the recogniser's list.
constexpr const char* LOCALE_PROPERTY = "locale";

} // namespace

std::vector<MenuRow> AppDelegate::captionMenuRows()
{
    std::vector<MenuRow> rows;
    MenuRow onDevice{MenuRow::Item, 0, tr("On Device"), {}, false, {}, [](QAction& item) { item.setEnabled(false); }};
    rows.push_back(std::move(onDevice));
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, 0, tr("Online"), {}, false, {}, [](QAction& item) { item.setEnabled(false); }});
    rows.push_back(MenuRow::separator());
    rows.push_back({MenuRow::Item, 0, tr("Edit Custom Words..."), {}, false, [this] { customWords(); }, {}});
    MenuRow lines{MenuRow::Item, 0, tr("Number of lines"), {}, false, {}, {}};
    for (int n = 1; n <= 3; ++n)
        lines.submenu.push_back({MenuRow::Item, 0, QString::number(n), {}, true, [this, n] { lineNumbers(n); },
            [this, n](QAction& item) { item.setChecked(settings.integer(keys::SPEECH_LINES) == n); }});
    rows.push_back(std::move(lines));
    return rows;
}

void AppDelegate::buildCaptionLanguages()
{
    QMenu* submenu = menuTable ? menuTable->submenuWithTag(CC_MENU_TAG) : nullptr;
    if (!submenu || !controller || !controller->captions())
        return;
    for (QAction* item : submenu->actions())
        if (item->property(LOCALE_PROPERTY).isValid()) {
            submenu->removeAction(item);
            item->deleteLater();
        }
    const QList<QAction*> fixed = submenu->actions();
    // Each group follows its heading: "On Device" first, "Online" after the first
    // separator.
    QAction* onlineSeparator = fixed.size() > 1 ? fixed[1] : nullptr;
    QAction* afterOnline = fixed.size() > 3 ? fixed[3] : nullptr;
    auto add = [&](QAction* before, const QString& title, const QString& identifier) {
        auto* item = new QAction(title, submenu);
        item->setProperty(LOCALE_PROPERTY, identifier);
        if (identifier.isEmpty()) {
            item->setEnabled(false);
        } else {
            item->setCheckable(true);
            connect(item, &QAction::triggered, item, [this, identifier] { selectLocale(identifier); });
        }
        submenu->insertAction(before, item);
    };
    bool anyOnDevice = false;
    for (const SpeechLanguage& language : controller->captions()->supportedLanguages()) {
        add(language.onDevice ? onlineSeparator : afterOnline, language.name, language.identifier);
        anyOnDevice = anyOnDevice || language.onDevice;
    }
    if (!anyOnDevice)
        add(onlineSeparator, tr("No language installed"), QString());
    checkCurrentLanguage();
    if (!submenu->property(LOCALE_PROPERTY).isValid()) {
        submenu->setProperty(LOCALE_PROPERTY, true);
        connect(submenu, &QMenu::aboutToShow, submenu, [this] { checkCurrentLanguage(); });
    }
}

void AppDelegate::checkCurrentLanguage()
{
    QMenu* submenu = menuTable ? menuTable->submenuWithTag(CC_MENU_TAG) : nullptr;
    if (!submenu || !controller || !controller->captions())
        return;
    const QString current = controller->captions()->currentLanguage();
    for (QAction* item : submenu->actions())
        if (item->isCheckable())
            item->setChecked(item->property(LOCALE_PROPERTY).toString() == current);
}

void AppDelegate::selectLocale(const QString& identifier)
{
    if (!controller || !controller->captions())
        return;
    controller->captions()->selectLocale(identifier);
    checkCurrentLanguage();
}

void AppDelegate::customWords()
{
    if (!controller || !controller->captions())
        return;
    controller->dialogShown = true;
    controller->captions()->customWords();
    controller->dialogShown = false;
}

void AppDelegate::lineNumbers(int n)
{
    if (controller && controller->captions())
        controller->captions()->setSpeechLines(n);
}

} // namespace vistrale
