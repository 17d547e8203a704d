#include "platform/ui/InterfaceFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NibAwaking.h"
#include "platform/ui/NibOutlets.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "tests/support/TempDir.h"

namespace {

using ui::InterfaceFile;

std::vector<std::string>& awakenings() {
    static std::vector<std::string> names;
    return names;
}

// A registered class with an outlet, that notes when it wakes.
class Probe : public ns::Object, public ui::NibAwaking, public ui::NibOutlets {
public:
    void awakeFromNib() override {
        auto label = std::dynamic_pointer_cast<ui::Label>(target);
        awakenings().push_back(label && label->text() ? *label->text() : "probe");
    }
    bool setOutlet(std::string_view name, const std::shared_ptr<ns::Object>& value) override {
        if (name != "target") return false;
        target = value;
        return true;
    }
    std::shared_ptr<ns::Object> target;
};

class InterfaceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        awakenings().clear();
        registry_.registerClass("Probe", std::nullopt, [] { return std::make_shared<Probe>(); });
        registry_.registerClass("Abstract", std::nullopt, nullptr);
        registry_.registerClass("Controller", std::nullopt,
                                [] { return ui::ViewController::create(); });
    }
    ns::Result<InterfaceFile::Contents> load(const std::string& json,
                                             std::shared_ptr<ns::Object> owner = nullptr) {
        return InterfaceFile::instantiate(ns::Data::fromString(json), owner, registry_);
    }
    std::string failure(const std::string& json, std::shared_ptr<ns::Object> owner = nullptr) {
        auto result = load(json, owner);
        if (result.ok()) return "loaded";
        EXPECT_EQ(result.error().code(), ns::kPropertyListReadCorruptError);
        return result.error().userInfo().at(ns::kDebugDescriptionErrorKey).stringValue();
    }
    rt::ClassRegistry registry_;
};

TEST_F(InterfaceFileTest, BuildsTheDescribedObjects) {
    auto owner = ui::ViewController::create();
    auto contents = load(R"({"objects": [
        {"class": "View", "id": "root", "frame": [0, 0, 320, 480], "tag": 7, "subviews": [
            {"class": "Label", "id": "title", "text": "Hi", "hidden": true},
            {"class": "Button", "titles": {"normal": "Go", "highlighted": "Going"},
             "accessibilityLabel": "go"},
            {"class": "SegmentedControl", "segments": ["a", "b"]},
            {"class": "Toolbar", "items": [{"class": "BarButtonItem", "title": "Done"}]}]},
        {"class": "Probe", "outlets": {"target": "title"}},
        {"class": "Probe", "id": "second", "outlets": {"target": "File's Owner"}}
    ]})",
                         owner);
    ASSERT_TRUE(contents.ok()) << contents.error().description();
    ASSERT_EQ(contents->topLevelObjects.size(), 3u);
    auto root = std::dynamic_pointer_cast<ui::View>(contents->namedObjects.at("root"));
    EXPECT_EQ(root->frame(), (ui::Rect{0, 0, 320, 480}));
    EXPECT_EQ(root->tag(), 7);
    ASSERT_EQ(root->subviews().size(), 4u);
    auto title = std::dynamic_pointer_cast<ui::Label>(root->subviews()[0]);
    EXPECT_EQ(title->text(), "Hi");
    EXPECT_TRUE(title->isHidden());
    auto button = std::dynamic_pointer_cast<ui::Button>(root->subviews()[1]);
    EXPECT_EQ(button->titleForState(ui::Button::kControlStateHighlighted), "Going");
    EXPECT_EQ(button->titleForState(ui::Button::kControlStateSelected), "Go");
    EXPECT_EQ(button->accessibilityLabel(), "go");
    EXPECT_EQ(
        std::dynamic_pointer_cast<ui::SegmentedControl>(root->subviews()[2])->numberOfSegments(),
        2u);
    EXPECT_EQ(std::dynamic_pointer_cast<ui::Toolbar>(root->subviews()[3])->items()[0]->title(),
              "Done");
    auto second = std::dynamic_pointer_cast<Probe>(contents->namedObjects.at("second"));
    EXPECT_EQ(second->target, owner);
    // Every object wakes after all outlets are connected, in the file's order.
    EXPECT_EQ(awakenings(), (std::vector<std::string>{"Hi", "probe"}));
}

TEST_F(InterfaceFileTest, MalformedFilesAreErrors) {
    struct Case {
        const char* json;
        const char* reason;
    };
    const Case cases[] = {
        {R"([])", "the file must hold an object"},
        {R"({"objects": {}})", "\"objects\" must be an array"},
        {R"({"objects": [7]})", "an element must be an object"},
        {R"({"objects": [{}]})", "an element has no \"class\""},
        {R"({"objects": [{"class": 1}]})", "\"class\" must be a string"},
        {R"({"objects": [{"class": "Nope"}]})", "unknown class \"Nope\""},
        {R"({"objects": [{"class": "Abstract"}]})", "unknown class \"Abstract\""},
        {R"({"objects": [{"class": "View", "text": "x"}]})", "\"text\" does not apply here"},
        {R"({"objects": [{"class": "View", "frame": [0, 0, 1]}]})",
         "\"frame\" must be four numbers"},
        {R"({"objects": [{"class": "View", "frame": [0, 0, true, 1]}]})",
         "\"frame\" must be four numbers"},
        {R"({"objects": [{"class": "View", "frame": [0, 0, -1, 1]}]})",
         "\"frame\" must not have a negative size"},
        {R"({"objects": [{"class": "View", "tag": 1.5}]})", "\"tag\" must be an integer"},
        {R"({"objects": [{"class": "View", "subviews": [{"class": "BarButtonItem"}]}]})",
         "a subview must be a view"},
        {R"({"objects": [{"class": "Toolbar", "items": [{"class": "View"}]}]})",
         "a toolbar item must be a BarButtonItem"},
        {R"({"objects": [{"class": "Button", "titles": {"pressed": "x"}}]})",
         "unknown control state \"pressed\""},
        {R"({"objects": [{"class": "View", "id": "a"}, {"class": "View", "id": "a"}]})",
         "the id \"a\" is taken"},
        {R"({"objects": [{"class": "Probe", "outlets": {"target": "nobody"}}]})",
         "no object has the id \"nobody\""},
        {R"({"objects": [{"class": "Probe", "outlets": {"other": "File's Owner"}}]})",
         "the file's owner is missing"},
        {R"({"objects": [{"class": "View", "id": "v"}, {"class": "Probe", "outlets": {"wrong": "v"}}]})",
         "the outlet \"wrong\" cannot be connected"},
    };
    for (const auto& c : cases) EXPECT_EQ(failure(c.json), c.reason) << c.json;
    EXPECT_TRUE(awakenings().empty());  // nothing wakes in a file that fails

    EXPECT_FALSE(load("not json").ok());
    std::string deep = R"({"class": "View"})";
    for (size_t i = 0; i < InterfaceFile::kMaxNesting + 2; ++i) {
        deep = R"({"class": "View", "subviews": [)" + deep + "]}";
    }
    EXPECT_FALSE(load(R"({"objects": [)" + deep + "]}").ok());
    std::string many = R"({"objects": [)";
    for (size_t i = 0; i <= InterfaceFile::kMaxObjects; ++i) many += R"({"class": "View"},)";
    many.back() = ']';
    EXPECT_EQ(failure(many + "}"), "the file holds too many objects");
}

TEST_F(InterfaceFileTest, ControllerViewOutletAndNamedFiles) {
    testsupport::TempDir dir;
    std::ofstream(dir / "Screen.interface.json")
        << R"({"objects": [{"class": "View", "id": "v", "tag": 3},
                           {"class": "Controller", "id": "c", "outlets": {"view": "v"}}]})";
    auto bundle = ns::Bundle::bundleWithPath(dir.str());
    auto contents = InterfaceFile::loadNamed("Screen", *bundle, nullptr, registry_);
    ASSERT_TRUE(contents.ok());
    auto controller = std::dynamic_pointer_cast<ui::ViewController>(contents->namedObjects.at("c"));
    EXPECT_EQ(controller->view()->tag(), 3);
    EXPECT_EQ(failure(R"({"objects": [{"class": "Probe", "id": "p"},
                                     {"class": "Controller", "outlets": {"view": "p"}}]})"),
              "the outlet \"view\" cannot be connected");
    EXPECT_FALSE(InterfaceFile::loadNamed("Missing", *bundle, nullptr, registry_).ok());
}

}  // namespace
