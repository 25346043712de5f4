// The "Closed Captions" submenu: its languages a moment after launch, the choice of
// language and of the number of lines.
#include "app/settings/settings_keys.h"
#include "captions/captions.h"
#include "tests/app/app_harness.h"

#include <QMenu>
#include <gtest/gtest.h>

using namespace vistrale;
using vistrale::test::AppHarness;

namespace {

QStringList titles(QMenu& menu)
{
    QStringList result;
    for (QAction* action : menu.actions())
        result.append(action->isSeparator() ? QString("-") : action->text() + (action->isChecked() ? " ✓" : ""));
    return result;
}

struct CaptionMenuApp : AppHarness {
    explicit CaptionMenuApp(std::vector<SpeechLanguage> languages)
    {
        fake.speech->languages = std::move(languages);
        settings->setBool(keys::ALREADY_SHOWN, true);
        settings->setText(keys::LOCALE, "en-US");
        launch();
        fake.clock->advance(2.0);
        delegate->statusMenu()->refresh();
    }
    QMenu& submenu() { return *delegate->statusMenu()->submenuWithTag(CC_MENU_TAG); }
};

} // namespace

TEST(CaptionMenu, ListsTheInstalledLanguagesUnderOnDeviceAndChecksTheCurrentOne)
{
    CaptionMenuApp app({{"en-GB", "English (United Kingdom)", true}, {"en-US", "English (United States)", true}});
    EXPECT_EQ(titles(app.submenu()),
        (QStringList{"On Device", "English (United Kingdom)", "English (United States) ✓", "-", "Online", "-",
            "Edit Custom Words...", "Number of lines"}));
    EXPECT_FALSE(app.submenu().actions()[0]->isEnabled()) << "a heading";

    app.submenu().actions()[1]->trigger();
    EXPECT_EQ(app.settings->text(keys::LOCALE).value_or(""), "en-GB");
    EXPECT_EQ(titles(app.submenu())[1], "English (United Kingdom) ✓");
    EXPECT_EQ(titles(app.submenu())[2], "English (United States)");

    QMenu* lines = app.submenu().actions()[7]->menu();
    ASSERT_NE(lines, nullptr);
    lines->actions()[0]->trigger();
    app.delegate->statusMenu()->refresh();
    EXPECT_EQ(titles(*lines), (QStringList{"1 ✓", "2", "3"}));
    EXPECT_EQ(app.delegate->vc()->captions()->speechVisibleLines, 1);
}

TEST(CaptionMenu, SaysSoWhenNoLanguageIsInstalled)
{
    CaptionMenuApp app({});
    EXPECT_EQ(titles(app.submenu()),
        (QStringList{
            "On Device", "No language installed", "-", "Online", "-", "Edit Custom Words...", "Number of lines"}));
    EXPECT_FALSE(app.submenu().actions()[1]->isEnabled());
}
