#include "platform/wk/Engine.h"

#include "platform/ns/JSONSerialization.h"

namespace wk {

void Engine::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                 std::function<void(ns::Result<ns::Value>)> completion) {
    evaluateJavaScript(functionCallScript(body, arguments), std::move(completion));
}

std::string Engine::functionCallScript(std::string_view body, const ns::Dictionary& arguments) {
    std::string names, values;
    for (const auto& [name, value] : arguments) {
        if (!names.empty()) {
            names += ',';
            values += ',';
        }
        names += name;
        ns::JSONWriter writer;
        writer.value(value);
        values += writer.take().valueOr("null");
    }
    std::string script = "(function(" + names + "){";
    script.append(body);
    return script + "})(" + values + ")";
}

}  // namespace wk
