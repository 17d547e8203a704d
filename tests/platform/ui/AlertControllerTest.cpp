#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ns/Exception.h"
#include "platform/ui/AlertController.h"
#include "tests/platform/ui/HeadlessUi.h"

namespace {

using ::testing::ElementsAre;

class AlertControllerTest : public uitest::HeadlessUi {
protected:
    std::vector<std::string> pressed;
    std::shared_ptr<ui::AlertController> confirmAlert() {
        auto alert = ui::AlertController::create("Title", "Sure?");
        for (const char* title : {"OK", "Cancel"}) {
            alert->addAction(ui::AlertAction::create(
                title, ui::AlertAction::Style::Default,
                [this](ui::AlertAction& a) { pressed.push_back(a.title()); }));
        }
        return alert;
    }
};

TEST_F(AlertControllerTest, PressRunsOneHandlerOnceAndDismisses) {
    auto window = show(ui::ViewController::create());
    auto root = window->rootViewController();
    auto alert = confirmAlert();
    root->presentViewController(alert, true);
    loop().runUntilIdle();
    EXPECT_EQ(ui::AlertController::topmost(), alert);
    EXPECT_EQ(root->appearance(), ui::ViewController::Appearance::Appeared)
        << "an alert leaves its presenter on screen";

    EXPECT_TRUE(alert->press("Cancel"));
    EXPECT_FALSE(alert->press("OK"));
    EXPECT_FALSE(alert->press(size_t{1}));
    loop().runUntilIdle();
    EXPECT_THAT(pressed, ElementsAre("Cancel"));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(ui::AlertController::topmost(), nullptr);
}

TEST_F(AlertControllerTest, HandlerThatDismissesAgainChangesNothing) {
    auto window = show(ui::ViewController::create());
    auto root = window->rootViewController();
    auto alert = ui::AlertController::create(std::nullopt, "Message");
    std::weak_ptr<ui::AlertController> weak = alert;
    alert->addAction(ui::AlertAction::create("OK", ui::AlertAction::Style::Default,
                                             [weak, this](ui::AlertAction&) {
                                                 pressed.push_back("OK");
                                                 if (auto a = weak.lock())
                                                     a->dismissViewController(true);
                                             }));
    root->presentViewController(alert, true);
    loop().runUntilIdle();
    auto other = ui::ViewController::create();
    alert->press(size_t{0});
    root->presentViewController(other, false);  // the alert is already gone
    loop().runUntilIdle();
    EXPECT_THAT(pressed, ElementsAre("OK"));
    EXPECT_EQ(root->presentedViewController(), other);
}

TEST_F(AlertControllerTest, DisabledButtonsDoNothingAndUnknownButtonsAreFaults) {
    auto alert = confirmAlert();
    alert->actions()[0]->setEnabled(false);
    EXPECT_FALSE(alert->press("OK"));
    EXPECT_FALSE(alert->isPressed());
    EXPECT_THROW(alert->press("Maybe"), ns::Exception);
    EXPECT_THROW(alert->press(size_t{7}), ns::Exception);
    EXPECT_TRUE(pressed.empty());
}

TEST_F(AlertControllerTest, TextFieldsBelongToAlertsOnly) {
    auto alert = confirmAlert();
    alert->addTextField([](ui::TextField& field) {
        field.setText("default");
        field.setPlaceholder("name");
    });
    ASSERT_EQ(alert->textFields().size(), 1u);
    EXPECT_EQ(alert->textFields()[0]->text(), "default");
    EXPECT_EQ(alert->textFields()[0]->placeholder(), "name");

    auto sheet = ui::AlertController::create("t", "m", ui::AlertController::Style::ActionSheet);
    EXPECT_THROW(sheet->addTextField(), ns::Exception);
}

}  // namespace
