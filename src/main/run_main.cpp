#include "main/run_main.h"

namespace app {

int run_main(const std::vector<std::string>&)
{
    return 0;
}

} // namespace app
