#include "platform/ns/Error.h"

#include <gtest/gtest.h>

namespace {

TEST(Error, LocalizedDescriptionFallsBackOnDomainAndCode) {
    EXPECT_EQ(ns::Error("NSCocoaErrorDomain", 4).localizedDescription(),
              "The operation couldn\u2019t be completed. (NSCocoaErrorDomain error 4.)");
    EXPECT_EQ(ns::Error("D", -1, {{"NSLocalizedDescription", 7}}).localizedDescription(),
              "The operation couldn\u2019t be completed. (D error -1.)");
    EXPECT_EQ(ns::Error("D", 1, {{"NSLocalizedDescription", "Boom"}}).localizedDescription(),
              "Boom");
}

TEST(Error, DescriptionListsUserInfoInKeyOrder) {
    EXPECT_EQ(ns::Error("MyDomain", 12).description(),
              "Error Domain=MyDomain Code=12 \"The operation couldn\u2019t be completed. "
              "(MyDomain error 12.)\"");
    const ns::Error e(
        "NSPOSIXErrorDomain", 2,
        {{"NSLocalizedDescription", "No such file or directory"}, {"NSFilePath", "/tmp/x y"}});
    EXPECT_EQ(e.description(),
              "Error Domain=NSPOSIXErrorDomain Code=2 \"No such file or directory\" "
              "UserInfo={NSFilePath=/tmp/x y, NSLocalizedDescription=No such file or directory}");
}

TEST(Error, CocoaErrorsCarryTheReadAndWriteTexts) {
    const ns::Error read = ns::cocoaError(3840, "Bad thing around character 3.");
    EXPECT_EQ(read.domain(), "NSCocoaErrorDomain");
    EXPECT_EQ(read.localizedDescription(),
              "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
    EXPECT_EQ(read.userInfo().at("NSDebugDescription"), ns::Value("Bad thing around character 3."));
    EXPECT_EQ(ns::cocoaError(3851, "x").localizedDescription(),
              "The data couldn\u2019t be written because it isn\u2019t in the correct format.");
}

}  // namespace
