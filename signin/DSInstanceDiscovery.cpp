#include "signin/DSInstanceDiscovery.h"

#include <atomic>
#include <memory>

#include "platform/ns/Format.h"
#include "platform/ns/JSONSerialization.h"
#include "platform/ns/StringComponents.h"
#include "platform/ns/URL.h"
#include "signin/DSClientMetrics.h"
#include "signin/DSHelpers.h"
#include "signin/DSLogger.h"
#include "signin/DSRequestParameters.h"
#include "signin/DSStringHelpers.h"
#include "signin/DSWebRequest.h"
#include "signin/DSWebResponse.h"

namespace {

constexpr const char* kDiscoveryPath = "common/discovery/instance";

std::string typeName(const ns::Value& value) {
    switch (value.type()) {
        case ns::Value::Type::Array:
            return "Array";
        case ns::Value::Type::String:
            return "String";
        case ns::Value::Type::Bool:
            return "Boolean";
        case ns::Value::Type::Null:
            return "Null";
        default:
            return "Number";
    }
}

std::atomic<DSInstanceDiscovery*> overridden{nullptr};

}  // namespace

const std::vector<std::string>& DSInstanceDiscovery::defaultAuthorities() {
    static const auto& authorities = *new std::vector<std::string>{
        "https://login.directory.example",      "https://login-us.directory.example",
        "https://login-eu.directory.example",   "https://login-cn.directory.example",
        "https://login-test.directory.example",
    };
    return authorities;
}

DSInstanceDiscovery& DSInstanceDiscovery::sharedInstance() {
    DSLogger::logAPIEntry();
    static auto& instance = *new DSInstanceDiscovery(defaultAuthorities());
    return instance;
}

DSInstanceDiscovery& DSInstanceDiscovery::current() {
    DSInstanceDiscovery* instance = overridden.load();
    return instance ? *instance : sharedInstance();
}

DSInstanceDiscovery::ScopedOverride::ScopedOverride(DSInstanceDiscovery& replacement)
    : previous_(overridden.exchange(&replacement)) {}

DSInstanceDiscovery::ScopedOverride::~ScopedOverride() {
    overridden.store(previous_);
}

DSInstanceDiscovery::DSInstanceDiscovery(std::vector<std::string> seededAuthorities)
    : trustedAuthority_(seededAuthorities.empty() ? std::string() : seededAuthorities.front()),
      validatedAuthorities_(seededAuthorities.begin(), seededAuthorities.end()) {}

std::set<std::string> DSInstanceDiscovery::validatedAuthorities() const {
    DSLogger::logAPIEntry();
    dispatch::Lock guard(lock_);
    return validatedAuthorities_;
}

std::optional<ns::URL> DSInstanceDiscovery::parseAuthority(std::string_view authority) {
    // One strict reading for every authority check: text that another parser could read as
    // a different host (spaces, control characters, user information) is not an authority.
    for (char c : authority) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f || c == '\\') return std::nullopt;
    }
    std::optional<ns::URL> url = ns::URL::parse(ns::asciiLowercased(authority));
    if (!url || url->scheme() != "https") return std::nullopt;
    // The host is taken decoded: an escape could hide a "/" or "@" that moves the host.
    const std::optional<std::string> host = url->host();
    if (dsIsStringNilOrBlank(host)) return std::nullopt;
    for (char c : *host) {
        // Upper case can only come from an escape here, since the text is lower-cased first.
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!plain) return std::nullopt;
    }
    if (url->user() || authority.find('@') != std::string_view::npos) return std::nullopt;
    return url;
}

void DSInstanceDiscovery::validateAuthority(const std::optional<std::string>& authority,
                                            const DSRequestParameters& requestParams,
                                            Completion completionBlock) {
    DSLogger::logAPIEntry();
    if (!completionBlock) DSLogger::raiseInvalidArgument("completionBlock");
    const std::optional<ns::UUID> correlationId = requestParams.correlationId();
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr, "Instance discovery", 0, correlationId,
                        nullptr, "Attempting to validate the authority: %@; CorrelationId: %@",
                        dsWithoutUserInfo(authority).value_or("(null)"),
                        correlationId ? correlationId->UUIDString() : std::string("(null)"));
    const std::optional<std::string> lowered =
        authority ? std::optional<std::string>(ns::asciiLowercased(*authority)) : std::nullopt;

    std::optional<DSAuthenticationError> error;
    const std::optional<std::string> host = extractHost(lowered, correlationId, error);
    if (!host) {
        completionBlock(false, error);
        return;
    }
    if (isAuthorityValidated(host)) {
        completionBlock(true, std::nullopt);
        return;
    }
    requestValidationOfAuthority(*lowered, *host, trustedAuthority_, requestParams,
                                 std::move(completionBlock));
}

std::optional<std::string> DSInstanceDiscovery::extractHost(
    const std::optional<std::string>& authority, const std::optional<ns::UUID>& correlationId,
    std::optional<DSAuthenticationError>& error) {
    const std::optional<ns::URL> url =
        authority ? parseAuthority(ns::asciiLowercased(*authority)) : std::nullopt;
    if (!url) {
        error = DSAuthenticationError::errorFromArgument(dsWithoutUserInfo(authority), "authority",
                                                         correlationId);
        return std::nullopt;
    }
    const std::vector<std::string> parts = url->pathComponents();
    // The root "/" comes first; the tenant is the segment after it.
    if (parts.size() < 2 || parts[1].empty()) {
        error = DSAuthenticationError::errorFromAuthenticationError(
            DS_ERROR_DEVELOPER_INVALID_ARGUMENT, std::nullopt,
            "Missing tenant in the authority URL. Please add the tenant or use 'common', e.g. "
            "https://login.directory.example/example.com.",
            correlationId);
        return std::nullopt;
    }
    if (parts[1] == "fds") {
        error = DSAuthenticationError::errorFromAuthenticationError(
            DS_ERROR_DEVELOPER_INVALID_ARGUMENT, std::nullopt,
            "Authority validation is not supported for FDS instances. Consider disabling the "
            "authority validation in the authentication context.",
            correlationId);
        return std::nullopt;
    }
    return "https://" + *url->host();
}

bool DSInstanceDiscovery::isAuthorityValidated(const std::optional<std::string>& host) const {
    if (!host) return false;
    bool result;
    {
        dispatch::Lock guard(lock_);
        result = validatedAuthorities_.count(*host) > 0;
    }
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr, "Authority Validation Cache", 0,
                        std::nullopt, nullptr, "Checking cache for '%@'. Result: %d", *host,
                        static_cast<int>(result));
    return result;
}

bool DSInstanceDiscovery::addValidAuthority(const std::optional<std::string>& host) {
    if (dsIsStringNilOrBlank(host)) return false;
    {
        dispatch::Lock guard(lock_);
        validatedAuthorities_.insert(*host);
    }
    DSLogger::logFormat(DS_LOG_LEVEL_VERBOSE, nullptr, "Authority Validation Cache", 0,
                        std::nullopt, nullptr, "Setting validation set to YES for authority '%@'",
                        *host);
    return true;
}

void DSInstanceDiscovery::requestValidationOfAuthority(const std::string& authority,
                                                       const std::string& host,
                                                       const std::string& trustedAuthority,
                                                       const DSRequestParameters& requestParams,
                                                       Completion completionBlock) {
    if (!completionBlock) DSLogger::raiseInvalidArgument("completionBlock");
    const std::optional<ns::UUID> correlationId = requestParams.correlationId();
    if (!correlationId) DSLogger::raiseInvalidArgument("correlationId");

    const std::string query = dsURLFormEncode(
        {{"api-version", "1.0"}, {"authorization_endpoint", authority + "/oauth2/authorize"}});
    const std::string endPoint = ns::format("%@/%@?%@", trustedAuthority, kDiscoveryPath, query);
    DSLogger::log(DS_LOG_LEVEL_VERBOSE, nullptr, "Authority Validation Request", 0, endPoint,
                  correlationId);

    const std::optional<ns::URL> url = ns::URL::parse(endPoint);
    if (!url) {
        completionBlock(false, DSAuthenticationError::errorFromArgument(
                                   dsWithoutUserInfo(authority), "authority", correlationId));
        return;
    }
    auto request = DSWebRequest::initWithURL(*url, requestParams);
    request->setIsGetRequest(true);
    net::setHeaderValue(request->headers(), "Accept", "application/json");
    net::setHeaderValue(request->headers(), "Content-Type", "application/x-www-form-urlencoded");

    const ns::Date startTime = ns::Date::now();
    DSClientMetrics::getInstance().addClientMetrics(request->headers(), endPoint);

    request->send(
        [this, host, endPoint, startTime, correlationId,
         completionBlock = std::move(completionBlock)](std::optional<ns::Error> transportError,
                                                       std::shared_ptr<DSWebResponse> response) {
            std::optional<DSAuthenticationError> error;
            if (transportError) {
                DSLogger::log(DS_LOG_LEVEL_WARN, nullptr, "System error while making request.",
                              transportError->code(), transportError->description(), correlationId);
                error = DSAuthenticationError::errorFromNSError(
                    *transportError, transportError->localizedDescription(), correlationId);
            } else {
                error = processWebReponse(*response, host, correlationId);
            }
            DSClientMetrics::getInstance().endClientMetricsRecord(
                endPoint, startTime, correlationId,
                error ? error->errorDetails() : std::optional<std::string>());
            completionBlock(!error.has_value(), error);
        });
}

std::optional<DSAuthenticationError> DSInstanceDiscovery::errorOfDiscoveryAnswer(
    int64_t statusCode, std::string_view body, const std::optional<ns::UUID>& correlationId) {
    if (statusCode != 200 && statusCode != 400 && statusCode != 401) {
        const std::string text(body);
        DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr,
                            ns::format("Server HTTP Status %ld", static_cast<long>(statusCode)), 0,
                            correlationId, nullptr, "Server HTTP Response %@", text);
        return DSAuthenticationError::errorFromAuthenticationError(
            DS_ERROR_DEVELOPER_AUTHORITY_VALIDATION, std::nullopt,
            ns::format("Server HTTP Response %@", text), correlationId);
    }
    auto fail = [&](const std::string& details) {
        return DSAuthenticationError::errorFromAuthenticationError(
            DS_ERROR_DEVELOPER_AUTHORITY_VALIDATION, std::nullopt, details, correlationId);
    };
    if (body.empty()) return fail("No JSON object was in the web response data");
    ns::Result<ns::Value> parsed = ns::JSONSerialization::read(body);
    if (!parsed) return fail(parsed.error().localizedDescription());
    const ns::Dictionary* object = parsed->dictionary();
    if (!object) return fail(ns::format("Unexpected object type: %@", typeName(*parsed)));

    DSLogger::log(DS_LOG_LEVEL_VERBOSE, nullptr, "Discovery response", 0, parsed->description(),
                  correlationId);
    const ns::Value* endpoint = parsed->find("tenant_discovery_endpoint");
    if (endpoint && endpoint->string() && !dsIsStringNilOrBlank(*endpoint->string()))
        return std::nullopt;

    const ns::Value* code = parsed->find("error");
    const ns::Value* description = parsed->find("error_description");
    const std::optional<std::string> protocolCode =
        code && !code->isNull() ? std::optional<std::string>(code->stringValue()) : std::nullopt;
    const std::string details =
        description && !description->isNull()
            ? description->stringValue()
            : ns::format("The authority validation server returned an error: %@.",
                         protocolCode.value_or("(null)"));
    return DSAuthenticationError::errorFromAuthenticationError(
        DS_ERROR_DEVELOPER_AUTHORITY_VALIDATION, protocolCode, details, correlationId);
}

std::optional<DSAuthenticationError> DSInstanceDiscovery::processWebReponse(
    const DSWebResponse& response, const std::string& host,
    const std::optional<ns::UUID>& correlationId) {
    std::optional<DSAuthenticationError> error =
        errorOfDiscoveryAnswer(response.statusCode(), response.body().chars(), correlationId);
    if (!error) addValidAuthority(host);
    return error;
}

std::optional<std::string> DSInstanceDiscovery::canonicalizeAuthority(
    const std::optional<std::string>& authority) {
    // Every cache look-up asks this of its context's one authority: each thread keeps the
    // last answer that was a canonical form.
    thread_local std::string lastAuthority, lastCanonical;
    if (authority && !lastAuthority.empty() && *authority == lastAuthority) return lastCanonical;
    std::optional<std::string> canonical = canonicalForm(authority);
    if (canonical && authority) {
        lastAuthority = *authority;
        lastCanonical = *canonical;
    }
    return canonical;
}

std::optional<std::string> DSInstanceDiscovery::canonicalForm(
    const std::optional<std::string>& authority) {
    if (dsIsStringNilOrBlank(authority)) return std::nullopt;
    const std::string text = ns::asciiLowercased(dsTrimmedString(*authority));
    if (!ns::URL::parse(text)) {
        DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr, "The authority is not a valid URL", 0,
                            std::nullopt, nullptr, "Authority %@", *dsWithoutUserInfo(authority));
        return std::nullopt;
    }
    std::optional<ns::URL> url = parseAuthority(text);
    if (!url) {
        DSLogger::logFormat(DS_LOG_LEVEL_WARN, nullptr, "Non HTTPS protocol for the authority", 0,
                            std::nullopt, nullptr, "Authority %@", *dsWithoutUserInfo(authority));
        return std::nullopt;
    }
    const std::vector<std::string> parts = url->pathComponents();
    const std::optional<std::string> host = url->host();
    // The root "/" is the first component; the tenant is the second.
    if (parts.size() < 2 || dsIsStringNilOrBlank(parts[1]) || dsIsStringNilOrBlank(host))
        return std::nullopt;
    // The tenant comes decoded; one that held an escaped separator or a character a URL
    // cannot carry would make a key that reads back as another authority, or not at all.
    const std::string tenant = ns::asciiLowercased(parts[1]);
    for (char c : tenant) {
        const bool pathChar =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("-._~!$&'()*+,;=:").find(c) != std::string_view::npos;
        if (!pathChar) return std::nullopt;
    }
    if (std::optional<int> port = url->port())
        return ns::format("%@://%@:%d/%@", *url->scheme(), *host, *port, tenant);
    return ns::format("%@://%@/%@", *url->scheme(), *host, tenant);
}
