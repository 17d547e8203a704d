#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/RunLoop.h"
#include "platform/ns/Log.h"

namespace wk {

// Wraps a completion handler given to a delegate, which must call it exactly once. A second
// call is logged and ignored; when the last copy goes without a call, that is logged and the
// fallback answer runs on a later turn, so that the page is never left waiting.
template <class... Args>
class CompletionGuard {
public:
    static std::function<void(Args...)> wrap(std::function<void(Args...)> target,
                                             std::function<void()> fallback, std::string what) {
        auto state =
            std::make_shared<State>(std::move(target), std::move(fallback), std::move(what));
        return [state](Args... args) {
            if (state->called) {
                ns::Log::write(ns::LogLevel::Error, "Completion handler passed to " + state->what +
                                                        " was called more than once");
                return;
            }
            state->called = true;
            state->target(args...);
        };
    }

private:
    struct State {
        State(std::function<void(Args...)> t, std::function<void()> f, std::string w)
            : target(std::move(t)), fallback(std::move(f)), what(std::move(w)) {}
        ~State() {
            if (called) return;
            ns::Log::write(ns::LogLevel::Error,
                           "Completion handler passed to " + what + " was not called");
            if (fallback) dispatch::RunLoop::main().post(std::move(fallback));
        }
        std::function<void(Args...)> target;
        std::function<void()> fallback;
        std::string what;
        bool called = false;
    };
};

}  // namespace wk
