#pragma once

#include "platform/ui/Font.h"

// The height one line of text takes in the font.
double tbx_lineHeight(const ui::Font& font);
