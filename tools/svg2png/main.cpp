// vemo-svg2png: rasterises one of our SVG drawings into a PNG at a given
// size, with the same SVG loader the UI toolkit uses at run time. The build
// uses it to make the bitmap assets from their SVG sources.
//
//   vemo-svg2png INPUT.svg OUTPUT.png WIDTH HEIGHT
#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: vemo-svg2png INPUT.svg OUTPUT.png WIDTH HEIGHT\n");
        return 2;
    }
    const int width = std::atoi(argv[3]);
    const int height = std::atoi(argv[4]);
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "vemo-svg2png: WIDTH and HEIGHT must be positive\n");
        return 2;
    }

    SDL_RWops* in = SDL_RWFromFile(argv[1], "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "vemo-svg2png: %s\n", SDL_GetError());
        return 1;
    }
    // The sized loader does not close the stream itself.
    SDL_Surface* image = IMG_LoadSizedSVG_RW(in, width, height);
    SDL_RWclose(in);
    if (image == nullptr) {
        std::fprintf(stderr, "vemo-svg2png: cannot rasterise %s: %s\n", argv[1], IMG_GetError());
        return 1;
    }
    const int saved = IMG_SavePNG(image, argv[2]);
    SDL_FreeSurface(image);
    if (saved != 0) {
        std::fprintf(stderr, "vemo-svg2png: cannot write %s: %s\n", argv[2], IMG_GetError());
        return 1;
    }
    return 0;
}
