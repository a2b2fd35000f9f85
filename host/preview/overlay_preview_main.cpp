// vornak_overlay_preview: pictures of the overlay for people to look at.
//
//   vornak_overlay_preview.exe OUTDIR
//       Writes loading_1920x1080.png, debug_1920x1080.png,
//       loading_1280x1024.png and debug_1280x1024.png into OUTDIR (created
//       when missing), drawn by the plug-in's overlay code on real devices.
#include <windows.h>

#include <cstdio>
#include <string>

#include "preview/overlay_preview.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vornak_overlay_preview.exe OUTDIR\n");
        return 2;
    }
    const std::string directory = argv[1];
    CreateDirectoryA(directory.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "vornak_overlay_preview: cannot create the directory %s\n", directory.c_str());
        return 1;
    }
    std::string error;
    if (!Host::WriteOverlayPreview(directory, &error)) {
        std::fprintf(stderr, "vornak_overlay_preview: %s\n", error.c_str());
        return 1;
    }
    std::printf("overlay pictures written to %s\n", directory.c_str());
    return 0;
}
