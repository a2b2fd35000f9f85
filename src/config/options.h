// The global options record, filled once at start-up from the settings file
// and the map definition, read-only afterwards. Field names are the INI keys.
#pragma once

#include <string>

namespace Config {

struct OptionsRecord {
    // Settings file, in reading order.
    bool UseGameShaders = true;
    bool CollisionsEnabled = true;
    bool GenerateBarriers = true;
    bool ShowCollisions = false;
    bool DebugDisplay = false;
    bool DontUnloadCulledModels = false;
    bool DontDrawLODs = false;
    int LoadTrack_TrackID = 0;
    std::string LoadTrack_CarName;
    float GlobalShadingMultiplier = 1.0f;
    // Milliseconds of render-thread work per frame for models that finished
    // importing (buffers, textures); 0 or less: all of it in the frame that
    // finds it.
    float StreamingBudgetMs = 2.0f;
    // For map authors: the files the loaded map uses are watched, and a
    // changed one is loaded again while the game runs. Off: nothing of it
    // runs (no thread, no file access, nothing per frame).
    bool LiveReload = false;

    // Map definition, in reading order.
    bool SmartCulling = true;
    bool AggressiveCulling = false;
    bool MinimizeGameMemoryUsage_VK = false;
    float DrawDistance = 500.0f;
    float LODDistance = 500.0f;
    int ForceCullMode = 1;
    bool IgnoreVertexColor = false;
    bool UseShading = false;
    float ShadingMultiplier = 0.45f;
    float SunPos[3] = {0.15f, -0.25f, 0.95f};
    float SunColor[3] = {255.0f, 255.0f, 255.0f};
    float ShadowColor[3] = {59.0f, 72.0f, 102.0f};
    float MapOffset[3] = {0.0f, 0.0f, 0.0f};
};

extern OptionsRecord Options;

// Values derived from the options.
extern bool UnloadCulledModels;   // !DontUnloadCulledModels, set at the end of LoadSettings
extern float MapOffsetCopy[3];    // MapOffset as read; the collision queries use this copy
extern bool UseHostShaders;       // cleared at start-up when UseGameShaders is false
extern int RenderCullMode;        // ForceCullMode when in 1..3, else 1

inline constexpr const char* kSettingsFileName = "VornakMapLoader_Config.ini";

// ForceCullMode as a Direct3D cull mode: 1 none, 2 clockwise, 3 counter-clockwise.
int CullModeFromOption(int forceCullMode);

// Reads the settings file (and through MapPath the map definition), writing
// the banner and the start-up lines to the log.
void LoadSettings();

}  // namespace Config
