#include "toolbox/iPhone/NSDK_TBXABMultiValueEnumerator.h"

#include "platform/ns/Exception.h"
#include "platform/ns/Format.h"
#include "toolbox/iPhone/NSDK_TBXABMultiValue.h"

std::shared_ptr<NSDK_TBXABMultiValueEnumerator> NSDK_TBXABMultiValueEnumerator::valueEnumeratorFor(
    std::shared_ptr<NSDK_TBXABMultiValue> enumeree) {
    return initWithEnumeree(std::move(enumeree), false);
}

std::shared_ptr<NSDK_TBXABMultiValueEnumerator> NSDK_TBXABMultiValueEnumerator::labelEnumeratorFor(
    std::shared_ptr<NSDK_TBXABMultiValue> enumeree) {
    return initWithEnumeree(std::move(enumeree), true);
}

std::shared_ptr<NSDK_TBXABMultiValueEnumerator> NSDK_TBXABMultiValueEnumerator::initWithEnumeree(
    std::shared_ptr<NSDK_TBXABMultiValue> enumeree, bool useLabels) {
    if (!enumeree) return nullptr;
    return std::make_shared<NSDK_TBXABMultiValueEnumerator>(std::move(enumeree), useLabels);
}

void NSDK_TBXABMultiValueEnumerator::beginIfNeeded() {
    if (started_) return;
    started_ = true;
    ref_ = enumeree_->multiValueRef();
    count_ = enumeree_->count();
    mutations_ = enumeree_->mutations();
}

std::optional<ns::Value> NSDK_TBXABMultiValueEnumerator::entryAt(size_t index) const {
    if (useLabels_) {
        auto label = ref_->labelAtIndex(index);
        if (!label) return std::nullopt;
        return ns::Value(*label);
    }
    return ref_->valueAtIndex(index);
}

std::optional<ns::Value> NSDK_TBXABMultiValueEnumerator::nextObject() {
    beginIfNeeded();
    if (enumeree_->mutations() != mutations_) {
        throw ns::Exception(
            ns::kGenericException,
            ns::format("*** Collection <%@> was mutated while being enumerated", *enumeree_));
    }
    if (index_ >= count_) return std::nullopt;
    return entryAt(index_++);
}

size_t NSDK_TBXABMultiValueEnumerator::countByEnumerating(TBXFastEnumerationState& state,
                                                          std::span<ns::Value> buffer) {
    beginIfNeeded();
    state.mutationsPtr = &enumeree_->mutations();
    size_t handed = 0;
    while (handed < buffer.size() && index_ < count_) {
        auto entry = entryAt(index_);
        if (!entry) break;  // entries removed meanwhile: the caller sees the changed count
        buffer[handed++] = std::move(*entry);
        ++index_;
    }
    state.state = index_;
    return handed;
}
