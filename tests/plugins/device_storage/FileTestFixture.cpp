#include "tests/plugins/device_storage/FileTestFixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/av/PhotoLibrary.h"
#include "platform/dispatch/Queue.h"
#include "platform/ns/Bundle.h"
#include "platform/ns/FileManager.h"
#include "platform/ns/PropertyListSerialization.h"
#include "platform/ns/Sandbox.h"
#include "platform/testing/InjectedFaults.h"
#include "plugins/device_storage/HYBFileSystem.h"

namespace filetest {

void RecordingDelegate::sendPluginResult(const std::shared_ptr<HYBPluginResult>& result,
                                         const std::optional<std::string>& callbackId) {
    std::lock_guard lock(mutex_);
    results_.emplace_back(callbackId.value_or(""), result);
}

void RecordingDelegate::runInBackground(std::function<void()> block) {
    if (hold_) {
        held_.push_back(std::move(block));
        return;
    }
    dispatch::Queue::global().async(std::move(block));
}

void RecordingDelegate::releaseBackground() {
    hold_ = false;
    for (auto& block : held_) dispatch::Queue::global().async(std::move(block));
    held_.clear();
}

HYBCommandDelegate::UrlTransformer RecordingDelegate::urlTransformer() const {
    std::lock_guard lock(mutex_);
    return transformer_;
}

void RecordingDelegate::setUrlTransformer(UrlTransformer transformer) {
    std::lock_guard lock(mutex_);
    transformer_ = std::move(transformer);
}

std::vector<std::pair<std::string, std::shared_ptr<HYBPluginResult>>> RecordingDelegate::results()
    const {
    std::lock_guard lock(mutex_);
    return results_;
}

void FileFixture::SetUp() {
    ManualRunLoop::SetUp();
    ASSERT_TRUE(ns::Sandbox::configure((dir_ / "sandbox").string()).ok());
    std::filesystem::create_directories(dir_ / "App" / "www");
    writeFile((dir_ / "App" / "www" / "index.html").string(), "<html></html>");
    ASSERT_TRUE(ns::PropertyListSerialization::writeFileAtomically(
                    (dir_ / "App" / "Info.plist").string(),
                    ns::Value::dict({{"CFBundleExecutable", "App"}}),
                    ns::PropertyListSerialization::Format::XML)
                    .ok());
    ns::Bundle::setMainBundlePath(bundlePath());
    av::PhotoLibrary::shared().setAuthorizationStatus(av::PhotoAuthorizationStatus::Authorized);
}

void FileFixture::TearDown() {
    loop().runUntilIdle();
    plugin_.reset();
    controller_.reset();
    ns::InjectedFaults::clear();
    HYBFileSystem::setMaxReadLength(HYBFileSystem::kDefaultMaxReadLength);
    ManualRunLoop::TearDown();
}

void FileFixture::start(ns::Dictionary settings) {
    controller_ = HYBViewController::create();
    controller_->setSettings(std::move(settings));
    delegate_ = std::make_shared<RecordingDelegate>();
    plugin_ = std::make_shared<HYBFile>();
    plugin_->setViewController(controller_);
    plugin_->setCommandDelegate(delegate_);
    plugin_->pluginInitialize();
}

std::shared_ptr<HYBPluginResult> FileFixture::call(const std::string& action, ns::Array arguments) {
    const std::string id = "File" + std::to_string(++nextCallback_);
    HYBInvokedUrlCommand command(std::move(arguments), id, "File", action);
    EXPECT_TRUE(plugin_->performAction(action, command)) << action;
    loop().runUntilIdle();
    std::shared_ptr<HYBPluginResult> found;
    int count = 0;
    for (const auto& [callbackId, result] : delegate_->results()) {
        if (callbackId == id) {
            found = result;
            ++count;
        }
    }
    EXPECT_LE(count, 1) << action << " answered more than once";
    return found;
}

std::string FileFixture::documents() const {
    return ns::Sandbox::documentsDirectory();
}

std::string FileFixture::temporary() const {
    std::string tmp = ns::Sandbox::temporaryDirectory();
    tmp.pop_back();
    return tmp;
}

void FileFixture::writeFile(const std::string& path, std::string_view contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

std::string FileFixture::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool FileFixture::exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() !=
           std::filesystem::file_type::not_found;
}

namespace {

::testing::AssertionResult hasStatusAndCode(const std::shared_ptr<HYBPluginResult>& result,
                                            unsigned status, int code) {
    if (!result) return ::testing::AssertionFailure() << "no result";
    auto message = result->message().int64();
    if (result->status() == status && message && *message == code) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "status " << result->status() << ", message " << result->message().description();
}

}  // namespace

::testing::AssertionResult isIOError(const std::shared_ptr<HYBPluginResult>& result, int code) {
    return hasStatusAndCode(result, HYBResultStatusIOError, code);
}

::testing::AssertionResult isError(const std::shared_ptr<HYBPluginResult>& result, int code) {
    return hasStatusAndCode(result, HYBResultStatusError, code);
}

::testing::AssertionResult isOK(const std::shared_ptr<HYBPluginResult>& result) {
    if (!result) return ::testing::AssertionFailure() << "no result";
    if (result->status() == HYBResultStatusOK) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "status " << result->status() << ", message " << result->message().description();
}

}  // namespace filetest
