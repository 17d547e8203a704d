#include "app/AppDelegate.h"

#include "app/MainViewController.h"

bool AppDelegate::didFinishLaunchingWithOptions(ui::Application& application,
                                                const ns::Dictionary& launchOptions) {
    setViewController(HYBViewController::create<MainViewController>());
    return HYBAppDelegate::didFinishLaunchingWithOptions(application, launchOptions);
}
