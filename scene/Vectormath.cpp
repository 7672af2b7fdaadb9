#include "scene/Vectormath.h"

namespace Vectormath {
namespace Aos {

Matrix4 Matrix4::operator*(const Matrix4 &b) const {
    const Matrix4 &a = *this;
    return {a * b.getCol0(), a * b.getCol1(), a * b.getCol2(), a * b.getCol3()};
}

namespace {

// 2x2 determinants of one pair of columns, for every pair of rows p < q.
struct PairMinors {
    float d[4][4];
};

PairMinors pairMinors(const float a[4][4], int colA, int colB) {
    PairMinors m{};
    for (int p = 0; p < 4; ++p)
        for (int q = p + 1; q < 4; ++q)
            m.d[p][q] = a[p][colA] * a[q][colB] - a[q][colA] * a[p][colB];
    return m;
}

// Signed cofactor of element (row, col) of `a`. The 3x3 minor is expanded
// along its one column that is not in the precomputed pair: columns 2 and 3
// when col is 0 or 1, columns 0 and 1 otherwise.
float cofactor(const float a[4][4], const PairMinors &minors01, const PairMinors &minors23,
               int row, int col) {
    int r[3];
    for (int i = 0, n = 0; i < 4; ++i)
        if (i != row) r[n++] = i;
    const bool leftPairRemoved = col < 2;
    const PairMinors &pair = leftPairRemoved ? minors23 : minors01;
    // The minor's column outside the precomputed pair is col's partner in its
    // own pair, {0, 1} or {2, 3}: 1 - col or 5 - col, since each pair's two
    // indices sum to 1 or to 5. It is the minor's first column (col < 2) or
    // its last, and both expand with the signs +, -, + down the rows.
    const int other = leftPairRemoved ? 1 - col : 5 - col;
    const float minor = a[r[0]][other] * pair.d[r[1]][r[2]] - a[r[1]][other] * pair.d[r[0]][r[2]] +
                        a[r[2]][other] * pair.d[r[0]][r[1]];
    return ((row + col) & 1) ? -minor : minor;
}

} // namespace

Matrix4 inverse(const Matrix4 &m) {
    float a[4][4]; // a[row][col]
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row)
            a[row][col] = m.getElem(col, row);

    const PairMinors minors01 = pairMinors(a, 0, 1);
    const PairMinors minors23 = pairMinors(a, 2, 3);

    // Column j of the inverse holds the cofactors of input row j (the
    // transposed cofactor matrix), all scaled by 1 / det.
    float cof[4][4]; // cof[j][i]: column j, row i of the result
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            cof[j][i] = cofactor(a, minors01, minors23, j, i);

    const float det = a[0][0] * cof[0][0] + a[0][1] * cof[0][1] + a[0][2] * cof[0][2] +
                      a[0][3] * cof[0][3];
    const float invDet = 1.0f / det;

    Matrix4 result;
    for (int j = 0; j < 4; ++j)
        result.setCol(j, Vector4(cof[j][0], cof[j][1], cof[j][2], cof[j][3]) * invDet);
    return result;
}

} // namespace Aos
} // namespace Vectormath

void ModifyAspectedCoordinate(A_Ratio pixelAspect, int width, A_Matrix4 *transform) {
    if (!transform || pixelAspect.den == 0) return;
    const double r = static_cast<double>(pixelAspect.num) / static_cast<double>(pixelAspect.den);
    if (r == 1.0) return; // square pixels: nothing to fold in

    A_FpLong(&m)[4][4] = transform->mat;
    m[0][0] *= r;
    m[1][0] *= r;
    m[2][0] *= r;
    const double centre = 0.5 * width;
    m[3][0] = (m[3][0] - centre) * r + centre;
}
