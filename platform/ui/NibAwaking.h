#pragma once

namespace ui {

// An object that wants to finish its set-up once its interface file is loaded: the loader
// calls awakeFromNib() after every object is made and every connection set.
class NibAwaking {
public:
    virtual ~NibAwaking() = default;
    virtual void awakeFromNib() = 0;
};

}  // namespace ui
