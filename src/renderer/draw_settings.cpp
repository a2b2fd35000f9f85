#include "renderer/draw_settings.h"

DrawSettings CurrentDrawSettings;
ShadingSettings CurrentShadingSettings;
TarnMath::CMatrix MapTransform = {};
