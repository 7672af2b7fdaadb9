// The one translation unit that holds stb_image's and stb_image_write's code
// (header-only libraries). Only memory buffers are used: files are read and
// written by ImageIOBuiltin.cpp, which handles paths the system's way.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
