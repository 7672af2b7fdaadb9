// veltrix-render: renders the Veltrix effect of a scene file into image files.
// See Options.h for the command line and RenderCommand.h for what a run does.
#include "headless/render/Options.h"
#include "headless/render/Progress.h"
#include "headless/render/RenderCommand.h"

#include <cstdio>
#include <iostream>

int main(int argc, char **argv) {
    veltrix_render::Options options;
    const veltrix_render::ParseOutcome parsed =
        veltrix_render::parseOptions(argc, argv, options, std::cout, std::cerr);
    if (parsed.exit) return parsed.code;
    return veltrix_render::runRender(options, std::cout, std::cerr,
                                     veltrix_render::isTerminal(stderr));
}
