#include "sdk/analytics/NEBAInternalNames.h"

const NEBAInternalNames::NameMap& NEBAInternalNames::eventNameMap() {
    static const auto& map = *new NameMap{
        {"app_clear_data", "_cd"},
        {"app_exception", "_ae"},
        {"app_remove", "_ui"},
        {"app_update", "_au"},
        {"error", "_err"},
        {"nebula_campaign", "_cmp"},
        {"first_open", "_f"},
        {"in_app_purchase", "_iap"},
        {"notification_dismiss", "_nd"},
        {"notification_foreground", "_nf"},
        {"notification_open", "_no"},
        {"notification_receive", "_nr"},
        {"os_update", "_ou"},
        {"session_start", "_s"},
        {"user_engagement", "_e"},
    };
    return map;
}

const NEBAInternalNames::NameMap& NEBAInternalNames::parameterNameMap() {
    static const auto& map = *new NameMap{
        {"debug", "_dbg"},
        {"engagement_time_msec", "_et"},
        {"nebula_conversion", "_c"},
        {"nebula_error", "_err"},
        {"nebula_error_length", "_el"},
        {"nebula_error_value", "_ev"},
        {"nebula_event_origin", "_o"},
        {"message_id", "_nmid"},
        {"message_name", "_nmn"},
        {"message_time", "_nmt"},
        {"message_device_time", "_ndt"},
        {"previous_app_version", "_pv"},
        {"previous_first_open_count", "_pfo"},
        {"previous_nmp_app_id", "_pnmp"},
        {"previous_os_version", "_po"},
        {"realtime", "_r"},
        {"topic", "_nt"},
        {"update_with_analytics", "_uwa"},
    };
    return map;
}

const NEBAInternalNames::NameMap& NEBAInternalNames::userPropertyNameMap() {
    static const auto& map = *new NameMap{
        {"nebula_last_notification", "_ln"},
        {"first_open_time", "_fot"},
        {"last_deep_link_referrer", "_ldl"},
        {"user_id", "_id"},
    };
    return map;
}
