#pragma once

// Definitions of NEBADatabase's template operations; included by NEBADatabase.h only.

#include <climits>

#include "platform/ns/Format.h"
#include "sdk/analytics/NEBAMonitor.h"
#include "sdk/analytics/NSError+NEBAAdditions.h"

template <class T>
ns::Result<std::vector<T>> NEBADatabase::allDataTypesFromTableWithName(
    const std::string& table, int64_t limit, const CreateDataType<T>& create) {
    if (!create) return neba_argumentError("Received nil block to get all data types");
    auto records = store_->recordsForQuery(ns::format(
        "SELECT rowid, * FROM %@ ORDER BY rowid LIMIT %lld", table, static_cast<long long>(limit)));
    if (!records) return records.error();
    std::vector<T> objects;
    for (const auto& record : *records) {
        if (auto object = create(record)) objects.push_back(std::move(*object));
    }
    return objects;
}

template <class T>
ns::Result<std::vector<T>> NEBADatabase::dataTypesFromTableWithName(
    const std::string& table, const std::string& column, const std::string& value,
    const CreateDataType<T>& create) {
    if (table.empty())
        return neba_argumentError("Received empty table name to create data type from table");
    if (column.empty())
        return neba_argumentError("Received empty column name to create data type from table");
    if (value.empty())
        return neba_argumentError("Received empty column value to create data type from table");
    if (!create) return neba_stateError("Received nil block to create data type from table");
    auto records = store_->recordsForQuery(
        ns::format("SELECT rowid, * FROM %@ WHERE %@ = ?", table, column), {ns::Value(value)});
    if (!records) return records.error();
    std::vector<T> objects;
    for (const auto& record : *records) {
        if (auto object = create(record)) objects.push_back(std::move(*object));
    }
    if (!records->empty() && objects.empty()) {
        return neba_stateError("Failed to initialize data types from dictionaries");
    }
    return objects;
}

template <class Message>
std::optional<Message> NEBADatabase::safeParse(const ns::Data& data, const char* className) {
    if (data.empty() || data.length() > static_cast<size_t>(INT32_MAX)) return std::nullopt;
    Message message;
    if (!message.ParseFromArray(data.bytes(), static_cast<int>(data.length()))) {
        NEBAMonitor::error(
            ns::format("Exception in parsing %@ data. Exception", std::string(className)),
            {ns::Value("parse failed")});
        return std::nullopt;
    }
    return message;
}
