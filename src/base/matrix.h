// Row-vector 4x4 matrix: a point is a row vector multiplied on the left, the
// translation sits in the fourth row (Direct3D's convention).
#pragma once

namespace TarnMath {

struct CMatrix {
    float m[4][4];

    static CMatrix Identity()
    {
        return CMatrix{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    }
};

}  // namespace TarnMath
