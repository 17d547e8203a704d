#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ns/Value.h"
#include "tests/support/TempDir.h"

namespace testsupport {

// Golden files: what a component says, stores and sends, kept byte for byte in
// tests/fixtures/golden/<name>, so that a change of a log text, a keychain attribute or a
// request header shows up as a failing test with the lines that differ.
//
// Running a test binary with HYB_UPDATE_GOLDEN=1 in the environment writes the files anew from
// what the tests produced (and still fails each test whose file changed, so that an update is
// never mistaken for a pass); review the diff before committing it.
void expectMatchesGolden(const std::string& name, const std::string& actual);

// Rewrites the parts of a text that change from run to run (ports, UUIDs, process ids ...) to
// fixed placeholders, so that a golden file holds only what a change of the product could
// alter. Rules apply in the order they were added.
class Normaliser {
public:
    // Every match of `pattern` becomes `replacement` (std::regex_replace syntax: $1 ...).
    Normaliser& replace(const std::string& pattern, std::string replacement);
    // Every distinct match of `pattern` becomes "<label-N>", numbered by first appearance, so
    // that two places holding the same value still visibly hold the same value.
    Normaliser& number(const std::string& pattern, std::string label);
    std::string operator()(std::string text) const;

    // The rules that every golden of a network exchange needs: loopback ports and UUIDs.
    static Normaliser standard();

private:
    struct Rule {
        std::regex pattern;
        std::string replacement;
        bool numbered = false;
    };
    std::vector<Rule> rules_;
};

// The text with each control character but the line feed (and with `lineFeeds`, that too)
// written as {xx}, its hexadecimal value: for output that a component writes unescaped, so that
// the golden stays a plain text file and still shows every byte.
std::string visibleControlCharacters(std::string_view text, bool lineFeeds = false);

// Bytes as lines of 16 hexadecimal pairs followed by their printable ASCII.
std::string hexDump(std::string_view bytes);
// Bytes as text when every byte is printable ASCII (a quoted string), else as a hexDump
// introduced by their length.
std::string describeBytes(std::string_view bytes);

// A protobuf message's wire bytes field by field, for messages of the lite runtime, which
// have no text form: "<number>: <value>" per field in wire order, varints in decimal, 64- and
// 32-bit fields in hexadecimal, length-delimited fields as a quoted string when printable,
// else as a nested message in braces when they parse as one, else as hexadecimal bytes.
std::string protobufWireText(std::string_view bytes, int indent = 0);

// One HTTP request as a golden shows it: the request line, the header lines in the order they
// were sent, a blank line and the body (described by describeBytes, or as given when
// `bodyText` is set: a decoded form of the body, e.g. an inflated protobuf in text form).
std::string formatHttpRequest(const std::string& method, const std::string& target,
                              const std::vector<std::pair<std::string, std::string>>& headerLines,
                              const std::string& body,
                              const std::optional<std::string>& bodyText = std::nullopt);

// The lines of the process's log (as written to standard error) whose text after the line's
// prefix begins with one of `starts` (a subsystem tag such as "[signin]", or the start of an
// untagged message), each with its prefix ("YYYY-MM-DD HH:MM:SS.mmm name[pid:tid] ", which
// changes from run to run and from thread to thread) written as "<time> <process>[<ids>] ".
// A line whose prefix has another form is kept whole, so that a change of the prefix shows.
std::string logLinesWithPrefixNormalised(const std::string& standardError,
                                         const std::vector<std::string>& starts);

// Records the lines that the process's log receives from the given subsystems while it lives,
// whatever the log's minimum level (so that a golden shows every line a component hands over,
// with the level it hands it at), and keeps them off standard error. text() gives one line
// per entry: the level, the subsystem in brackets and the message as written (escaped).
class ScopedLogRecorder {
public:
    explicit ScopedLogRecorder(std::vector<std::string> subsystems);
    ~ScopedLogRecorder();
    ScopedLogRecorder(const ScopedLogRecorder&) = delete;
    ScopedLogRecorder& operator=(const ScopedLogRecorder&) = delete;

    std::string text() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    uint64_t token_ = 0;
};

// The header lines with "Content-Length" written as "<length of the body>" when it is the
// body's length: for bodies whose length follows random parts (a random id, a gzipped body
// that holds one), which the golden shows decoded instead. Another value stays as it is.
std::vector<std::pair<std::string, std::string>> withBodyLengthChecked(
    std::vector<std::pair<std::string, std::string>> headerLines, const std::string& body);

// Redirects one of the process's standard streams (1 or 2) into a file while it lives, and
// hands back what was written: the bytes exactly as a terminal would have received them. When
// the test has failed by the time the capture ends, what was captured (gtest's own report of
// the failure with it) is written to the stream after all.
class StdStreamCapture {
public:
    explicit StdStreamCapture(int fd);
    ~StdStreamCapture();
    StdStreamCapture(const StdStreamCapture&) = delete;
    StdStreamCapture& operator=(const StdStreamCapture&) = delete;

    // What was written so far; the capture goes on.
    std::string text();

private:
    int fd_;
    int saved_ = -1;
    int file_ = -1;
};

// An application bundle with this Info.plist as the main bundle while it lives; the previous
// main bundle comes back after it. What a component sends and stores names the application
// (its identifier, its version), so a golden fixes them.
class ScopedMainBundle {
public:
    // The goldens' usual application: "com.example.greenhouse", version "1.0".
    ScopedMainBundle();
    explicit ScopedMainBundle(const ns::Dictionary& info);
    ~ScopedMainBundle();
    ScopedMainBundle(const ScopedMainBundle&) = delete;
    ScopedMainBundle& operator=(const ScopedMainBundle&) = delete;

private:
    TempDir dir_;
    std::string previous_;
};

// The local time zone set to a fixed one while it lives (log lines print local time).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone = "UTC");
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> previous_;
    std::string previousDefault_;
};

}  // namespace testsupport
