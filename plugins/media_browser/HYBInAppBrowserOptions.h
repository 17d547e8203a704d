#pragma once

#include <optional>
#include <string>
#include <string_view>

// The options of one opening of the in-app browser, parsed from the page's option string
// ("location=no,toolbarposition=top,beforeload=get"). Each field is named like its key.
// Text options hold text only: a number or yes/no given to one of them is dropped (the
// default stays), except `beforeload`, where any such value means "yes".
class HYBInAppBrowserOptions {
public:
    bool location = true;
    bool toolbar = true;
    std::optional<std::string> closebuttoncaption;
    std::optional<std::string> closebuttoncolor;
    bool lefttoright = false;
    std::string toolbarposition = "bottom";
    std::optional<std::string> toolbarcolor;
    bool toolbartranslucent = true;
    bool hidenavigationbuttons = false;
    std::optional<std::string> navigationbuttoncolor;
    bool cleardata = false;
    bool clearcache = false;
    bool clearsessioncache = false;
    bool hidespinner = false;
    std::optional<std::string> presentationstyle;
    std::optional<std::string> transitionstyle;
    bool enableviewportscale = false;
    bool mediaplaybackrequiresuseraction = false;
    bool allowinlinemediaplayback = false;
    bool hidden = false;
    bool disallowoverscroll = false;
    std::string beforeload;

    // Never fails: malformed pieces and unknown keys are skipped. Keys ignore letter case,
    // values keep theirs; nothing is trimmed.
    static HYBInAppBrowserOptions parseOptions(std::string_view options);
};
