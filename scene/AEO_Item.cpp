#include "scene/AEO_Item.h"

namespace AEO {

Item::Item(AEGP_ItemH item) : item_(item) {
    requireHandle(item);
    A_long width = 0, height = 0;
    if (call(item_suite_, &AEGP_ItemSuite8::AEGP_GetItemDimensions, item_, &width, &height)) {
        width_ = width;
        height_ = height;
    }
}

A_Ratio Item::GetPixelAspectRatio() {
    A_Ratio ratio = {0, 1};
    if (!call(item_suite_, &AEGP_ItemSuite8::AEGP_GetItemPixelAspectRatio, item_, &ratio))
        return A_Ratio{0, 1};
    return ratio;
}

} // namespace AEO
