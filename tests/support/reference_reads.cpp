#include "reference_reads.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include <cmath>
#include <utility>

namespace TestSupport {

std::vector<unsigned char> ReadPngRgb(const std::string& path, int& width, int& height)
{
    int channels = 0;
    width = height = 0;
    unsigned char* pixels = stbi_load(path.c_str(), &width, &height, &channels, 3);
    if (!pixels) {
        width = height = 0;
        return {};
    }
    std::vector<unsigned char> rgb(pixels, pixels + std::size_t(width) * height * 3);
    stbi_image_free(pixels);
    return rgb;
}

void ScanNearbyBarriers(const float position[3], std::vector<BulletCol::BarrierSegment>& out)
{
    out.clear();
    const float point[3] = {position[2], position[0], position[1]};
    for (const BulletCol::CollisionMeshRecord& record : BulletCol::CollisionMeshRecords) {
        const auto& m = record.mapMatrix.m;
        float squared = 0.0f;
        for (int i = 0; i < 3; ++i) {
            const float local = point[0] * m[i][0] + point[1] * m[i][1] + point[2] * m[i][2] -
                                (m[3][0] * m[i][0] + m[3][1] * m[i][1] + m[3][2] * m[i][2]);
            const float d = local - record.center[i];
            squared += d * d;
        }
        if (!(std::sqrt(squared) < record.radius + 10.0f)) continue;
        for (const BulletCol::BarrierSegment& s : record.barriers) {
            if (s.bottom[1] - position[1] > 5.0f || s.top[1] - position[1] < -5.0f) continue;
            const float d0 = position[0] - 0.5f * (s.bottom[0] + s.top[0]);
            const float d2 = position[2] - 0.5f * (s.bottom[2] + s.top[2]);
            if (!(1.0f / s.inverseLength + 5.0f > std::sqrt(d0 * d0 + d2 * d2))) continue;
            out.push_back(s);
            BulletCol::BarrierSegment reversed = s;
            for (int k = 0; k < 3; ++k) std::swap(reversed.bottom[k], reversed.top[k]);
            out.push_back(reversed);
        }
    }
}

}  // namespace TestSupport
