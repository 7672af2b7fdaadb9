// The area table's box sums, and the rows of integer worlds' tables, built
// for x86-64-v3 where the build asks for it; run only where the processor has
// it.
#include "headless/images/AreaBox.h"

#if defined(VELTRIX_AREA_BOX_V3)
#define AREA_BOX_NAMESPACE area_box_v3
#include "headless/images/AreaBoxKernel.inl"
#undef AREA_BOX_NAMESPACE

namespace headless {
namespace area_box_v3 {
BoxSums whole(const std::uint64_t *sums, A_long width, const TableBox &box) { return combineWhole(sums, width, box); }
BoxSums whole(const double *sums, A_long width, const TableBox &box) { return combineWhole(sums, width, box); }
BoxSums whole(const std::uint32_t *sums, A_long width, const TableBox &box) { return combineWhole(sums, width, box); }
BoxSums quad(const HostWorld &world, const TableBox &box) { return integerQuadBox(world, box); }
PF_PixelFloat quadFilter8(const std::byte *top, const std::byte *bottom, const TableBox &box, double area,
                          double full) {
    return quadFilter<PF_Pixel>(top, bottom, box, area, full);
}
PF_PixelFloat quadFilter16(const std::byte *top, const std::byte *bottom, const TableBox &box, double area,
                           double full) {
    return quadFilter<PF_Pixel16>(top, bottom, box, area, full);
}
BoxSums few(const HostWorld &world, const TableBox &box) { return integerFewBox(world, box); }
PF_PixelFloat fewFilter8(const std::byte *top, std::size_t rowBytes, const TableBox &box, double area,
                         double full) {
    return fewFilter<PF_Pixel>(top, rowBytes, box, area, full);
}
PF_PixelFloat fewFilter16(const std::byte *top, std::size_t rowBytes, const TableBox &box, double area,
                          double full) {
    return fewFilter<PF_Pixel16>(top, rowBytes, box, area, full);
}
BoxSums rows(const std::uint64_t *const (&rows)[4], const TableBox &box) { return combineRows(rows, box); }
BoxSums rows(const double *const (&rows)[4], const TableBox &box) { return combineRows(rows, box); }
void addRow8(const PF_Pixel *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out) {
    addRow(pixels, width, above, out);
}
void addRow16(const PF_Pixel16 *pixels, A_long width, const std::uint64_t *above, std::uint64_t *out) {
    addRow(pixels, width, above, out);
}
} // namespace area_box_v3
} // namespace headless
#endif
