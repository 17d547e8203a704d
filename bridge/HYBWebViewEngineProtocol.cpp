#include "bridge/HYBWebViewEngineProtocol.h"

#include "platform/wk/Engine.h"

void HYBWebViewEngineProtocol::callAsyncJavaScript(std::string body, ns::Dictionary arguments,
                                                   EvaluationHandler completion) {
    evaluateJavaScript(wk::Engine::functionCallScript(body, arguments), std::move(completion));
}
