#include "main/routes.h"

#include "server/local_routes.h"
#include "uploader/service_routes.h"

#include <vector>

namespace app {

server::RouteTable routes()
{
    static const std::vector<server::Route> table = [] {
        std::vector<server::Route> all;
        for (const server::RouteTable part : {server::local_routes(), uploader::service_routes()})
            all.insert(all.end(), part.begin(), part.end());
        return all;
    }();
    return table;
}

} // namespace app
