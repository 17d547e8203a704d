#include "tests/plugins/device_storage/support/SQLitePluginFixture.h"

#include "bridge/HYBInvokedUrlCommand.h"
#include "platform/ns/Sandbox.h"

namespace sqlitetest {

void SQLitePluginFixture::SetUp() {
    ManualRunLoop::SetUp();
    ASSERT_TRUE(ns::Sandbox::configure((dir_ / "sandbox").string()).ok());
    makePlugin();
}

void SQLitePluginFixture::TearDown() {
    loop().runUntilIdle();
    plugin_.reset();
    ManualRunLoop::TearDown();
}

void SQLitePluginFixture::makePlugin(bool runInline) {
    plugin_.reset();
    delegate_ = std::make_shared<SQLiteTestDelegate>(runInline);
    plugin_ = std::make_shared<SQLitePlugin>();
    plugin_->setCommandDelegate(delegate_);
    plugin_->pluginInitialize();
}

SentResult SQLitePluginFixture::call(const std::string& action, const ns::Value& argument) {
    const std::string id = "SQLitePlugin" + std::to_string(++nextCallback_);
    HYBInvokedUrlCommand command({argument}, id, "SQLitePlugin", action);
    EXPECT_TRUE(plugin_->performAction(action, command)) << action;
    loop().runUntilIdle();
    auto result = delegate_->resultFor(id);
    EXPECT_TRUE(result) << "no answer to " << action;
    return result.value_or(SentResult{});
}

SentResult SQLitePluginFixture::callWithText(const std::string& action,
                                             const std::string& arguments) {
    const std::string id = "SQLitePlugin" + std::to_string(++nextCallback_);
    const auto command = HYBInvokedUrlCommand::withArgumentsJSON(
        ns::JSONSlice(ns::JSONText::copy(arguments)), id, "SQLitePlugin", action);
    EXPECT_TRUE(plugin_->performAction(action, command)) << action;
    loop().runUntilIdle();
    auto result = delegate_->resultFor(id);
    EXPECT_TRUE(result) << "no answer to " << action;
    return result.value_or(SentResult{});
}

SentResult SQLitePluginFixture::open(const std::string& name, const std::string& location) {
    return call("open", ns::Value::dict({{"name", name}, {"dblocation", location}}));
}

SentResult SQLitePluginFixture::close(const std::string& name) {
    return call("close", ns::Value::dict({{"path", name}}));
}

SentResult SQLitePluginFixture::remove(const std::string& name, const std::string& location) {
    return call("delete", ns::Value::dict({{"path", name}, {"dblocation", location}}));
}

ns::Value SQLitePluginFixture::statement(const std::string& sql, ns::Array params) {
    return ns::Value::dict({{"sql", sql}, {"params", std::move(params)}});
}

ns::Value SQLitePluginFixture::batchArgs(const std::string& name, const ns::Array& executes) {
    return ns::Value::dict(
        {{"dbargs", ns::Value::dict({{"dbname", name}})}, {"executes", executes}});
}

ns::Array SQLitePluginFixture::batch(const std::string& name, const ns::Array& executes) {
    const SentResult result = call("backgroundExecuteSqlBatch", batchArgs(name, executes));
    EXPECT_EQ(result.status, 1u);
    const ns::Array* replies = result.message.array();
    return replies ? *replies : ns::Array();
}

ns::Value SQLitePluginFixture::run(const std::string& name, const std::string& sql,
                                   ns::Array params) {
    ns::Array replies = batch(name, {statement(sql, std::move(params))});
    return replies.size() == 1 ? replies[0] : ns::Value();
}

ns::Array SQLitePluginFixture::rows(const std::string& name, const std::string& sql,
                                    ns::Array params) {
    const ns::Value entry = run(name, sql, std::move(params));
    EXPECT_EQ(entry["type"], ns::Value("success")) << sql << ": " << entry.description();
    const ns::Array* rows = entry["result"]["rows"].array();
    return rows ? *rows : ns::Array();
}

std::string SQLitePluginFixture::documents() const {
    return ns::Sandbox::documentsDirectory();
}

std::string SQLitePluginFixture::library() const {
    return ns::Sandbox::libraryDirectory();
}

}  // namespace sqlitetest
