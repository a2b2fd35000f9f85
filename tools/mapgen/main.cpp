// vornak_mapgen: writes the sample game directory (settings, map
// definition, models and textures) that the preview runs on.
//
//   vornak_mapgen.exe GAME_DIRECTORY
#include <windows.h>

#include <cstdio>
#include <exception>

#include "sample_map.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vornak_mapgen.exe GAME_DIRECTORY\n");
        return 2;
    }
    CreateDirectoryA(argv[1], nullptr);
    DWORD attributes = GetFileAttributesA(argv[1]);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "vornak_mapgen: cannot create the directory %s\n", argv[1]);
        return 1;
    }
    try {
        MapGen::SampleMapSummary summary = MapGen::WriteSampleGame(argv[1]);
        std::printf("sample game written to %s: %d groups, %d member models, %d LOD models, %d collision models, "
                    "%d triangles\n",
                    argv[1], summary.groups, summary.memberModels, summary.lodModels, summary.collisionModels,
                    summary.triangles);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "vornak_mapgen: %s\n", failure.what());
        return 1;
    }
    return 0;
}
