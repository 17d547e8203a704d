#pragma once

// The SDK core's log message codes.
inline constexpr const char* kNEBLoggerCoreConfiguringDefaultApp = "I-COR000001";
inline constexpr const char* kNEBLoggerCoreConfiguringNamedApp = "I-COR000002";
inline constexpr const char* kNEBLoggerCoreDefaultAppMissing = "I-COR000003";
inline constexpr const char* kNEBLoggerCoreAppNotFound = "I-COR000004";
inline constexpr const char* kNEBLoggerCoreNoAppConfigured = "I-COR000005";
inline constexpr const char* kNEBLoggerCoreDeletingApp = "I-COR000006";
inline constexpr const char* kNEBLoggerCoreDeletedAppMissing = "I-COR000007";
inline constexpr const char* kNEBLoggerCoreBundleIDMismatch = "I-COR000008";
inline constexpr const char* kNEBLoggerCoreInvalidAppID = "I-COR000009";
inline constexpr const char* kNEBLoggerCoreFingerprintMismatch = "I-COR000010";
inline constexpr const char* kNEBLoggerCoreOptionsNotDictionary = "I-COR000011";
inline constexpr const char* kNEBLoggerCoreOptionsFileMissing = "I-COR000012";
inline constexpr const char* kNEBLoggerCoreOptionsPathNil = "I-COR000013";
inline constexpr const char* kNEBLoggerCoreOptionsFileUnreadable = "I-COR000014";
inline constexpr const char* kNEBLoggerCoreLogbookDirectoryFailed = "I-COR000015";
inline constexpr const char* kNEBLoggerCoreLogbookFileFailed = "I-COR000016";
inline constexpr const char* kNEBLoggerCoreLogbookWriteFailed = "I-COR000017";
inline constexpr const char* kNEBLoggerCoreLogbookAlreadySending = "I-COR000018";
inline constexpr const char* kNEBLoggerCoreLogbookPostCompleted = "I-COR000019";
inline constexpr const char* kNEBLoggerCoreLogbookPostFailed = "I-COR000020";
inline constexpr const char* kNEBLoggerCoreAnalyticsUnavailable = "I-COR000022";
inline constexpr const char* kNEBLoggerCoreLogbookRemoveFailed = "I-COR000023";
