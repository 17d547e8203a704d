#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

// The sign-in library's process-wide settings.
class DSAuthenticationSettings {
public:
    static DSAuthenticationSettings& sharedInstance();

    // Seconds each web request of the library may take.
    int32_t requestTimeOut() const { return requestTimeOut_; }
    void setRequestTimeOut(int32_t seconds) { requestTimeOut_ = seconds; }
    // An access token counts as expired this many seconds before its expiry time.
    uint32_t expirationBuffer() const { return expirationBuffer_; }
    void setExpirationBuffer(uint32_t seconds) { expirationBuffer_ = seconds; }
    bool enableFullScreen() const { return enableFullScreen_; }
    void setEnableFullScreen(bool on) { enableFullScreen_ = on; }
    // Kept by the keychain token cache; these forward to it.
    std::string defaultKeychainGroup() const;
    void setDefaultKeychainGroup(const std::optional<std::string>& group);

private:
    DSAuthenticationSettings();

    std::atomic<int32_t> requestTimeOut_;
    std::atomic<uint32_t> expirationBuffer_;
    std::atomic<bool> enableFullScreen_;
};
