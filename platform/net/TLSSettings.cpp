#include "platform/net/TLSSettings.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "platform/dispatch/Mutex.h"
#include "platform/ns/Log.h"

namespace net {

namespace {

dispatch::Mutex& settingsMutex() {
    static dispatch::Mutex mutex;
    return mutex;
}

// Read by connections on other threads, which may still be opening while the program exits:
// never destroyed.
std::string& extraFile() REQUIRES(settingsMutex()) {
    static auto& path = *new std::string();
    return path;
}

}  // namespace

void TLSSettings::setExtraCAFile(std::string path) {
    dispatch::Lock lock(settingsMutex());
    extraFile() = std::move(path);
}

std::string TLSSettings::extraCAFile() {
    dispatch::Lock lock(settingsMutex());
    return extraFile();
}

bool TLSSettings::loadTrustAnchors(X509_STORE* store) {
    X509_STORE_set_default_paths(store);
    return loadExtraCAFile(store);
}

bool TLSSettings::loadExtraCAFile(X509_STORE* store) {
    auto extra = extraCAFile();
    if (extra.empty()) return true;
    if (X509_STORE_load_file(store, extra.c_str()) == 1) return true;
    ns::Log::write(ns::LogLevel::Error, "net", "tls",
                   "Cannot load the extra certificate authorities from " + extra);
    return false;
}

}  // namespace net
