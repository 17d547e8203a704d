#include "plugins/device_storage/HYBViewController+StatusBar.h"

#include <map>
#include <memory>

#include "bridge/HYBViewController.h"

namespace {

struct StatusBarAnswers {
    std::optional<bool> hide;
    std::optional<ui::StatusBar::Style> style;
};

using AnswerTable = std::map<std::weak_ptr<const ns::Object>, StatusBarAnswers, std::owner_less<>>;

AnswerTable& answerTable() {
    static AnswerTable table;
    return table;
}

// The answers kept for a controller that is owned by a shared pointer; nothing otherwise.
const StatusBarAnswers* answersOf(const HYBViewController& controller) {
    std::weak_ptr<const ns::Object> key = controller.weak_from_this();
    if (key.expired()) return nullptr;
    auto it = answerTable().find(key);
    return it == answerTable().end() ? nullptr : &it->second;
}

StatusBarAnswers* mutableAnswersOf(HYBViewController& controller) {
    std::weak_ptr<const ns::Object> key = controller.weak_from_this();
    if (key.expired()) return nullptr;
    // Entries of controllers that are gone are dropped as new ones come.
    std::erase_if(answerTable(), [](const auto& entry) { return entry.first.expired(); });
    return &answerTable()[key];
}

}  // namespace

std::optional<bool> sb_hideStatusBar(const HYBViewController& controller) {
    const StatusBarAnswers* answers = answersOf(controller);
    return answers ? answers->hide : std::nullopt;
}

void setSb_hideStatusBar(HYBViewController& controller, std::optional<bool> hide) {
    if (StatusBarAnswers* answers = mutableAnswersOf(controller)) answers->hide = hide;
}

std::optional<ui::StatusBar::Style> sb_statusBarStyle(const HYBViewController& controller) {
    const StatusBarAnswers* answers = answersOf(controller);
    return answers ? answers->style : std::nullopt;
}

void setSb_statusBarStyle(HYBViewController& controller,
                          std::optional<ui::StatusBar::Style> style) {
    if (StatusBarAnswers* answers = mutableAnswersOf(controller)) answers->style = style;
}

bool prefersStatusBarHidden(const HYBViewController& controller) {
    return sb_hideStatusBar(controller).value_or(false);
}

ui::StatusBar::Style preferredStatusBarStyle(const HYBViewController& controller) {
    return sb_statusBarStyle(controller).value_or(ui::StatusBar::Style::Default);
}
