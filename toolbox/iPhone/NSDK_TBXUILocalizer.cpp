#include "toolbox/iPhone/NSDK_TBXUILocalizer.h"

#include "platform/ui/Accessibility.h"
#include "platform/ui/Label.h"
#include "platform/ui/NibBundleOwner.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace {

constexpr char kMarker = '^';

}  // namespace

void NSDK_TBXUILocalizer::registerRuntimeClass(rt::ClassRegistry& registry) {
    registry.registerClass(kClassName, std::nullopt,
                           [] { return std::make_shared<NSDK_TBXUILocalizer>(); },
                           {"awakeFromNib", "localizeObject:recursively:"});
}

void NSDK_TBXUILocalizer::awakeFromNib() {
    if (auto owner = owner_.lock()) {
        bundle_ = bundleForOwner(owner);
        localizeObject(owner, true);
        localizeObject(other_.lock(), true);
        localizeObject(yetAnother_.lock(), true);
    }
    owner_.reset();
    other_.reset();
    yetAnother_.reset();
}

bool NSDK_TBXUILocalizer::setOutlet(std::string_view name,
                                    const std::shared_ptr<ns::Object>& value) {
    if (name == "owner") {
        owner_ = value;
    } else if (name == "otherObjectToLocalize") {
        other_ = value;
    } else if (name == "yetAnotherObjectToLocalize") {
        yetAnother_ = value;
    } else {
        return false;
    }
    return true;
}

std::shared_ptr<ns::Bundle> NSDK_TBXUILocalizer::bundleForOwner(
    const std::shared_ptr<ns::Object>& owner) {
    if (!owner) return nullptr;
    if (dynamic_cast<ui::ViewController*>(owner.get())) {
        if (auto* fromFile = dynamic_cast<ui::NibBundleOwner*>(owner.get())) {
            if (auto bundle = fromFile->nibBundle()) return bundle;
        }
    }
    return ns::Bundle::mainBundle();
}

std::optional<std::string> NSDK_TBXUILocalizer::localizedStringForString(
    std::string_view string) const {
    if (!bundle_ || string.empty() || string.front() != kMarker) return std::nullopt;
    std::string translated =
        bundle_->localizedStringForKey(string.substr(1), kTBXLocalizerNotFound, {});
    if (translated == kTBXLocalizerNotFound) return std::nullopt;
    return translated;
}

void NSDK_TBXUILocalizer::localizeObject(const std::shared_ptr<ns::Object>& object,
                                         bool recursively) {
    if (!object) return;
    if (auto* controller = dynamic_cast<ui::ViewController*>(object.get())) {
        localizeView(controller->view(), recursively);
    } else if (auto* toolbar = dynamic_cast<ui::Toolbar*>(object.get())) {
        localizeToolbar(*toolbar);
    } else if (auto* control = dynamic_cast<ui::SegmentedControl*>(object.get())) {
        localizeSegmentedControl(*control);
    } else if (auto view = std::dynamic_pointer_cast<ui::View>(object)) {
        localizeView(view, recursively);
    }
}

void NSDK_TBXUILocalizer::localizeToolbar(ui::Toolbar& toolbar) {
    for (const auto& item : toolbar.items()) {
        if (!item) continue;
        localizeText([&] { return item->title(); },
                     [&](std::string text) { item->setTitle(std::move(text)); });
    }
}

void NSDK_TBXUILocalizer::localizeSegmentedControl(ui::SegmentedControl& control) {
    for (size_t i = 0; i < control.numberOfSegments(); ++i) {
        localizeText([&] { return control.titleForSegmentAtIndex(i); },
                     [&](std::string text) { control.setTitle(std::move(text), i); });
    }
}

void NSDK_TBXUILocalizer::localizeView(const std::shared_ptr<ui::View>& view, bool recursively) {
    if (!view) return;
    localizeAccessibility(*view);
    if (recursively) {
        // A copy: localising must not be upset by a subview list that changes meanwhile.
        auto subviews = view->subviews();
        for (const auto& subview : subviews) localizeObject(subview, true);
    }
    if (auto* button = dynamic_cast<ui::Button*>(view.get())) localizeButton(*button);
    if (auto* label = dynamic_cast<ui::Label*>(view.get())) {
        localizeText([&] { return label->text(); },
                     [&](std::string text) { label->setText(std::move(text)); });
    }
    if (auto* field = dynamic_cast<ui::TextField*>(view.get())) {
        localizeText([&] { return std::optional<std::string>(field->text()); },
                     [&](std::string text) { field->setText(std::move(text)); });
        localizeText([&] { return field->placeholder(); },
                     [&](std::string text) { field->setPlaceholder(std::move(text)); });
    }
}

void NSDK_TBXUILocalizer::localizeAccessibility(ns::Object& object) {
    auto* element = dynamic_cast<ui::Accessibility*>(&object);
    if (!element) return;
    localizeText([&] { return element->accessibilityHint(); },
                 [&](std::string text) { element->setAccessibilityHint(std::move(text)); });
    localizeText([&] { return element->accessibilityLabel(); },
                 [&](std::string text) { element->setAccessibilityLabel(std::move(text)); });
    localizeText([&] { return element->accessibilityValue(); },
                 [&](std::string text) { element->setAccessibilityValue(std::move(text)); });
}

void NSDK_TBXUILocalizer::localizeButton(ui::Button& button) {
    for (unsigned state : {ui::Button::kControlStateNormal, ui::Button::kControlStateHighlighted,
                           ui::Button::kControlStateDisabled, ui::Button::kControlStateSelected}) {
        localizeText([&] { return button.titleForState(state); },
                     [&](std::string text) { button.setTitle(std::move(text), state); });
    }
}
