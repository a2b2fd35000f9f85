// vornak_mapgen: writes the sample game directory (settings, map
// definition, models and textures) that the preview runs on.
//
//   vornak_mapgen.exe [--broken | --grid GROUPS | --exported] GAME_DIRECTORY
//
// --broken writes the map checker's broken demonstration game instead;
// --grid that many building groups on a grid (for timing the preview);
// --exported third-party files placed as exported, overlapping, one FBX in
// centimetres (for the preview's views and the checker's scale findings).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "broken_map.h"
#include "exported_map.h"
#include "grid_map.h"
#include "sample_map.h"

int main(int argc, char** argv)
{
    const bool broken = argc == 3 && std::string(argv[1]) == "--broken";
    const bool exported = argc == 3 && std::string(argv[1]) == "--exported";
    const int grid = argc == 4 && std::string(argv[1]) == "--grid" ? std::atoi(argv[2]) : 0;
    if (argc != 2 && !broken && !exported && !(grid > 0 && grid <= 8000)) {
        std::fprintf(stderr, "usage: vornak_mapgen.exe [--broken | --grid GROUPS | --exported] GAME_DIRECTORY\n");
        return 2;
    }
    const char* directory = argv[argc - 1];
    CreateDirectoryA(directory, nullptr);
    DWORD attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "vornak_mapgen: cannot create the directory %s\n", directory);
        return 1;
    }
    try {
        if (grid) {
            MapGen::WriteGridGame(directory, grid);
            std::printf("grid game of %d groups written to %s\n", grid, directory);
            return 0;
        }
        if (exported) {
            const int groups = MapGen::WriteExportedGame(directory);
            std::printf("exported-files game of %d groups written to %s\n", groups, directory);
            return 0;
        }
        if (broken) {
            MapGen::WriteBrokenGame(directory);
            std::printf("broken game written to %s\n", directory);
            return 0;
        }
        MapGen::SampleMapSummary summary = MapGen::WriteSampleGame(directory);
        std::printf("sample game written to %s: %d groups, %d member models, %d LOD models, %d collision models, "
                    "%d triangles\n",
                    directory, summary.groups, summary.memberModels, summary.lodModels, summary.collisionModels,
                    summary.triangles);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "vornak_mapgen: %s\n", failure.what());
        return 1;
    }
    return 0;
}
