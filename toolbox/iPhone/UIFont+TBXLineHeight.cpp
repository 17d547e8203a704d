#include "toolbox/iPhone/UIFont+TBXLineHeight.h"

double tbx_lineHeight(const ui::Font& font) {
    // Letters with ascenders and descenders, so the measure spans the whole line.
    return font.sizeWithText("Fake line with gjy").height;
}
