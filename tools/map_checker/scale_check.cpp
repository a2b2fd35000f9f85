#include "scale_check.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace MapChecker {
namespace {

std::string Fixed(double value, int decimals = 2)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

bool Near(double ratio, double target) { return ratio > target / 2 && ratio < target * 2; }

bool IsFbx(const std::string& path)
{
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".fbx";
}

// `ratio` is the model's radius over the median radius.
std::string LikelyCause(const CheckedModel& model, double ratio)
{
    const ModelStats& stats = *model.report->model;
    if (IsFbx(model.declared->job.path) && stats.unitScaleFactor > 0) {
        const double unit = stats.unitScaleFactor;
        const std::string declared = "the FBX file declares its unit as " + Fixed(unit, unit < 1 ? 3 : 1) +
                                     " cm (UnitScaleFactor " + Fixed(unit, 3) + "), which the import does not apply";
        if (ratio > 1 && Near(100 / unit, ratio)) {
            return declared + ": exported in " + (Near(unit, 1) ? "centimetres" : "a small unit") +
                   ", and each of its units is taken as one unit of the game; export it in the game's units "
                   "(a scale of " + Fixed(unit / 100, 4) + ")";
        }
        if (ratio < 1 && Near(unit / 100, 1 / ratio)) {
            return declared + ": the rest of the map seems to be in a smaller unit than this file";
        }
        return declared + "; the model itself is scaled in the file";
    }
    if (ratio > 1) {
        if (Near(ratio, 1000)) return "likely a file in millimetres: export it in the game's units (scale 0.001)";
        if (Near(ratio, 100)) return "likely a file in centimetres: export it in the game's units (scale 0.01)";
        return "likely a scale left on the model or set in the exporter";
    }
    if (Near(1 / ratio, 1000)) return "likely a file in metres among files in millimetres, or scaled down 1000 times";
    if (Near(1 / ratio, 100)) return "likely a file in metres among files in centimetres, or scaled down 100 times";
    return "likely a scale left on the model or set in the exporter";
}

float Height(const ModelStats& stats) { return stats.boundsMax[2] - stats.boundsMin[2]; }

double Median(std::vector<float> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

}  // namespace

void CheckModelScales(CheckedMap& map)
{
    std::vector<CheckedModel*> sized;
    for (CheckedModel& model : map.models) {
        if (HasBox(model) && model.report->model->radius > 0) sized.push_back(&model);
    }
    if (sized.size() < 3) return;
    std::vector<float> radii, heights;
    for (const CheckedModel* model : sized) {
        radii.push_back(model->report->model->radius);
        heights.push_back(Height(*model->report->model));
    }
    const double median = Median(radii), medianHeight = Median(heights);
    if (!(median > 0)) return;

    for (CheckedModel* model : sized) {
        const double radius = model->report->model->radius;
        const double ratio = radius / median;
        const double heightRatio = medianHeight > 0 ? Height(*model->report->model) / medianHeight : ratio;
        const bool large = ratio >= kScaleOutlierRatio && heightRatio >= kScaleOutlierRatio;
        const bool small = ratio <= 1 / kScaleOutlierRatio && heightRatio <= 1 / kScaleOutlierRatio;
        if (!large && !small) continue;
        const std::string how = ratio > 1 ? Fixed(ratio, 0) + " times the size" : "1/" + Fixed(1 / ratio, 0) + " of the size";
        model->report->findings.push_back(
            {Severity::Warning, "model-scale",
             "its bounding radius " + Fixed(radius) + " is " + how + " of the map's median model (" + Fixed(median) +
                 "), its height " + Fixed(Height(*model->report->model)) + " against a median of " +
                 Fixed(medianHeight) + ", and the plug-in draws it at that size; " + LikelyCause(*model, ratio)});
    }
}

}  // namespace MapChecker
