#include "sdk/core/NEBLogbookFileReader.h"

#include <algorithm>
#include <climits>
#include <functional>

#include "sdk/core/pb.h"

namespace {

// Calls `record` with each whole record; answers the length they span.
size_t walk(std::string_view bytes, const std::function<void(std::string_view)>& record) {
    // The coded stream counts in int; longer input is read only as far as that reaches.
    const size_t size = std::min<size_t>(bytes.size(), INT_MAX);
    pb::io::CodedInputStream input(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   static_cast<int>(size));
    size_t whole = 0;
    while (whole < size) {
        uint32_t length = 0;
        if (!input.ReadVarint32(&length)) break;
        auto start = static_cast<size_t>(input.CurrentPosition());
        if (length > size - start) break;
        if (record) record(bytes.substr(start, length));
        input.Skip(static_cast<int>(length));
        whole = start + length;
    }
    return whole;
}

}  // namespace

size_t NEBLogbookFileReader::wholeRecordsLength(std::string_view bytes) {
    return walk(bytes, nullptr);
}

std::vector<std::string_view> NEBLogbookFileReader::records(std::string_view bytes) {
    std::vector<std::string_view> result;
    walk(bytes, [&result](std::string_view body) { result.push_back(body); });
    return result;
}
