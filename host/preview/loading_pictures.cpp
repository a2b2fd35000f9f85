#include "preview/loading_pictures.h"

#include <stb_image_write.h>

#include <cmath>

namespace Host {

void LoadingPictures::Offer()
{
    if (seen_ % stride_ == 0) {
        Picture picture{seen_, {}, 0, 0};
        if (device_.ReadBackBuffer(picture.rgb, picture.width, picture.height)) {
            kept_.push_back(std::move(picture));
        }
        if (kept_.size() > kKept) {
            std::vector<Picture> thinned;
            for (Picture& kept : kept_) {
                if (kept.index % (2 * stride_) == 0) thinned.push_back(std::move(kept));
            }
            kept_ = std::move(thinned);
            stride_ *= 2;
        }
    }
    ++seen_;
}

int LoadingPictures::WriteMiddle(const std::string& path) const
{
    const Picture* best = nullptr;
    const double middle = (seen_ - 1) / 2.0;
    for (const Picture& picture : kept_) {
        if (!best || std::fabs(picture.index - middle) < std::fabs(best->index - middle)) best = &picture;
    }
    if (!best || !stbi_write_png(path.c_str(), best->width, best->height, 3, best->rgb.data(), best->width * 3)) {
        return -1;
    }
    return best->index;
}

}  // namespace Host
