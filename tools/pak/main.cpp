// pak: looks inside the game's archives, reads its settings and builds archives.
// Everything is in the zk_pak library; see pak_tool.h.
#include "tools/pak/pak_tool.h"

int main(int argc, char** argv) {
    return pak::runPakCommandLine(argc, argv);
}
