#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/ns/Value.h"
#include "plugins/device_storage/SQLitePlugin.h"
#include "tests/plugins/device_storage/support/SQLiteTestDelegate.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/NsPrinters.h"
#include "tests/support/TempDir.h"

namespace sqlitetest {

// A SQLite plug-in on a recording command delegate, with a sandbox in a temporary folder and
// the main run loop on a manual clock.
class SQLitePluginFixture : public testsupport::ManualRunLoop {
public:
    // {"sql", "params"}, and the argument of a batch on the database.
    static ns::Value statement(const std::string& sql, ns::Array params = {});
    static ns::Value batchArgs(const std::string& name, const ns::Array& executes);

protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh plug-in (the old one goes), initialised; `runInline` runs background work on
    // the calling thread.
    void makePlugin(bool runInline = false);

    // Calls the action with the argument, runs the loop to idle and answers the result.
    SentResult call(const std::string& action, const ns::Value& argument);
    // The same with the arguments given as the JSON text of their array, as the engine hands
    // a page's call over.
    SentResult callWithText(const std::string& action, const std::string& arguments);
    SentResult open(const std::string& name, const std::string& location = "docs");
    SentResult close(const std::string& name);
    SentResult remove(const std::string& name, const std::string& location = "docs");
    // The reply array of a batch on the database.
    ns::Array batch(const std::string& name, const ns::Array& executes);
    // The one entry of a batch of one statement.
    ns::Value run(const std::string& name, const std::string& sql, ns::Array params = {});
    // The "rows" of a statement that must succeed.
    ns::Array rows(const std::string& name, const std::string& sql, ns::Array params = {});

    std::string documents() const;
    std::string library() const;

    testsupport::TempDir dir_;
    std::shared_ptr<SQLiteTestDelegate> delegate_;
    std::shared_ptr<SQLitePlugin> plugin_;
    int nextCallback_ = 0;
};

}  // namespace sqlitetest
