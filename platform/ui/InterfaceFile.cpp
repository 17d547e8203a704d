#include "platform/ui/InterfaceFile.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/ns/FileManager.h"
#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NibAwaking.h"
#include "platform/ui/NibOutlets.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

namespace ui {

namespace {

// Thrown inside the loader only; instantiate() turns it into an error result.
struct Malformed {
    std::string reason;
};

[[noreturn]] void fail(std::string reason) {
    throw Malformed{std::move(reason)};
}

const std::string& textOf(const ns::Value& value, std::string_view key) {
    if (!value.isString()) fail(ns::format("\"%@\" must be a string", key));
    return *value.string();
}

std::shared_ptr<ns::Object> makeBuiltIn(std::string_view name) {
    if (name == "View") return std::make_shared<View>();
    if (name == "Label") return std::make_shared<Label>();
    if (name == "Button") return std::make_shared<Button>();
    if (name == "TextField") return std::make_shared<TextField>();
    if (name == "Toolbar") return std::make_shared<Toolbar>();
    if (name == "SegmentedControl") return std::make_shared<SegmentedControl>();
    if (name == "BarButtonItem") return std::make_shared<BarButtonItem>();
    return nullptr;
}

struct PendingOutlet {
    std::shared_ptr<ns::Object> source;
    std::string name;
    std::string destination;
};

// Sets a text property on objects of class T; false for objects of other classes.
template <class T, class Set>
bool setOn(ns::Object& object, Set set) {
    auto* typed = dynamic_cast<T*>(&object);
    if (!typed) return false;
    set(*typed);
    return true;
}

struct TextProperty {
    const char* key;
    bool (*set)(ns::Object& object, const std::string& text);
};

const std::vector<TextProperty>& textProperties() {
    static const std::vector<TextProperty> properties{
        {"accessibilityLabel",
         [](ns::Object& o, const std::string& t) {
             return setOn<Accessibility>(o, [&](Accessibility& a) { a.setAccessibilityLabel(t); });
         }},
        {"accessibilityHint",
         [](ns::Object& o, const std::string& t) {
             return setOn<Accessibility>(o, [&](Accessibility& a) { a.setAccessibilityHint(t); });
         }},
        {"accessibilityValue",
         [](ns::Object& o, const std::string& t) {
             return setOn<Accessibility>(o, [&](Accessibility& a) { a.setAccessibilityValue(t); });
         }},
        {"text",
         [](ns::Object& o, const std::string& t) {
             return setOn<Label>(o, [&](Label& l) { l.setText(t); }) ||
                    setOn<TextField>(o, [&](TextField& f) { f.setText(t); });
         }},
        {"placeholder",
         [](ns::Object& o, const std::string& t) {
             return setOn<TextField>(o, [&](TextField& f) { f.setPlaceholder(t); });
         }},
        {"title",
         [](ns::Object& o, const std::string& t) {
             return setOn<BarButtonItem>(o, [&](BarButtonItem& i) { i.setTitle(t); });
         }},
    };
    return properties;
}

class Loader {
public:
    Loader(const std::shared_ptr<ns::Object>& owner, const rt::ClassRegistry& registry)
        : owner_(owner), registry_(registry) {}

    InterfaceFile::Contents load(const ns::Value& root) {
        if (!root.isDictionary()) fail("the file must hold an object");
        const ns::Value* objects = root.find("objects");
        if (!objects || !objects->isArray()) fail("\"objects\" must be an array");
        for (const auto& element : *objects->array()) {
            contents_.topLevelObjects.push_back(make(element, 0));
        }
        connectOutlets();
        // Set-up may reach other objects of the file, so it starts once all of them exist.
        for (const auto& object : created_) {
            if (auto* awaking = dynamic_cast<NibAwaking*>(object.get())) awaking->awakeFromNib();
        }
        return std::move(contents_);
    }

private:
    std::shared_ptr<ns::Object> make(const ns::Value& element, size_t depth) {
        if (depth > InterfaceFile::kMaxNesting) fail("the views are nested too deeply");
        if (created_.size() >= InterfaceFile::kMaxObjects) fail("the file holds too many objects");
        if (!element.isDictionary()) fail("an element must be an object");
        const ns::Value* className = element.find("class");
        if (!className) fail("an element has no \"class\"");
        const std::string& name = textOf(*className, "class");
        std::shared_ptr<ns::Object> object = makeBuiltIn(name);
        if (!object) {
            const rt::Class* cls = registry_.classNamed(name);
            if (!cls || cls->isAbstract()) fail(ns::format("unknown class \"%@\"", name));
            object = cls->create();
            if (!object) fail(ns::format("class \"%@\" made nothing", name));
        }
        created_.push_back(object);
        for (const auto& [key, value] : *element.dictionary()) {
            if (key == "class") continue;
            apply(object, key, value, depth);
        }
        return object;
    }

    void apply(const std::shared_ptr<ns::Object>& object, const std::string& key,
               const ns::Value& value, size_t depth) {
        auto* view = dynamic_cast<View*>(object.get());
        if (key == "id") {
            const std::string& id = textOf(value, key);
            if (id == InterfaceFile::kFileOwnerPlaceholder ||
                !contents_.namedObjects.emplace(id, object).second) {
                fail(ns::format("the id \"%@\" is taken", id));
            }
        } else if (key == "outlets") {
            if (!value.isDictionary()) fail("\"outlets\" must be an object");
            for (const auto& [outlet, destination] : *value.dictionary()) {
                pending_.push_back({object, outlet, textOf(destination, outlet)});
            }
        } else if (key == "frame" && view) {
            view->setFrame(frameOf(value));
        } else if (key == "tag" && view) {
            if (!value.isInteger() || !value.int64()) fail("\"tag\" must be an integer");
            view->setTag(*value.int64());
        } else if (key == "hidden" && view) {
            if (!value.isBool()) fail("\"hidden\" must be a boolean");
            view->setHidden(*value.boolean());
        } else if (key == "subviews" && view) {
            for (const auto& child : elements(value, key)) {
                auto made = make(child, depth + 1);
                auto subview = std::dynamic_pointer_cast<View>(made);
                if (!subview) fail("a subview must be a view");
                view->addSubview(subview);
            }
        } else if (!applyText(object, key, value, depth)) {
            fail(ns::format("\"%@\" does not apply here", key));
        }
    }

    // The keys that carry texts and items; false for a key that does not apply.
    bool applyText(const std::shared_ptr<ns::Object>& object, const std::string& key,
                   const ns::Value& value, size_t depth) {
        for (const auto& property : textProperties()) {
            if (key == property.key && property.set(*object, textOf(value, key))) return true;
        }
        if (auto* button = dynamic_cast<Button*>(object.get()); button && key == "titles") {
            if (!value.isDictionary()) fail("\"titles\" must be an object");
            for (const auto& [state, title] : *value.dictionary()) {
                button->setTitle(textOf(title, state), controlState(state));
            }
            return true;
        }
        if (auto* control = dynamic_cast<SegmentedControl*>(object.get());
            control && key == "segments") {
            if (!value.isArray()) fail("\"segments\" must be an array");
            for (const auto& title : *value.array()) {
                control->insertSegmentWithTitle(textOf(title, key), control->numberOfSegments());
            }
            return true;
        }
        if (auto* toolbar = dynamic_cast<Toolbar*>(object.get()); toolbar && key == "items") {
            std::vector<std::shared_ptr<BarButtonItem>> items;
            for (const auto& child : elements(value, key)) {
                auto item = std::dynamic_pointer_cast<BarButtonItem>(make(child, depth + 1));
                if (!item) fail("a toolbar item must be a BarButtonItem");
                items.push_back(std::move(item));
            }
            toolbar->setItems(std::move(items));
            return true;
        }
        return false;
    }

    static const ns::Array& elements(const ns::Value& value, std::string_view key) {
        if (!value.isArray()) fail(ns::format("\"%@\" must be an array", key));
        return *value.array();
    }

    static unsigned controlState(std::string_view name) {
        if (name == "normal") return Button::kControlStateNormal;
        if (name == "highlighted") return Button::kControlStateHighlighted;
        if (name == "disabled") return Button::kControlStateDisabled;
        if (name == "selected") return Button::kControlStateSelected;
        fail(ns::format("unknown control state \"%@\"", name));
    }

    static Rect frameOf(const ns::Value& value) {
        const ns::Array* parts = value.array();
        if (!parts || parts->size() != 4) fail("\"frame\" must be four numbers");
        double n[4];
        for (size_t i = 0; i < 4; ++i) {
            auto number = (*parts)[i].number();
            if ((*parts)[i].isBool() || !number || !std::isfinite(*number)) {
                fail("\"frame\" must be four numbers");
            }
            n[i] = *number;
        }
        if (n[2] < 0 || n[3] < 0) fail("\"frame\" must not have a negative size");
        return {n[0], n[1], n[2], n[3]};
    }

    std::shared_ptr<ns::Object> resolve(const std::string& id) {
        if (id == InterfaceFile::kFileOwnerPlaceholder) {
            if (!owner_) fail("the file's owner is missing");
            return owner_;
        }
        auto found = contents_.namedObjects.find(id);
        if (found == contents_.namedObjects.end())
            fail(ns::format("no object has the id \"%@\"", id));
        return found->second;
    }

    void connectOutlets() {
        for (const auto& outlet : pending_) {
            auto destination = resolve(outlet.destination);
            if (!connect(outlet.source, outlet.name, destination)) {
                fail(ns::format("the outlet \"%@\" cannot be connected", outlet.name));
            }
        }
    }

    static bool connect(const std::shared_ptr<ns::Object>& source, std::string_view name,
                        const std::shared_ptr<ns::Object>& destination) {
        if (auto* outlets = dynamic_cast<NibOutlets*>(source.get())) {
            return outlets->setOutlet(name, destination);
        }
        if (auto* controller = dynamic_cast<ViewController*>(source.get());
            controller && name == "view") {
            auto view = std::dynamic_pointer_cast<View>(destination);
            if (!view) return false;
            controller->setView(std::move(view));
            return true;
        }
        return false;
    }

    std::shared_ptr<ns::Object> owner_;
    const rt::ClassRegistry& registry_;
    InterfaceFile::Contents contents_;
    std::vector<std::shared_ptr<ns::Object>> created_;
    std::vector<PendingOutlet> pending_;
};

}  // namespace

ns::Result<InterfaceFile::Contents> InterfaceFile::instantiate(
    const ns::Data& description, const std::shared_ptr<ns::Object>& owner,
    const rt::ClassRegistry& registry) {
    if (description.length() > kMaxFileSize) {
        return ns::cocoaError(ns::kPropertyListReadCorruptError, "the file is too large");
    }
    ns::JSONSerialization::ReadOptions options;
    // Each level of views takes an element object and its "subviews" array.
    options.maxDepth = 2 * (kMaxNesting + 2);
    auto root = ns::JSONSerialization::read(
        std::string_view(reinterpret_cast<const char*>(description.bytes()), description.length()),
        options);
    if (!root.ok()) return root.error();
    try {
        return Loader(owner, registry).load(*root);
    } catch (const Malformed& malformed) {
        return ns::cocoaError(ns::kPropertyListReadCorruptError, malformed.reason);
    }
}

ns::Result<InterfaceFile::Contents> InterfaceFile::loadNamed(
    std::string_view name, const ns::Bundle& bundle, const std::shared_ptr<ns::Object>& owner,
    const rt::ClassRegistry& registry) {
    auto path = bundle.pathForResource(name, kFileExtension);
    if (!path) {
        return ns::cocoaError(260, ns::format("no interface file named \"%@\"", name));
    }
    std::error_code error;
    auto size = std::filesystem::file_size(*path, error);
    if (error || size > kMaxFileSize) {
        return ns::cocoaError(ns::kPropertyListReadCorruptError, "the file is too large");
    }
    auto data = ns::FileManager::defaultManager().contentsAtPath(*path);
    if (!data.ok()) return data.error();
    return instantiate(*data, owner, registry);
}

}  // namespace ui
