#pragma once

#include <memory>
#include <string>

#include "bridge/HYBPlugin.h"
#include "bridge/HYBViewController.h"
#include "platform/ui/Window.h"
#include "tests/plugins/media_browser/support/RecordingDelegate.h"
#include "tests/support/ManualRunLoop.h"
#include "tests/support/TempDir.h"

namespace mediatest {

// The whole contents of a file ("" when it cannot be read).
std::string readFile(const std::string& path);

// A sandbox and a bundle in a temporary folder, the host's controller in a shown window on a
// screen of scale 3, and a recording command delegate that hands out a file plug-in.
class MediaFixture : public testsupport::ManualRunLoop {
protected:
    void SetUp() override;
    // Links the plug-in to the controller and the delegate, and initialises it.
    void attach(HYBPlugin& plugin);
    static std::string tmp(const std::string& name);

    testsupport::TempDir dir_;
    std::shared_ptr<HYBViewController> controller_;
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

}  // namespace mediatest
