#include "sdk/core/NEBLogbookFileReader.h"

#include <algorithm>
#include <climits>

#include "sdk/core/pb.h"

size_t NEBLogbookFileReader::wholeRecordsLength(std::string_view bytes) {
    const auto bodies = records(bytes);
    if (bodies.empty()) return 0;
    return static_cast<size_t>(bodies.back().data() + bodies.back().size() - bytes.data());
}

std::vector<std::string_view> NEBLogbookFileReader::records(std::string_view bytes) {
    // The coded stream counts in int; longer input is read only as far as that reaches.
    const size_t size = std::min<size_t>(bytes.size(), INT_MAX);
    pb::io::CodedInputStream input(reinterpret_cast<const uint8_t*>(bytes.data()),
                                   static_cast<int>(size));
    std::vector<std::string_view> bodies;
    uint32_t length = 0;
    while (input.ReadVarint32(&length)) {
        const auto start = static_cast<size_t>(input.CurrentPosition());
        if (length > size - start) break;
        bodies.push_back(bytes.substr(start, length));
        input.Skip(static_cast<int>(length));
    }
    return bodies;
}
