// Golden tests of what the SDK core says and sends: the core logger's and the HTTP client's
// lines as standard error receives them, with and without debug mode, and one whole
// diagnostic upload (the registration record of a configured app, a refused post and a
// successful one) with its log lines and its requests, compared byte for byte with
// tests/fixtures/golden/core/.
//
// Normalisation: each log line's prefix (time, process name, process and thread ids) becomes
// "<time> <process>[<ids>] "; loopback ports become "<port>"; UUIDs (the installation's)
// "<uuid-N>". The request bodies are shown gunzipped and decoded: the log request in protobuf
// text form, then each queued record of it decoded down to the configuration record; their
// "Content-Length", which follows how well the random installation id compresses, becomes
// "<length of the body>" once checked against the body.
#include <gtest/gtest.h>

#include <google/protobuf/text_format.h>

#include "proto/icore.pb.h"
#include "proto/logbook.pb.h"
#include "sdk/core/NEBApp.h"
#include "sdk/core/NEBCoreLogger.h"
#include "sdk/core/NEBLogbookFileReader.h"
#include "sdk/core/NEBLogbookLogger.h"
#include "sdk/core/NEBNetworkLoggerDelegate.h"
#include "sdk/core/pb.h"
#include "tests/sdk/core/AppFixture.h"
#include "tests/sdk/core/NetworkFixture.h"
#include "tests/support/Golden.h"
#include "toolbox/Foundation/NSData+TBXZLibAdditions.h"

namespace {

using peers::HttpResponse;
using testsupport::expectMatchesGolden;

constexpr const char* kCoreFacility = "[com.nebula.app.logger] ";
constexpr const char* kNetworkConsole = "<Nebula/Network/";

std::string textFormat(const pb::Message& message) {
    std::string text;
    pb::TextFormat::PrintToString(message, &text);
    return text;
}

class CoreLoggerGolden : public sdktest::SdkCoreTest {
protected:
    void TearDown() override {
        SdkCoreTest::TearDown();
        // What the launches left to write goes into the sandbox while it is still there.
        ns::UserDefaults::resetStandardUserDefaults();
    }
    void launchWith(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "sdk_core_tests");
        ns::ProcessInfo::processInfo().setArguments(arguments);
        relaunch();
    }
    // Waits for the lines handed to the logger's queue.
    static void drain() {
        NEBCoreLogger::shared().queue()->sync([] {});
    }

    void logEveryLevel(const char* when) {
        NEBCoreLogError(kNEBLoggerCore, "I-COR000003", "error %@ %d", std::string(when), 3);
        NEBCoreLog(kNEBLoggerLevelWarning, kNEBLoggerCore, "I-COR000004", "warning %@",
                   std::vector<ns::FormatArg>{ns::FormatArg(std::string(when))});
        NEBCoreLogInfo(kNEBLoggerCore, "I-COR000006", "info %@", std::string(when));
        NEBCoreLogDebug(kNEBLoggerCore, "I-COR000007", "debug %@", std::string(when));
        NEBCoreLogError(kNEBLoggerCore, "I-COR000020", "quoted %@",
                        std::string("a\nb\x1b[1m\xc2\x9b z"));
        drain();
    }
    void logNetworkConsole(bool debugEnabled) {
        for (auto level : {NEBNetworkLogLevel::Error, NEBNetworkLogLevel::Warning,
                           NEBNetworkLogLevel::Info, NEBNetworkLogLevel::Debug}) {
            NEBNetworkWriteConsoleLog(level, "Uploading data. Host",
                                      {ns::Value("https://h.example/a"), ns::Value()},
                                      debugEnabled);
        }
        NEBNetworkWriteConsoleLog(NEBNetworkLogLevel::Error, "", {}, debugEnabled);
    }
};

TEST_F(CoreLoggerGolden, LinesAtEveryLevelWithoutAndWithDebugMode) {
    const ns::LogLevel minimum = ns::Log::minimumLevel();
    ns::Log::setMinimumLevel(ns::LogLevel::Default);
    std::string written;
    {
        testsupport::StdStreamCapture stderrCapture(2);
        launchWith({});
        logEveryLevel("quiet");
        logNetworkConsole(false);
        launchWith({"-NEBDebugEnabled"});
        logEveryLevel("debug mode");
        logNetworkConsole(true);
        launchWith({"-NEBDebugDisabled"});
        written = stderrCapture.text();
    }
    ns::Log::setMinimumLevel(minimum);
    expectMatchesGolden("core/logger-lines.txt", testsupport::logLinesWithPrefixNormalised(
                                                     written, {kCoreFacility, kNetworkConsole}));
}

class DiagnosticUploadGolden : public sdktest::NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        sys::DeviceFacts::current().setBootTime(sys::WallTime{1'600'000'000, 250'000});
        sys::DeviceFacts::current().setMachine("iPhone10,3");
        // Debug mode: the upload's quiet lines are part of what it says.
        ns::ProcessInfo::processInfo().setArguments(
            std::vector<std::string>{"sdk_core_tests", "-NEBDebugEnabled"});
        relaunch();
        NEBServiceHosts::setLogbookServerURL(server_->baseURL() + "/log");
        network_ = NEBNetwork::create("localhost");
        ASSERT_TRUE(network_);
        logbook_ = NEBLogbookLogger::create(network_, dir_.str() + "/logbook");
        NEBLogbookLogger::setSharedInstance(logbook_);
    }
    void TearDown() override {
        loop().runUntilIdle();
        apps_.reset();
        NEBLogbookLogger::setSharedInstance(nullptr);
        logbook_.reset();
        network_.reset();
        ns::ProcessInfo::processInfo().setArguments(
            std::vector<std::string>{"sdk_core_tests", "-NEBDebugDisabled"});
        relaunch();
        NetworkTest::TearDown();
        ns::UserDefaults::resetStandardUserDefaults();
    }

    // One request with its body inflated and decoded.
    static std::string requestText(const peers::HttpRequest& request) {
        std::string body;
        auto inflated = tbx_dataByInflatingData(ns::Data::fromString(request.body));
        NEB_LOGBOOK::LogRequest logRequest;
        if (!inflated ||
            !logRequest.ParseFromArray(inflated->bytes(), static_cast<int>(inflated->length()))) {
            body = "(not a gzipped log request)\n" + testsupport::describeBytes(request.body);
        } else {
            body = "(gunzipped log request, " + std::to_string(inflated->length()) + " bytes)\n" +
                   textFormat(logRequest);
            for (const auto& run : logRequest.serialized_log_events()) {
                for (auto record : NEBLogbookFileReader::records(run)) {
                    NEB_LOGBOOK::LogEvent event;
                    event.ParseFromArray(record.data(), static_cast<int>(record.size()));
                    NEB_ICORE::ICoreConfiguration configuration;
                    configuration.ParseFromString(event.source_extension());
                    event.clear_source_extension();
                    body += "(record) " + textFormat(event) + "(its source_extension) " +
                            textFormat(configuration);
                }
            }
        }
        // The gzipped length follows the random ids inside; the body is compared decoded.
        return testsupport::formatHttpRequest(
            request.method, request.target,
            testsupport::withBodyLengthChecked(request.headerLines, request.body), request.body,
            body);
    }

    std::shared_ptr<NEBNetwork> network_;
    std::shared_ptr<NEBLogbookLogger> logbook_;
    ns::ScopedSharedInstance<rt::ClassRegistry> classes_;
};

TEST_F(DiagnosticUploadGolden, RegistrationRecordIsRefusedOnceThenPosted) {
    server_->on("POST", "/log", HttpResponse::text(500, "busy"));
    server_->on("POST", "/log", HttpResponse::text(200, ""));
    writeOptionsPlist(sdktest::validOptions());
    std::string written;
    {
        testsupport::StdStreamCapture stderrCapture(2);
        NEBApp::configure();
        auto first = std::make_shared<bool>(false);
        logbook_->flushWithCompletionHandler([first] { *first = true; });
        ASSERT_TRUE(waitUntil([&] { return logbook_->uploadRetriesRemaining() == 5; }));
        auto second = std::make_shared<bool>(false);
        logbook_->flushWithCompletionHandler([second] { *second = true; });
        ASSERT_TRUE(waitUntil([&] { return *second; }));
        NEBCoreLogger::shared().queue()->sync([] {});
        written = stderrCapture.text();
    }
    const auto normalise = testsupport::Normaliser::standard();
    expectMatchesGolden("core/diagnostic-upload-log.txt",
                        normalise(testsupport::logLinesWithPrefixNormalised(
                            written, {kCoreFacility, kNetworkConsole})));
    std::string requests;
    for (const auto& request : server_->requests()) {
        requests += normalise(requestText(request)) + "----\n";
    }
    expectMatchesGolden("core/diagnostic-upload-requests.txt", requests);
}

}  // namespace
