// A project item (here: the item of a composition). Its size is read once,
// when the wrapper is made.
//
// Thread safety: see AEO_ObjectBase.h.
#pragma once

#include "scene/AEO_ObjectBase.h"

namespace AEO {

class Item : public ObjectBase {
public:
    // Reads the item's width and height; both stay 0 when that fails.
    explicit Item(AEGP_ItemH item);

    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }

    // Pixel aspect ratio; 0/1 after an error.
    A_Ratio GetPixelAspectRatio();

    AEGP_ItemH handle() const { return item_; }

private:
    AEGP_ItemH item_;
    int width_ = 0;
    int height_ = 0;
    Suite<AEGP_ItemSuite8> item_suite_;
};

} // namespace AEO
