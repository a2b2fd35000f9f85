// The check of a view's picture once it is taken: whether it shows its
// subject, and when not, the likely cause, so that the page and the contact
// sheet never present an empty picture as a view. The subject's pixels are
// those not of the sky's colour: a group's view draws that group alone, an
// overview the whole map.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Host {

// Where the view stood against its subject, and what the device drew.
struct ViewGeometry {
    float distance = 0;    // from the camera to the target
    float radius = 0;      // of the subject around the target; 0: not known
    float farPlane = 0;    // the view's far plane
    bool drawnAlone = false;
    unsigned draws = 0;    // draw calls in the picture's frame
};

struct ViewVerdict {
    double subjectShare = 0;  // of the pixels, 0 to 1
    double flatShare = 0;     // of the most common colour
    bool showsSubject = true;
    std::string cause;        // when not
};

// Below this share of the picture the subject counts as not shown, and from
// this share of one colour other than the sky's the picture counts as flat.
inline constexpr double kLeastSubjectShare = 0.001;
inline constexpr double kFlatShare = 0.95;

// `rgb`: width * height pixels, three bytes each; `sky`: the clear colour.
ViewVerdict CheckViewPicture(const std::vector<unsigned char>& rgb, const unsigned char sky[3],
                             const ViewGeometry& geometry);

// The projection of a camera `distance` from the target of a subject of
// `radius` around it: near and far planes around the subject, and a field
// of view (radians) that narrows from the preview's 60 degrees to frame a
// subject seen from afar (a LOD from where it is drawn). Radius 0: the
// preview's fixed planes and 60 degrees.
struct ViewProjection {
    float nearPlane, farPlane, fieldOfView;
};
ViewProjection FitProjection(float distance, float radius);

// One line of view_checks.txt: "name ok 12.34%" or "name empty 0.10% cause".
std::string FormatViewCheck(const std::string& name, const ViewVerdict& verdict);

// The lines of a view_checks.txt by picture name (only the share, whether
// it shows its subject and the cause are known); empty for no file.
std::map<std::string, ViewVerdict> ReadViewChecks(const std::string& file);

// view_checks.js for the views page: `const viewChecks = {name: {shows,
// share, cause}, ...};`, which the page reads when it is there.
std::string FormatViewChecksScript(const std::map<std::string, ViewVerdict>& checks);

}  // namespace Host
