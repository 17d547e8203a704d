#include "sdk/analytics/NEBAPersistedConfig.h"

#include <cmath>
#include <random>

#include "platform/dispatch/RunLoop.h"
#include "platform/ns/FileManager.h"
#include "sdk/analytics/NEBAMonitor.h"

namespace {
constexpr const char* kSynchronizeOperation = "synchronizeToDisk";
}

std::shared_ptr<NEBAPersistedConfig> NEBAPersistedConfig::initWithSuiteName(std::string_view name) {
    if (name.empty()) return nullptr;
    auto defaults = ns::UserDefaults::initWithSuiteName(name);
    if (!defaults) return nullptr;
    return std::shared_ptr<NEBAPersistedConfig>(
        new NEBAPersistedConfig(std::string(name), std::move(defaults)));
}

NEBAPersistedConfig::NEBAPersistedConfig(std::string name,
                                         std::shared_ptr<ns::UserDefaults> defaults)
    : name_(std::move(name)), userDefaults_(std::move(defaults)) {}

NEBAPersistedConfig::~NEBAPersistedConfig() {
    dispatch::RunLoop::main().cancelPerforms(this, kSynchronizeOperation);
    userDefaults_->synchronize();
}

double NEBAPersistedConfig::doubleForKey(std::string_view key) const {
    if (key.empty()) return 0.0;
    auto value = userDefaults_->objectForKey(key);
    if (!value.isNumber()) return 0.0;
    double d = value.doubleValue();
    return std::isfinite(d) ? d : 0.0;
}

std::optional<std::string> NEBAPersistedConfig::stringForKey(std::string_view key) const {
    if (key.empty()) return std::nullopt;
    auto value = userDefaults_->objectForKey(key);
    if (const auto* text = value.string()) return *text;
    return std::nullopt;
}

int64_t NEBAPersistedConfig::int64ForKey(std::string_view key) const {
    return int64ForKey(key, *userDefaults_);
}

int64_t NEBAPersistedConfig::int64ForKey(std::string_view key, const ns::UserDefaults& defaults) {
    if (key.empty()) return 0;
    auto value = defaults.objectForKey(key);
    if (!value.isNumber() || value.isBool()) return 0;
    if (auto exact = value.int64()) return *exact;
    // A double is range-checked before narrowing: out of range or not finite reads as 0.
    double d = value.doubleValue();
    if (!std::isfinite(d) || d >= 9223372036854775807.0 || d < -9223372036854775808.0) return 0;
    return static_cast<int64_t>(d);
}

void NEBAPersistedConfig::setDouble(double value, std::string_view key) {
    if (key.empty()) return;
    userDefaults_->setDouble(key, value);
    scheduleSynchronizeToDisk();
}

void NEBAPersistedConfig::setString(std::string_view value, std::string_view key) {
    if (key.empty()) return;
    userDefaults_->setObject(key, ns::Value(value));
    scheduleSynchronizeToDisk();
}

void NEBAPersistedConfig::setInt64(int64_t value, std::string_view key) {
    if (key.empty()) return;
    userDefaults_->setInteger(key, value);
    scheduleSynchronizeToDisk();
}

bool NEBAPersistedConfig::startNewSession() const {
    return userDefaults_->boolForKey(kStartNewSessionKey);
}

void NEBAPersistedConfig::setStartNewSession(bool start) {
    userDefaults_->setBool(kStartNewSessionKey, start);
}

std::optional<NEBAPersistedConfig::BackgroundUpload> NEBAPersistedConfig::backgroundUpload() const {
    const ns::Value kept = userDefaults_->objectForKey(kBackgroundUploadKey);
    const ns::Value* session = kept.find("session");
    const ns::Value* bundles = kept.find("bundles");
    if (!session || !session->string() || !bundles || !bundles->array()) return std::nullopt;
    BackgroundUpload upload{*session->string(), {}};
    for (const auto& bundle : *bundles->array()) {
        const ns::Array* pair = bundle.array();
        if (!pair || pair->size() != 2 || !(*pair)[0].int64() || !(*pair)[1].int64())
            return std::nullopt;
        upload.bundles.emplace_back(*(*pair)[0].int64(), *(*pair)[1].int64());
    }
    return upload;
}

void NEBAPersistedConfig::setBackgroundUpload(const BackgroundUpload& upload) {
    ns::Array bundles;
    for (const auto& [rowID, end] : upload.bundles)
        bundles.push_back(ns::Value::array({rowID, end}));
    userDefaults_->setObject(kBackgroundUploadKey, ns::Value::dict({{"session", upload.sessionID},
                                                                    {"bundles", bundles}}));
    synchronizeToDisk();
}

void NEBAPersistedConfig::removeBackgroundUpload() {
    if (userDefaults_->objectForKey(kBackgroundUploadKey).isNull()) return;
    userDefaults_->removeObjectForKey(kBackgroundUploadKey);
    scheduleSynchronizeToDisk();
}

double NEBAPersistedConfig::midnightOffset() {
    auto value = userDefaults_->objectForKey(kMidnightOffsetKey);
    if (value.isNumber() && !value.isBool()) {
        double offset = value.doubleValue();
        if (std::isfinite(offset) && offset >= 0 && offset < 86400) return offset;
    }
    std::random_device device;
    auto millis = std::uniform_int_distribution<int64_t>(0, 86399999)(device);
    double offset = static_cast<double>(millis) / 1000.0;
    setDouble(offset, kMidnightOffsetKey);
    return offset;
}

int64_t NEBAPersistedConfig::measurementEnabledState() const {
    return int64ForKey(kMeasurementEnabledStateKey, *ns::UserDefaults::standardUserDefaults());
}

void NEBAPersistedConfig::clearValues() {
    userDefaults_->removePersistentDomainForName(name_);
    scheduleSynchronizeToDisk();
}

std::string NEBAPersistedConfig::preferencesFilePath() const {
    return ns::UserDefaults::preferencesFilePath(name_);
}

void NEBAPersistedConfig::scheduleSynchronizeToDisk() {
    auto& loop = dispatch::RunLoop::main();
    loop.cancelPerforms(this, kSynchronizeOperation);
    std::weak_ptr<NEBAPersistedConfig> weak = weak_from_this();
    loop.performAfter(this, kSynchronizeOperation, dispatch::seconds(kSynchronizeDelaySeconds),
                      [weak] {
                          if (auto self = weak.lock()) self->synchronizeToDisk();
                      });
}

void NEBAPersistedConfig::synchronizeToDisk() {
    userDefaults_->synchronize();
    if (excludedFromBackup_.exchange(true)) return;
    auto excluded =
        ns::FileManager::defaultManager().setExcludedFromBackup(preferencesFilePath(), true);
    if (!excluded) {
        NEBAMonitor::warning("Failed to exclude preferences file from backup", {excluded.error()});
    }
}
