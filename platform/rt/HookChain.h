#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dispatch/Mutex.h"

namespace rt {

// Interception of one operation: what other platforms do by exchanging method
// implementations at run time. Parts of the program install hooks in turn; a call runs the
// first installed hook, which may work before and after calling `next` (the rest of the
// chain) or not call it at all; the chain ends at a terminal function that the caller of
// `call` supplies (typically the object's own implementation, or a default answer).
//
// Each owner installs at most once; installations are never undone. Thread-safe: a call runs over
// the hooks installed when it began, without holding a lock, so hooks may install further hooks or
// re-enter the chain.
template <class Signature>
class HookChain;

template <class R, class... Args>
class HookChain<R(Args...)> {
public:
    using Next = std::function<R(Args...)>;
    using Hook = std::function<R(Args..., const Next& next)>;

    // Answers false, and changes nothing, when this owner already installed a hook here.
    bool install(std::string owner, Hook hook) {
        dispatch::Lock lock(mutex_);
        for (const auto& entry : *entries_) {
            if (entry.owner == owner) return false;
        }
        auto entries = std::make_shared<Entries>(*entries_);
        entries->push_back(Entry{std::move(owner), std::move(hook)});
        entries_ = std::move(entries);
        return true;
    }

    bool isInstalled(std::string_view owner) const {
        auto entries = snapshot();
        for (const auto& entry : *entries) {
            if (entry.owner == owner) return true;
        }
        return false;
    }

    bool empty() const { return snapshot()->empty(); }
    size_t size() const { return snapshot()->size(); }

    // Runs the chain. `next` functions stay callable after the hook returns (a hook may keep
    // one to finish the call later); they hold the chain as it was when the call began.
    R call(Next terminal, Args... args) const {
        auto state = std::make_shared<const CallState>(CallState{snapshot(), std::move(terminal)});
        return invokeAt(state, 0, std::forward<Args>(args)...);
    }

private:
    struct Entry {
        std::string owner;
        Hook hook;
    };
    using Entries = std::vector<Entry>;
    struct CallState {
        std::shared_ptr<const Entries> entries;
        Next terminal;
    };

    std::shared_ptr<const Entries> snapshot() const {
        dispatch::Lock lock(mutex_);
        return entries_;
    }

    static R invokeAt(const std::shared_ptr<const CallState>& state, size_t index, Args... args) {
        if (index >= state->entries->size()) {
            if (!state->terminal) return R();
            return state->terminal(std::forward<Args>(args)...);
        }
        Next next = [state, index](Args... rest) -> R {
            return invokeAt(state, index + 1, std::forward<Args>(rest)...);
        };
        return (*state->entries)[index].hook(std::forward<Args>(args)..., next);
    }

    mutable dispatch::Mutex mutex_;
    std::shared_ptr<const Entries> entries_ GUARDED_BY(mutex_) = std::make_shared<const Entries>();
};

}  // namespace rt
