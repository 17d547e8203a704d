#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ns/Bundle.h"
#include "platform/ns/Object.h"
#include "platform/rt/ClassRegistry.h"
#include "platform/ui/Button.h"
#include "platform/ui/NibAwaking.h"
#include "platform/ui/NibOutlets.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/View.h"

// The value a look-up answers for a key without a translation.
inline constexpr const char* kTBXLocalizerNotFound = "__TBX_NOT_FOUND__";

// Placed in an interface file beside the screen it localises: once the file is loaded it
// replaces every user-visible text that begins with "^" by the owner bundle's translation of
// the rest of the text. Texts without the marker, and keys without a translation, stay.
//
// The owner and the two further objects are held weakly and are forgotten after loading.
class NSDK_TBXUILocalizer : public ns::Object, public ui::NibAwaking, public ui::NibOutlets {
public:
    static constexpr const char* kClassName = "NSDK_TBXUILocalizer";
    // Makes the class known to interface files.
    static void registerRuntimeClass(rt::ClassRegistry& registry);

    NSDK_TBXUILocalizer() = default;
    explicit NSDK_TBXUILocalizer(std::shared_ptr<ns::Bundle> bundle) : bundle_(std::move(bundle)) {}

    std::shared_ptr<ns::Object> owner() const { return owner_.lock(); }
    void setOwner(const std::shared_ptr<ns::Object>& owner) { owner_ = owner; }
    std::shared_ptr<ns::Object> otherObjectToLocalize() const { return other_.lock(); }
    void setOtherObjectToLocalize(const std::shared_ptr<ns::Object>& o) { other_ = o; }
    std::shared_ptr<ns::Object> yetAnotherObjectToLocalize() const { return yetAnother_.lock(); }
    void setYetAnotherObjectToLocalize(const std::shared_ptr<ns::Object>& o) { yetAnother_ = o; }
    const std::shared_ptr<ns::Bundle>& bundle() const { return bundle_; }

    // With an owner: takes its bundle and localises the owner and the two further objects,
    // each recursively. Then forgets all three.
    void awakeFromNib() override;
    // "owner", "otherObjectToLocalize", "yetAnotherObjectToLocalize".
    bool setOutlet(std::string_view name, const std::shared_ptr<ns::Object>& value) override;

    // Nothing for no owner; the owner's interface-file bundle when it is a view controller
    // that has one; else the main bundle.
    static std::shared_ptr<ns::Bundle> bundleForOwner(const std::shared_ptr<ns::Object>& owner);

    // The translation of a "^KEY" text; nothing without a bundle, the marker or a translation.
    std::optional<std::string> localizedStringForString(std::string_view string) const;

    // A view controller's view, a toolbar's items, a segmented control's segments, any other
    // view as a view; other objects are left alone.
    void localizeObject(const std::shared_ptr<ns::Object>& object, bool recursively);
    void localizeToolbar(ui::Toolbar& toolbar);
    void localizeSegmentedControl(ui::SegmentedControl& control);
    // Accessibility texts, then the subviews (when recursive), then a button's titles, then
    // the view's text and placeholder.
    void localizeView(const std::shared_ptr<ui::View>& view, bool recursively);
    void localizeAccessibility(ns::Object& object);
    void localizeButton(ui::Button& button);

private:
    // Sets the translation back when there is one.
    template <class Get, class Set>
    void localizeText(Get get, Set set) {
        auto current = get();
        if (!current) return;
        if (auto translated = localizedStringForString(*current)) set(std::move(*translated));
    }

    std::weak_ptr<ns::Object> owner_;
    std::weak_ptr<ns::Object> other_;
    std::weak_ptr<ns::Object> yetAnother_;
    std::shared_ptr<ns::Bundle> bundle_;
};
