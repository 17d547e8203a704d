// Queue files of any content: the framing reader stays inside the bytes, accounts for every
// byte it calls whole, and reads the same records from the whole part alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "proto/logbook.pb.h"
#include "sdk/core/NEBLogbookFileReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    size_t whole = NEBLogbookFileReader::wholeRecordsLength(bytes);
    if (whole > size) std::abort();
    auto records = NEBLogbookFileReader::records(bytes);
    size_t end = 0;
    for (auto record : records) {
        if (record.data() < bytes.data() || record.data() + record.size() > bytes.data() + size) {
            std::abort();
        }
        end = static_cast<size_t>(record.data() - bytes.data()) + record.size();
        NEB_LOGBOOK::LogEvent event;
        (void)event.ParseFromArray(record.data(), static_cast<int>(record.size()));
    }
    if (end != whole) std::abort();
    auto again = NEBLogbookFileReader::records(bytes.substr(0, whole));
    if (again.size() != records.size()) std::abort();
    return 0;
}
