#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/HYBInvokedUrlCommand.h"
#include "bridge/HYBPluginResult.h"
#include "platform/testing/InjectedFaults.h"
#include "tests/plugins/device_storage/FileTestFixture.h"
#include "tests/plugins/device_storage/support/SQLiteTestDelegate.h"
#include "tests/support/NsPrinters.h"

namespace filetest {
namespace {

constexpr size_t kRun = size_t{3} << 20;

// The file plug-in answering a page that takes long answers in pieces, with room for two.
class HYBFileReadPiecesTest : public FileFixture {
protected:
    void SetUp() override {
        FileFixture::SetUp();
        start();
    }
    // Runs the read whole (the fixture's delegate takes no pieces), then on the delegate that
    // takes them, which runs `onPiece` as each piece reaches it (and, with `pageGoneAfter`,
    // takes no more pieces than that; with `pageGoesBeforeWork`, the page that asked goes as the
    // read's work is handed over); its pieces and answer.
    struct Pieced {
        std::shared_ptr<HYBPluginResult> whole;
        std::vector<sqlitetest::SentPiece> pieces;
        sqlitetest::SentResult answer;
    };
    Pieced read(const std::string& action, const ns::Array& arguments,
                std::function<void(const sqlitetest::SentPiece&)> onPiece = nullptr,
                std::optional<size_t> pageGoneAfter = std::nullopt,
                bool pageGoesBeforeWork = false) {
        Pieced out{call(action, arguments), {}, {}};
        auto pieces = std::make_shared<sqlitetest::SQLiteTestDelegate>();
        pieces->setTakesPieces(true);
        pieces->setPageWindow(2);
        pieces->setPieceHook(std::move(onPiece));
        if (pageGoneAfter) pieces->setPageGoneAfter(*pageGoneAfter);
        pieces->setPageGoesBeforeWork(pageGoesBeforeWork);
        plugin().setCommandDelegate(pieces);
        const std::string id = "Pieced" + std::to_string(++reads_);
        EXPECT_TRUE(
            plugin().performAction(action, HYBInvokedUrlCommand(arguments, id, "File", action)));
        // Waits for the read's background work too.
        loop().runUntilIdle();
        const auto answer = pieces->resultFor(id);
        EXPECT_TRUE(answer) << "the read sent no answer";
        if (answer) out.answer = *answer;
        out.pieces = pieces->pieces();
        EXPECT_LE(pieces->mostPiecesHeld(), 2u);
        plugin().setCommandDelegate(delegate_);
        return out;
    }
    // The text the page joins: every piece, then the answer's own part.
    static std::string joined(const Pieced& read, const ns::Value& own) {
        std::string text;
        for (size_t i = 0; i < read.pieces.size(); ++i) {
            EXPECT_EQ(read.pieces[i].index, i);
            EXPECT_TRUE(read.pieces[i].text);
            text += read.pieces[i].json;
        }
        return text + own.stringValue();
    }

    int reads_ = 0;
};

// A read longer than a run reaches the page in runs that join into exactly what the same read
// answers whole, for every kind of read, with characters cut at the runs' ends; a range as
// short as one run comes whole.
TEST_F(HYBFileReadPiecesTest, LongReadsComeInRunsThatJoinIntoTheWholeAnswer) {
    // "aé€😀" is 10 bytes: a run's end (a multiple of 3 MiB) falls inside a character.
    std::string contents;
    while (contents.size() < 10 * (size_t{1} << 20))
        contents += "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    writeFile(documents() + "/big.txt", contents);
    const std::string file = url("persistent", "/big.txt");
    for (const auto& [action, arguments] : std::vector<std::pair<std::string, ns::Array>>{
             {"readAsText", {file, "UTF-8", 0, -1}},
             {"readAsText", {file, "UTF-8", 1, static_cast<int64_t>(contents.size() - 10)}},
             {"readAsBinaryString", {file, 0, -1}},
             {"readAsDataURL", {file, 2, -1}},
             {"readAsArrayBuffer", {file, 0, -1}},
             // A start before the file's is its first byte.
             {"readAsArrayBuffer", {file, -5, -1}},
         }) {
        SCOPED_TRACE(action + " " + ns::Value(arguments).description());
        const Pieced read = this->read(action, arguments);
        ASSERT_TRUE(isOK(read.whole));
        EXPECT_EQ(read.answer.status, HYBResultStatusOK);
        EXPECT_EQ(read.answer.pieces, read.pieces.size());
        EXPECT_GE(read.pieces.size(), 3u);
        const bool buffer = action == "readAsArrayBuffer";
        EXPECT_EQ(read.answer.member, buffer ? "data" : "");
        const std::string got =
            joined(read, buffer ? read.answer.message["data"] : read.answer.message);
        const std::string want =
            (buffer ? read.whole->message()["data"] : read.whole->message()).stringValue();
        // Compared whole, reported by size: the texts are megabytes long.
        EXPECT_TRUE(got == want) << got.size() << " bytes joined, " << want.size() << " read whole";
    }
    const Pieced one = read("readAsArrayBuffer", {file, 0, static_cast<int64_t>(kRun)});
    EXPECT_TRUE(one.pieces.empty());
    EXPECT_EQ(one.answer.message, one.whole->message());
}

// Text that is not UTF-8 after runs went ahead (a byte that is none, or a character the file's
// end cuts short) is answered with the encoding error, whole (the page drops the runs), as when
// read whole.
TEST_F(HYBFileReadPiecesTest, TextThatTurnsOutNotUTF8FailsAfterItsRuns) {
    std::string badByte(kRun + 100, 'x');
    badByte += '\xFF';
    badByte.append(kRun, 'y');
    // The first two of the three bytes of U+20AC.
    const std::string cutAtTheEnd = std::string(2 * kRun, 'x') + "\xE2\x82";
    for (const auto& [contents, runsAhead] :
         {std::pair{badByte, size_t{1}}, std::pair{cutAtTheEnd, size_t{2}}}) {
        SCOPED_TRACE(contents.size());
        writeFile(documents() + "/bad.txt", contents);
        const Pieced read =
            this->read("readAsText", {url("persistent", "/bad.txt"), "UTF-8", 0, -1});
        EXPECT_TRUE(isIOError(read.whole, ENCODING_ERR));
        EXPECT_EQ(read.pieces.size(), runsAhead);
        EXPECT_EQ(read.answer.status, HYBResultStatusIOError);
        EXPECT_EQ(read.answer.pieces, 0u);
        EXPECT_EQ(read.answer.message, read.whole->message());
    }
}

// A read longer than one answer may hold fails as it does when read whole, before any run goes.
TEST_F(HYBFileReadPiecesTest, AReadPastTheLongestFailsBeforeAnyRun) {
    writeFile(documents() + "/long.bin", std::string(3 * kRun, 'z'));
    HYBFileSystem::setMaxReadLength(2 * kRun);
    const Pieced read = this->read("readAsArrayBuffer", {url("persistent", "/long.bin"), 0, -1});
    EXPECT_TRUE(isIOError(read.whole, NOT_READABLE_ERR));
    EXPECT_TRUE(read.pieces.empty());
    EXPECT_EQ(read.answer.status, HYBResultStatusIOError);
    EXPECT_EQ(read.answer.message, read.whole->message());
}

// A page that takes no more of a long read (it went, or stopped taking runs in) ends it at the
// next run, also when it went before the read's work began: nothing more is read or sent, and it
// fails as a read that breaks off does.
TEST_F(HYBFileReadPiecesTest, AReadStopsWhenThePageTakesNoMore) {
    writeFile(documents() + "/stop.bin", std::string(5 * kRun, 's'));
    for (const size_t runs : {1u, 0u}) {
        const Pieced read =
            this->read("readAsArrayBuffer", {url("persistent", "/stop.bin"), 0, -1}, nullptr,
                       runs ? std::optional(runs) : std::nullopt, runs == 0);
        EXPECT_EQ(read.pieces.size(), runs);
        EXPECT_EQ(read.answer.status, HYBResultStatusIOError);
        EXPECT_EQ(read.answer.pieces, 0u);
        EXPECT_EQ(read.answer.message, ns::Value(static_cast<int>(NOT_FOUND_ERR)));
    }
}

// A file whose path changes while it is read in runs answers what the file held when the read
// began, as one read does: another file moved to its path, or the file removed, after the first
// run. A file cut short in place answers what it still held; one whose bytes can no longer be
// read answers the error, whole (the page drops the runs).
TEST_F(HYBFileReadPiecesTest, AFileThatChangesUnderItsRunsAnswersWhatOneReadWould) {
    const std::string path = documents() + "/changing.txt";
    std::string contents;
    for (size_t i = 0; contents.size() < 3 * kRun; ++i) contents += static_cast<char>('a' + i % 26);
    const auto replaced = [&] {
        writeFile(path + ".new", std::string(3 * kRun, 'N'));
        std::filesystem::rename(path + ".new", path);
    };
    const auto removed = [&] { std::filesystem::remove(path); };
    const auto cutShort = [&] { std::filesystem::resize_file(path, kRun + 10); };
    const auto unreadable = [] { ns::InjectedFaults::add("read", EIO); };
    struct Case {
        const char* name;
        std::function<void()> change;
        std::optional<std::string> answered;  // the text joined, or nothing for NOT_FOUND_ERR
    };
    const Case cases[] = {
        {"replaced", replaced, contents},
        {"removed", removed, contents},
        {"cut short", cutShort, contents.substr(0, kRun + 10)},
        {"unreadable", unreadable, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, contents);
        const Pieced read =
            this->read("readAsText", {url("persistent", "/changing.txt"), "UTF-8", 0, -1},
                       [&](const sqlitetest::SentPiece& piece) {
                           if (piece.index == 0) c.change();
                       });
        ASSERT_FALSE(read.pieces.empty());
        if (c.answered) {
            EXPECT_EQ(read.answer.status, HYBResultStatusOK);
            // Compared whole, reported by size: the texts are megabytes long.
            const std::string got = joined(read, read.answer.message);
            EXPECT_TRUE(got == *c.answered) << got.size() << " bytes joined";
        } else {
            EXPECT_EQ(read.answer.status, HYBResultStatusIOError);
            EXPECT_EQ(read.answer.pieces, 0u);
            EXPECT_EQ(read.answer.message, ns::Value(static_cast<int>(NOT_FOUND_ERR)));
        }
    }
}

}  // namespace
}  // namespace filetest
