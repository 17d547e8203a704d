#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/net/BackgroundJob.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

// Job files come from disk, where a crash or another program may have left anything.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto job = net::BackgroundJob::parse(text);
    if (!job) return 0;
    // Whatever is accepted is a job this program could have written: it reads back the same.
    auto again = net::BackgroundJob::parse(job->serialized());
    require(again.has_value());
    require(again->identifier() == job->identifier());
    require(again->sessionIdentifier() == job->sessionIdentifier());
    require(again->bodyFile() == job->bodyFile());
    require(again->request().url() == job->request().url());
    require(again->request().HTTPMethod() == job->request().HTTPMethod());
    require(again->request().allHTTPHeaderFields() == job->request().allHTTPHeaderFields());
    return 0;
}
