#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "platform/ns/Object.h"
#include "platform/ns/Value.h"
#include "platform/svc/ABMultiValue.h"

class NSDK_TBXABMultiValue;

// What a fast enumeration keeps between calls: the caller compares *mutationsPtr with its
// first value to notice changes.
struct TBXFastEnumerationState {
    uint64_t state = 0;
    const uint64_t* mutationsPtr = nullptr;
};

// Walks a multi-value's values or labels in order. A change of the multi-value after the
// first step makes the next step throw ns::Exception (NSGenericException) "*** Collection
// <...> was mutated while being enumerated".
class NSDK_TBXABMultiValueEnumerator : public ns::Object {
public:
    static std::shared_ptr<NSDK_TBXABMultiValueEnumerator> valueEnumeratorFor(
        std::shared_ptr<NSDK_TBXABMultiValue> enumeree);
    static std::shared_ptr<NSDK_TBXABMultiValueEnumerator> labelEnumeratorFor(
        std::shared_ptr<NSDK_TBXABMultiValue> enumeree);
    // Null for no multi-value.
    static std::shared_ptr<NSDK_TBXABMultiValueEnumerator> initWithEnumeree(
        std::shared_ptr<NSDK_TBXABMultiValue> enumeree, bool useLabels);

    NSDK_TBXABMultiValueEnumerator(std::shared_ptr<NSDK_TBXABMultiValue> enumeree, bool useLabels)
        : enumeree_(std::move(enumeree)), useLabels_(useLabels) {}

    // The next value (labels as strings); nothing once the noted count is reached.
    std::optional<ns::Value> nextObject();
    // Fills as much of `buffer` as entries remain from the current position; 0 at the end.
    size_t countByEnumerating(TBXFastEnumerationState& state, std::span<ns::Value> buffer);

private:
    void beginIfNeeded();
    std::optional<ns::Value> entryAt(size_t index) const;

    std::shared_ptr<svc::ABMultiValue> ref_;
    std::shared_ptr<NSDK_TBXABMultiValue> enumeree_;
    uint64_t mutations_ = 0;
    size_t count_ = 0;
    size_t index_ = 0;
    bool useLabels_;
    bool started_ = false;
};
