#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/rt/ClassRegistry.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "proto/icore.pb.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBLogbookFileReader.h"
#include "sdk/core/NEBLogbookLogger.h"
#include "sdk/core/NEBServiceHosts.h"
#include "tests/sdk/core/SdkCoreFixture.h"

namespace sdktest {

// An options plist that validates for the test bundle.
inline ns::Dictionary validOptions() {
    return {{"NEBULA_APP_ID", "1:1234567890:ios:0123456789abcdef"},
            {"MSG_SENDER_ID", "1234567890"},
            {"API_KEY", "test-api-key"},
            {"BUNDLE_ID", kBundleIdentifier}};
}

inline std::string readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The records of queue files, in file order.
inline std::vector<NEB_ICORE::ICoreConfiguration> recordsIn(const std::string& bytes) {
    std::vector<NEB_ICORE::ICoreConfiguration> records;
    for (auto body : NEBLogbookFileReader::records(bytes)) {
        NEB_LOGBOOK::LogEvent event;
        if (!event.ParseFromArray(body.data(), static_cast<int>(body.size()))) continue;
        NEB_ICORE::ICoreConfiguration record;
        if (record.ParseFromString(event.source_extension())) records.push_back(record);
    }
    return records;
}

// The app registry on an uploader of its own, which has no network: records stay in its
// queue files, where the tests read them.
class AppTest : public SdkCoreTest {
protected:
    void SetUp() override {
        SdkCoreTest::SetUp();
        logbook_ = NEBLogbookLogger::create(nullptr, logbookDirectory());
        NEBLogbookLogger::setSharedInstance(logbook_);
    }

    void TearDown() override {
        loop().runUntilIdle();
        apps_.reset();
        NEBLogbookLogger::setSharedInstance(nullptr);
        logbook_.reset();
        SdkCoreTest::TearDown();
    }

    // The classes a test registers (the optional services) go with it.
    ns::ScopedSharedInstance<rt::ClassRegistry> classes_;

    std::string logbookDirectory() const { return dir_.str() + "/logbook"; }

    // Every configuration record queued so far, oldest file first.
    std::vector<NEB_ICORE::ICoreConfiguration> queuedRecords() {
        loop().runUntilIdle();
        std::vector<NEB_ICORE::ICoreConfiguration> all;
        auto directory = std::filesystem::path(logbookDirectory()) / "greenhouse" / "137";
        if (!std::filesystem::exists(directory)) return all;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            for (auto& record : recordsIn(readFileBytes(file))) all.push_back(std::move(record));
        }
        return all;
    }

    std::shared_ptr<NEBLogbookLogger> logbook_;
};

}  // namespace sdktest
