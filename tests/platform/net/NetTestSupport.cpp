#include "tests/platform/net/NetTestSupport.h"

#include <filesystem>

#include "platform/ns/AtomicFile.h"

namespace nettest {

net::URLSession::DataCompletion recordInto(const std::shared_ptr<Outcome>& outcome) {
    return [outcome](std::optional<ns::Data> data, std::shared_ptr<const net::URLResponse> response,
                     std::optional<ns::Error> error) {
        outcome->data = std::move(data);
        outcome->response = std::move(response);
        outcome->error = std::move(error);
        outcome->calls++;
    };
}

net::URLSession::DownloadCompletion recordDownloadInto(const std::shared_ptr<Outcome>& outcome) {
    return
        [outcome](std::optional<ns::URL> location, std::shared_ptr<const net::URLResponse> response,
                  std::optional<ns::Error> error) {
            outcome->location = location;
            if (location) {
                outcome->fileExistedDuringCompletion = std::filesystem::exists(location->path());
                if (auto bytes = ns::readFile(location->path())) {
                    outcome->downloaded = std::string(bytes->chars());
                }
            }
            outcome->response = std::move(response);
            outcome->error = std::move(error);
            outcome->calls++;
        };
}

bool waitFor(const std::shared_ptr<Outcome>& outcome) {
    return peers::runMainLoopUntil([&] { return outcome->calls > 0; });
}

}  // namespace nettest
