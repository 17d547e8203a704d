#include "sdk/instance_id/NEBInstanceIDLogger.h"

#include "platform/sec/Digest.h"
#include "sdk/instance_id/NEBInstanceIDFileHandleLogWriter.h"
#include "sdk/instance_id/NEBInstanceIDLogLevelFilter.h"
#include "sdk/instance_id/NEBInstanceIDLogStandardFormatter.h"

std::shared_ptr<NEBInstanceIDLogger> NEBInstanceIDLogger::standardLogger() {
    return std::make_shared<NEBInstanceIDLogger>(
        std::make_shared<NEBInstanceIDLogLevelFilter>(),
        std::make_shared<NEBInstanceIDLogStandardFormatter>(),
        NEBInstanceIDFileHandleLogWriter::standardOutput());
}

NEBInstanceIDLogger& NEBInstanceIDSharedLogger() {
    static const auto& shared =
        *new std::shared_ptr<NEBInstanceIDLogger>(NEBInstanceIDLogger::standardLogger());
    return *shared;
}

std::string NEBInstanceIDLogHash(std::string_view secret) {
    return sec::logDigest(secret) + "(" + std::to_string(secret.size()) + ")";
}
