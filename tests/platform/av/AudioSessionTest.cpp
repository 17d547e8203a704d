#include "platform/av/AudioSession.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "platform/av/Microphone.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/testing/InjectedFaults.h"
#include "platform/testing/ScopedSharedInstance.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using Category = av::AudioSession::Category;
using Permission = av::AudioSession::RecordPermission;

class AudioSessionTest : public testsupport::ManualRunLoop {
protected:
    void SetUp() override {
        ManualRunLoop::SetUp();
        av::Microphone::setShared(av::Microphone::tone(440));
    }
    void TearDown() override {
        av::Microphone::setShared(av::Microphone::tone(440));
        ManualRunLoop::TearDown();
    }

    // The answer to one request, and whether it came on the main thread.
    std::pair<std::optional<bool>, bool> ask() {
        std::optional<bool> answer;
        bool onMain = true;
        session->requestRecordPermission([&](bool granted) {
            onMain = dispatch::RunLoop::isMainThread();
            answer = granted;
        });
        loop().runUntilIdle();
        return {answer, onMain};
    }

    ns::ScopedSharedInstance<av::AudioSession> session;
};

// The user is asked once; their answer stands for every later request, and it comes on
// another thread, as the platform's does.
TEST_F(AudioSessionTest, TheUsersFirstAnswerStands) {
    EXPECT_EQ(session->recordPermission(), Permission::Undetermined);
    session->setUserGrantsRecordPermission(false);
    const auto [refused, onMain] = ask();
    EXPECT_EQ(refused, false);
    EXPECT_FALSE(onMain);
    EXPECT_EQ(session->recordPermission(), Permission::Denied);
    session->setUserGrantsRecordPermission(true);
    EXPECT_EQ(ask().first, false) << "asked once only";
}

// Activating a category that records needs an input that opens; otherwise the session stays
// as it was. Categories that do not record need none.
TEST_F(AudioSessionTest, RecordingNeedsAnInputThatOpens) {
    ASSERT_TRUE(av::Microphone::configure("none"));  // as the host's --microphone none
    EXPECT_FALSE(av::Microphone::shared());
    EXPECT_TRUE(session->setActive(true).ok()) << "playing needs no input";
    auto refused = session->setCategory(Category::Record);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), av::AudioSession::kNoSoundInput);
    EXPECT_EQ(session->category(), Category::SoloAmbient);
    EXPECT_TRUE(session->setActive(false).ok());

    av::Microphone::setShared(av::Microphone::tone(440));
    ASSERT_TRUE(session->setCategory(Category::Record).ok());
    {
        ns::InjectedFaults faults;
        faults.add("microphone.open", EIO);
        EXPECT_FALSE(session->setActive(true).ok());
        EXPECT_FALSE(session->isActive());
    }
    EXPECT_TRUE(session->setActive(true).ok());
    EXPECT_TRUE(session->isActive());
    // Held already: turning to play-and-record opens nothing again, and deactivating lets go.
    ns::InjectedFaults faults;
    faults.add("microphone.open", EIO);
    EXPECT_TRUE(session->setCategory(Category::PlayAndRecord).ok());
    EXPECT_TRUE(session->setActive(false).ok());
    EXPECT_FALSE(session->isActive());
}

}  // namespace
