#include "player/options.h"
#include "player/player.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    return runPlayer(parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc)));
}
