#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/ns/Data.h"

// Deflate compression in three framings (gzip, zlib, raw) and inflation back. Every operation
// answers nullopt on any failure, including empty input.

// The level when the caller names none: zlib's default.
inline constexpr int32_t kTBXDefaultCompressionLevel = -1;
// The most a single inflation produces unless the caller names another limit: input that
// would inflate to more (a decompression bomb) answers nullopt instead of exhausting memory.
inline constexpr size_t kTBXDefaultMaxInflatedLength = size_t{256} << 20;

std::optional<ns::Data> tbx_dataByGzippingBytes(const void* bytes, size_t length,
                                                int32_t level = kTBXDefaultCompressionLevel);
std::optional<ns::Data> tbx_dataByGzippingData(const ns::Data& data,
                                               int32_t level = kTBXDefaultCompressionLevel);

std::optional<ns::Data> tbx_dataByDeflatingBytes(const void* bytes, size_t length,
                                                 int32_t level = kTBXDefaultCompressionLevel);
std::optional<ns::Data> tbx_dataByDeflatingData(const ns::Data& data,
                                                int32_t level = kTBXDefaultCompressionLevel);

std::optional<ns::Data> tbx_dataByRawDeflatingBytes(const void* bytes, size_t length,
                                                    int32_t level = kTBXDefaultCompressionLevel);
std::optional<ns::Data> tbx_dataByRawDeflatingData(const ns::Data& data,
                                                   int32_t level = kTBXDefaultCompressionLevel);

// Gzip or zlib framing, told apart by the header.
std::optional<ns::Data> tbx_dataByInflatingBytes(const void* bytes, size_t length,
                                                 size_t maxLength = kTBXDefaultMaxInflatedLength);
std::optional<ns::Data> tbx_dataByInflatingData(const ns::Data& data,
                                                size_t maxLength = kTBXDefaultMaxInflatedLength);

std::optional<ns::Data> tbx_dataByRawInflatingBytes(
    const void* bytes, size_t length, size_t maxLength = kTBXDefaultMaxInflatedLength);
std::optional<ns::Data> tbx_dataByRawInflatingData(const ns::Data& data,
                                                   size_t maxLength = kTBXDefaultMaxInflatedLength);
