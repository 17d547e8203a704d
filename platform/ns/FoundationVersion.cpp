#include "platform/ns/FoundationVersion.h"

#include <atomic>

namespace ns {

namespace {

std::atomic<double>& slot() {
    static std::atomic<double> number{FoundationVersion::kDefaultNumber};
    return number;
}

}  // namespace

double FoundationVersion::number() {
    return slot().load(std::memory_order_relaxed);
}

void FoundationVersion::setNumber(double number) {
    slot().store(number, std::memory_order_relaxed);
}

}  // namespace ns
