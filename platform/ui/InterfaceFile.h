#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ns/Bundle.h"
#include "platform/ns/Data.h"
#include "platform/ns/Object.h"
#include "platform/ns/Result.h"
#include "platform/rt/ClassRegistry.h"

namespace ui {

// Interface files: JSON descriptions of views, toolbars and buttons with their texts, and of
// other objects that come to life with them.
//
//   {"objects": [ELEMENT, ...]}
//   ELEMENT: {"class": NAME, "id": TEXT, "frame": [x, y, width, height], "tag": INTEGER,
//             "hidden": BOOL, "text": TEXT, "placeholder": TEXT, "title": TEXT,
//             "titles": {"normal" | "highlighted" | "disabled" | "selected": TEXT},
//             "segments": [TEXT, ...], "items": [ELEMENT, ...], "subviews": [ELEMENT, ...],
//             "accessibilityLabel" | "accessibilityHint" | "accessibilityValue": TEXT,
//             "outlets": {NAME: ID | "File's Owner"}}
//
// NAME is View, Label, Button, TextField, Toolbar, SegmentedControl or BarButtonItem, or a
// class of the class registry. Every key but "class" is optional; a key that does not apply to
// the element's class is an error, as is a value of the wrong kind. After every object is made
// and every outlet connected, each object that is NibAwaking hears awakeFromNib(), in the
// order the file lists them.
//
// The file comes from outside: its size, nesting and object count are bounded, and whatever
// is wrong with it is an error (NSCocoaErrorDomain 3840, the reason under
// "NSDebugDescription"), never a crash.
class InterfaceFile {
public:
    static constexpr const char* kFileOwnerPlaceholder = "File's Owner";
    static constexpr const char* kFileExtension = "interface.json";
    static constexpr size_t kMaxFileSize = size_t{4} << 20;
    static constexpr size_t kMaxObjects = 10000;
    static constexpr size_t kMaxNesting = 32;

    struct Contents {
        std::vector<std::shared_ptr<ns::Object>> topLevelObjects;
        std::map<std::string, std::shared_ptr<ns::Object>, std::less<>> namedObjects;
    };

    static ns::Result<Contents> instantiate(
        const ns::Data& description, const std::shared_ptr<ns::Object>& owner,
        const rt::ClassRegistry& registry = rt::ClassRegistry::shared());
    // "<name>.interface.json" of the bundle.
    static ns::Result<Contents> loadNamed(
        std::string_view name, const ns::Bundle& bundle, const std::shared_ptr<ns::Object>& owner,
        const rt::ClassRegistry& registry = rt::ClassRegistry::shared());
};

}  // namespace ui
