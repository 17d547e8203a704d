#include "tests/support/Golden.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/ns/Bundle.h"
#include "platform/ns/LocalTime.h"
#include "platform/ns/Log.h"
#include "platform/ns/PropertyListSerialization.h"

namespace testsupport {
namespace {

std::filesystem::path goldenPath(const std::string& name) {
    return std::filesystem::path(HYB_SOURCE_DIR) / "tests" / "fixtures" / "golden" / name;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// The first lines that differ, with a little context, for the failure message.
std::string differences(const std::string& expected, const std::string& actual) {
    const auto want = linesOf(expected);
    const auto got = linesOf(actual);
    size_t first = 0;
    while (first < want.size() && first < got.size() && want[first] == got[first]) ++first;
    std::ostringstream out;
    out << "first difference at line " << first + 1 << "\n";
    for (size_t i = first; i < first + 6; ++i) {
        if (i < want.size()) out << "  golden: " << want[i] << "\n";
        if (i < got.size()) out << "  actual: " << got[i] << "\n";
        if (i >= want.size() && i >= got.size()) break;
    }
    return out.str();
}

// Writes the whole text unless the descriptor refuses it.
void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

bool printable(std::string_view bytes) {
    for (unsigned char c : bytes) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

}  // namespace

void expectMatchesGolden(const std::string& name, const std::string& actual) {
    const auto path = goldenPath(name);
    std::string expected;
    bool present = false;
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            expected = text.str();
            present = true;
        }
    }
    if (present && expected == actual) return;
    const char* update = std::getenv("HYB_UPDATE_GOLDEN");
    if (update && *update && std::string(update) != "0") {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
        ADD_FAILURE() << "golden file " << name << " rewritten; review and commit it";
        return;
    }
    if (!present) {
        ADD_FAILURE() << "no golden file " << path << " (HYB_UPDATE_GOLDEN=1 writes it); actual:\n"
                      << actual;
        return;
    }
    ADD_FAILURE() << "differs from golden file " << name << ": " << differences(expected, actual)
                  << "whole actual text:\n"
                  << actual;
}

Normaliser& Normaliser::replace(const std::string& pattern, std::string replacement) {
    rules_.push_back({std::regex(pattern), std::move(replacement), false});
    return *this;
}

Normaliser& Normaliser::number(const std::string& pattern, std::string label) {
    rules_.push_back({std::regex(pattern), std::move(label), true});
    return *this;
}

std::string Normaliser::operator()(std::string text) const {
    for (const auto& rule : rules_) {
        if (!rule.numbered) {
            text = std::regex_replace(text, rule.pattern, rule.replacement);
            continue;
        }
        std::map<std::string, int> seen;
        std::string out;
        auto begin = std::sregex_iterator(text.begin(), text.end(), rule.pattern);
        size_t last = 0;
        for (auto it = begin; it != std::sregex_iterator(); ++it) {
            const auto& match = *it;
            out.append(text, last, static_cast<size_t>(match.position()) - last);
            auto [entry, added] = seen.try_emplace(match.str(), static_cast<int>(seen.size()) + 1);
            out += "<" + rule.replacement + "-" + std::to_string(entry->second) + ">";
            last = static_cast<size_t>(match.position() + match.length());
        }
        out.append(text, last, std::string::npos);
        text = std::move(out);
    }
    return text;
}

Normaliser Normaliser::standard() {
    Normaliser n;
    n.replace(R"((127\.0\.0\.1|localhost)(:|%3A)\d+)", "$1$2<port>");
    // The sign-in cache's marker of an item without resource has the form of a UUID but is a
    // constant of the stored format, and stays.
    n.number(
        "(?!CC3513A0-0E69-4B4D-97FC-DFB6C91EE132)"
        "[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}",
        "uuid");
    return n;
}

std::string visibleControlCharacters(std::string_view text, bool lineFeeds) {
    std::string out;
    char buffer[8];
    for (unsigned char c : text) {
        if ((c < 0x20 && (c != '\n' || lineFeeds)) || c == 0x7f) {
            std::snprintf(buffer, sizeof buffer, "{%02x}", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string hexDump(std::string_view bytes) {
    std::string out;
    char buffer[8];
    for (size_t row = 0; row < bytes.size(); row += 16) {
        std::string ascii;
        for (size_t i = 0; i < 16; ++i) {
            if (row + i < bytes.size()) {
                const auto c = static_cast<unsigned char>(bytes[row + i]);
                std::snprintf(buffer, sizeof buffer, "%02x ", c);
                out += buffer;
                ascii += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '.';
            } else {
                out += "   ";
            }
        }
        out += " |" + ascii + "|\n";
    }
    return out;
}

std::string describeBytes(std::string_view bytes) {
    if (printable(bytes)) return "\"" + std::string(bytes) + "\"";
    return std::to_string(bytes.size()) + " bytes:\n" + hexDump(bytes);
}

namespace {

bool readVarint(std::string_view bytes, size_t& at, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < bytes.size(); shift += 7) {
        const auto byte = static_cast<unsigned char>(bytes[at++]);
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80)) return true;
    }
    return false;
}

// The fields of a message, or nothing when the bytes are not one.
std::optional<std::string> wireFields(std::string_view bytes, int indent) {
    std::string out;
    const std::string pad(static_cast<size_t>(indent) * 2, ' ');
    size_t at = 0;
    char buffer[32];
    while (at < bytes.size()) {
        uint64_t key = 0;
        if (!readVarint(bytes, at, key) || key >> 3 == 0) return std::nullopt;
        const uint64_t number = key >> 3;
        out += pad + std::to_string(number) + ": ";
        switch (key & 7) {
            case 0: {
                uint64_t value = 0;
                if (!readVarint(bytes, at, value)) return std::nullopt;
                out += std::to_string(value) + "\n";
                break;
            }
            case 1:
            case 5: {
                const size_t width = (key & 7) == 1 ? 8 : 4;
                if (at + width > bytes.size()) return std::nullopt;
                uint64_t value = 0;
                for (size_t i = 0; i < width; ++i) {
                    value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[at + i]))
                             << (8 * i);
                }
                at += width;
                std::snprintf(buffer, sizeof buffer, "0x%llx",
                              static_cast<unsigned long long>(value));
                out += std::string(buffer) + "\n";
                break;
            }
            case 2: {
                uint64_t length = 0;
                if (!readVarint(bytes, at, length) || length > bytes.size() - at)
                    return std::nullopt;
                const std::string_view field = bytes.substr(at, static_cast<size_t>(length));
                at += static_cast<size_t>(length);
                if (printable(field)) {
                    out += "\"" + std::string(field) + "\"\n";
                } else if (auto nested = wireFields(field, indent + 1)) {
                    out += "{\n" + *nested + pad + "}\n";
                } else {
                    std::string hex;
                    for (unsigned char c : field) {
                        std::snprintf(buffer, sizeof buffer, "%02x", c);
                        hex += buffer;
                    }
                    out += "bytes " + hex + "\n";
                }
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

}  // namespace

std::string protobufWireText(std::string_view bytes, int indent) {
    if (auto fields = wireFields(bytes, indent)) return *fields;
    return "(not a protobuf message)\n" + hexDump(bytes);
}

std::string formatHttpRequest(const std::string& method, const std::string& target,
                              const std::vector<std::pair<std::string, std::string>>& headerLines,
                              const std::string& body, const std::optional<std::string>& bodyText) {
    std::string out = method + " " + target + "\n";
    for (const auto& [name, value] : headerLines) out += name + ": " + value + "\n";
    out += "\n";
    if (bodyText) {
        out += *bodyText;
    } else if (!body.empty()) {
        out += describeBytes(body);
    }
    if (!out.empty() && out.back() != '\n') out += "\n";
    return out;
}

std::string logLinesWithPrefixNormalised(const std::string& standardError,
                                         const std::vector<std::string>& starts) {
    static const std::regex prefix(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} [^\[ ]+\[\d+:\d+\] )");
    std::string out;
    for (const auto& line : linesOf(standardError)) {
        std::smatch match;
        std::string rest = line;
        std::string shownPrefix;
        if (std::regex_search(line, match, prefix)) {
            rest = line.substr(static_cast<size_t>(match.length()));
            shownPrefix = "<time> <process>[<ids>] ";
        }
        bool wanted = false;
        for (const auto& start : starts) wanted = wanted || rest.rfind(start, 0) == 0;
        if (!wanted && shownPrefix.empty()) {
            for (const auto& start : starts)
                wanted = wanted || line.find(start) != std::string::npos;
        }
        if (wanted) out += shownPrefix + rest + "\n";
    }
    return out;
}

struct ScopedLogRecorder::State {
    std::vector<std::string> subsystems;
    mutable std::mutex mutex;
    std::string text;
};

ScopedLogRecorder::ScopedLogRecorder(std::vector<std::string> subsystems)
    : state_(std::make_shared<State>()) {
    state_->subsystems = std::move(subsystems);
    token_ = ns::Log::addClaimingSink([state = state_](const ns::LogEntry& entry) {
        bool wanted = false;
        for (const auto& subsystem : state->subsystems)
            wanted = wanted || entry.subsystem == subsystem;
        if (!wanted) return false;
        static const char* const names[] = {"Debug", "Info", "Default", "Error", "Fault"};
        const auto level = static_cast<size_t>(entry.level);
        std::string line = std::string(level < 5 ? names[level] : "?") + " [" + entry.subsystem +
                           (entry.category.empty() ? "" : ":" + entry.category) + "] " +
                           ns::Log::escapedForLine(entry.text) + "\n";
        std::lock_guard lock(state->mutex);
        state->text += line;
        return true;
    });
}

ScopedLogRecorder::~ScopedLogRecorder() {
    ns::Log::removeSink(token_);
}

std::string ScopedLogRecorder::text() const {
    std::lock_guard lock(state_->mutex);
    return state_->text;
}

std::vector<std::pair<std::string, std::string>> withBodyLengthChecked(
    std::vector<std::pair<std::string, std::string>> headerLines, const std::string& body) {
    for (auto& [name, value] : headerLines) {
        if (name == "Content-Length" && value == std::to_string(body.size())) {
            value = "<length of the body>";
        }
    }
    return headerLines;
}

StdStreamCapture::StdStreamCapture(int fd) : fd_(fd) {
    std::fflush(fd == 1 ? stdout : stderr);
    char path[] = "/tmp/golden-capture-XXXXXX";
    file_ = ::mkstemp(path);
    if (file_ < 0) {
        ADD_FAILURE() << "cannot make a capture file";
        return;
    }
    ::unlink(path);
    saved_ = ::dup(fd_);
    ::dup2(file_, fd_);
}

StdStreamCapture::~StdStreamCapture() {
    if (saved_ < 0) return;
    const std::string captured = text();
    ::dup2(saved_, fd_);
    ::close(saved_);
    ::close(file_);
    // gtest reports a failure on standard output as it happens: one that happened while the
    // stream was captured would be lost with the capture, so the capture is given back.
    if (::testing::Test::HasFailure()) {
        const std::string note = "(what the test wrote while " +
                                 std::string(fd_ == 1 ? "standard output" : "standard error") +
                                 " was captured)\n";
        writeAll(fd_, note + captured);
    }
}

std::string StdStreamCapture::text() {
    if (file_ < 0) return {};
    std::fflush(fd_ == 1 ? stdout : stderr);
    std::string out;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(file_, buffer, sizeof buffer, offset);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
    return out;
}

ScopedMainBundle::ScopedMainBundle()
    : ScopedMainBundle({{"CFBundleIdentifier", "com.example.greenhouse"},
                        {"CFBundleShortVersionString", "1.0"}}) {}

ScopedMainBundle::ScopedMainBundle(const ns::Dictionary& info)
    : previous_(ns::Bundle::mainBundle()->bundlePath()) {
    const auto path = dir_ / "Golden.app";
    std::filesystem::create_directories(path);
    auto written = ns::PropertyListSerialization::writeFileAtomically(
        (path / "Info.plist").string(), ns::Value(info),
        ns::PropertyListSerialization::Format::XML);
    EXPECT_TRUE(written.ok());
    ns::Bundle::setMainBundlePath(path.string());
}

ScopedMainBundle::~ScopedMainBundle() {
    ns::Bundle::setMainBundlePath(previous_);
}

ScopedTimeZone::ScopedTimeZone(const char* zone)
    : previousDefault_(ns::LocalTime::defaultTimeZone()) {
    if (const char* current = std::getenv("TZ")) previous_ = current;
    ::setenv("TZ", zone, 1);
    ::tzset();
    // The locale library reads the zone once and keeps it: set its default as well, or a test
    // that ran earlier in the process decides what this one sees.
    ns::LocalTime::setDefaultTimeZone(zone);
}

ScopedTimeZone::~ScopedTimeZone() {
    if (previous_) {
        ::setenv("TZ", previous_->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
    ns::LocalTime::setDefaultTimeZone(previousDefault_);
}

}  // namespace testsupport
