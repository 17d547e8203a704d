#include "toolbox/iPhone/NSDK_TBXUILocalizer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ui/InterfaceFile.h"
#include "platform/ui/Label.h"
#include "platform/ui/NibBundleOwner.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"
#include "tests/support/TempDir.h"

namespace {

// A controller that came from an interface file of a given bundle.
class FileController : public ui::ViewController, public ui::NibBundleOwner {
public:
    explicit FileController(std::shared_ptr<ns::Bundle> bundle) : bundle_(std::move(bundle)) {}
    std::shared_ptr<ns::Bundle> nibBundle() const override { return bundle_; }

private:
    std::shared_ptr<ns::Bundle> bundle_;
};

// A bundle whose English table translates a few keys, and the localizer class registered.
class LocalizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle_ = makeBundle("app",
                             "\"HELLO\" = \"Hello\";\n\"SAVE\" = \"Save\";\n"
                             "\"HINT\" = \"Saves the file\";\n\"ONE\" = \"One\";\n"
                             "\"SEARCH\" = \"Search\";\n");
        previousMain_ = ns::Bundle::mainBundle()->bundlePath();
        NSDK_TBXUILocalizer::registerRuntimeClass(registry_);
    }
    void TearDown() override { ns::Bundle::setMainBundlePath(previousMain_); }

    std::shared_ptr<ns::Bundle> makeBundle(const std::string& name, const std::string& strings) {
        auto folder = dir_ / name / "en.lproj";
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "Localizable.strings") << strings;
        return ns::Bundle::bundleWithPath((dir_ / name).string());
    }

    ui::InterfaceFile::Contents load(const std::string& json,
                                     const std::shared_ptr<ns::Object>& owner) {
        auto contents =
            ui::InterfaceFile::instantiate(ns::Data::fromString(json), owner, registry_);
        EXPECT_TRUE(contents.ok()) << (contents.ok() ? "" : contents.error().description());
        return contents.ok() ? std::move(*contents) : ui::InterfaceFile::Contents{};
    }

    template <class T>
    static std::shared_ptr<T> named(const ui::InterfaceFile::Contents& contents,
                                    const std::string& id) {
        auto found = contents.namedObjects.find(id);
        return found == contents.namedObjects.end() ? nullptr
                                                    : std::dynamic_pointer_cast<T>(found->second);
    }

    testsupport::TempDir dir_;
    std::shared_ptr<ns::Bundle> bundle_;
    std::string previousMain_;
    rt::ClassRegistry registry_;
};

const char* kScreen = R"({"objects": [
  {"class": "View", "id": "root", "subviews": [
     {"class": "Label", "id": "marked", "text": "^HELLO"},
     {"class": "Label", "id": "plain", "text": "HELLO"},
     {"class": "Label", "id": "missing", "text": "^MISSING"},
     {"class": "TextField", "id": "field", "text": "^SAVE", "placeholder": "^SEARCH"},
     {"class": "Button", "id": "button", "accessibilityHint": "^HINT",
      "titles": {"normal": "^SAVE", "selected": "^HELLO", "disabled": "^MISSING"}},
     {"class": "SegmentedControl", "id": "segments", "segments": ["^ONE", "two"]},
     {"class": "Toolbar", "id": "bar", "items": [{"class": "BarButtonItem", "title": "^SAVE"}],
      "subviews": [{"class": "Label", "id": "inBar", "text": "^HELLO"}]}
  ]},
  {"class": "NSDK_TBXUILocalizer", "id": "localizer",
   "outlets": {"owner": "File's Owner", "otherObjectToLocalize": "spare"}},
  {"class": "Label", "id": "spare", "text": "^ONE"}
]})";

TEST_F(LocalizerTest, MarkedTextsOfTheScreenAreTranslated) {
    auto owner = std::make_shared<FileController>(bundle_);
    std::string json = std::string(kScreen);
    json.insert(json.find("\"subviews\""), "\"outlets\": {},");  // outlets may be empty
    auto contents = load(json, owner);
    owner->setView(named<ui::View>(contents, "root"));
    // Loading again with the view in place: the localizer walks the owner's view.
    contents = load(R"({"objects": [{"class": "NSDK_TBXUILocalizer",
                                     "outlets": {"owner": "File's Owner"}}]})",
                    owner);
    (void)contents;
    auto root = owner->view();
    auto label = [&](size_t i) {
        return std::dynamic_pointer_cast<ui::Label>(root->subviews()[i]);
    };
    EXPECT_EQ(label(0)->text(), "Hello");
    EXPECT_EQ(label(1)->text(), "HELLO");
    EXPECT_EQ(label(2)->text(), "^MISSING");
    auto field = std::dynamic_pointer_cast<ui::TextField>(root->subviews()[3]);
    EXPECT_EQ(field->text(), "Save");
    EXPECT_EQ(field->placeholder(), "Search");
    auto button = std::dynamic_pointer_cast<ui::Button>(root->subviews()[4]);
    EXPECT_EQ(button->titleForState(ui::Button::kControlStateNormal), "Save");
    EXPECT_EQ(button->titleForState(ui::Button::kControlStateHighlighted), "Save");
    EXPECT_EQ(button->titleForState(ui::Button::kControlStateSelected), "Hello");
    EXPECT_EQ(button->titleForState(ui::Button::kControlStateDisabled), "^MISSING");
    EXPECT_EQ(button->accessibilityHint(), "Saves the file");
    auto segments = std::dynamic_pointer_cast<ui::SegmentedControl>(root->subviews()[5]);
    EXPECT_EQ(segments->titleForSegmentAtIndex(0), "One");
    EXPECT_EQ(segments->titleForSegmentAtIndex(1), "two");
    auto bar = std::dynamic_pointer_cast<ui::Toolbar>(root->subviews()[6]);
    EXPECT_EQ(bar->items()[0]->title(), "Save");
    // A toolbar is localised by its own rule only: what lies inside it as a view stays.
    EXPECT_EQ(std::dynamic_pointer_cast<ui::Label>(bar->subviews()[0])->text(), "^HELLO");
}

TEST_F(LocalizerTest, LocalizerLetsGoOfEverythingAfterLoading) {
    auto owner = std::make_shared<FileController>(bundle_);
    auto contents = load(kScreen, owner);
    auto localizer = named<NSDK_TBXUILocalizer>(contents, "localizer");
    ASSERT_TRUE(localizer);
    EXPECT_EQ(localizer->owner(), nullptr);
    EXPECT_EQ(localizer->otherObjectToLocalize(), nullptr);
    EXPECT_EQ(localizer->yetAnotherObjectToLocalize(), nullptr);
    EXPECT_EQ(localizer->bundle(), bundle_);
    // The other object was localised along with the owner.
    EXPECT_EQ(named<ui::Label>(contents, "spare")->text(), "One");
}

TEST_F(LocalizerTest, ControllerWithoutFileBundleUsesTheMainBundle) {
    auto main = makeBundle("main", "\"HELLO\" = \"Hello from main\";\n");
    ns::Bundle::setMainBundlePath(main->bundlePath());
    auto owner = ui::ViewController::create();
    auto label = ui::Label::create();
    label->setText("^HELLO");
    owner->view()->addSubview(label);
    EXPECT_EQ(NSDK_TBXUILocalizer::bundleForOwner(owner)->bundlePath(), main->bundlePath());
    EXPECT_EQ(NSDK_TBXUILocalizer::bundleForOwner(nullptr), nullptr);

    NSDK_TBXUILocalizer localizer;
    localizer.setOwner(owner);
    localizer.awakeFromNib();
    EXPECT_EQ(label->text(), "Hello from main");

    // Without an owner nothing is localised, and the references still go.
    auto other = ui::Label::create();
    other->setText("^HELLO");
    NSDK_TBXUILocalizer idle;
    idle.setOtherObjectToLocalize(other);
    idle.awakeFromNib();
    EXPECT_EQ(other->text(), "^HELLO");
    EXPECT_EQ(idle.otherObjectToLocalize(), nullptr);
}

TEST_F(LocalizerTest, LookUpNeedsABundleAndTheMarker) {
    EXPECT_EQ(NSDK_TBXUILocalizer().localizedStringForString("^HELLO"), std::nullopt);
    NSDK_TBXUILocalizer localizer(bundle_);
    EXPECT_EQ(localizer.localizedStringForString("^HELLO"), "Hello");
    EXPECT_EQ(localizer.localizedStringForString("HELLO"), std::nullopt);
    EXPECT_EQ(localizer.localizedStringForString(""), std::nullopt);
    EXPECT_EQ(localizer.localizedStringForString("^"), std::nullopt);
    EXPECT_FALSE(localizer.setOutlet("unknown", nullptr));
}

}  // namespace
