// A local server with a known token for load tests: prints "port <n>" and serves until
// POST /api/local/quit.
#include "main/routes.h"
#include "server/listener.h"
#include "server/server_state.h"

#include <cstdio>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    const std::string token = argc > 1 ? argv[1] : "0123456789abcdef0123456789abcdef";
    auto bound = server::bind_local_listener();
    if (!bound) {
        std::fprintf(stderr, "%s\n", bound.error().c_str());
        return 1;
    }
    auto state = std::make_shared<server::ServerState>(token, std::vector<std::filesystem::path>{});
    std::printf("port %u\n", static_cast<unsigned>(bound->port));
    std::fflush(stdout);
    server::accept_loop(std::move(bound->listener), std::move(state), app::routes(), false);
    return 0;
}
