#include "maprender/draw_settings.h"

DrawSettings CurrentDrawSettings;
ShadingSettings CurrentShadingSettings;
