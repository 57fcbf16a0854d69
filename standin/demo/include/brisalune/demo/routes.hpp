#pragma once

// Path patterns with named segments ("/v1/alerts/{alert}/ack") on a stand-in server, which
// routes exact paths only: a pattern reaches the server once it is exposed with values for
// its named segments, and every exposed path is answered by one entry handler that looks the
// request up again here.

#include <brisalune/standin/server.hpp>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brisalune::demo {

// Named segment → its value, percent-decoded.
using PathValues = std::map<std::string, std::string>;

class Routes {
public:
    using Handler = std::function<standin::Reply(const standin::ReceivedRequest&, const PathValues&)>;

    Routes(standin::Server& server, standin::Handler entry);

    // Called before anything is exposed.
    void add(std::string method, std::string pattern, Handler handler);
    // Serves every pattern whose named segments are exactly those given, filled in; with no
    // values, the patterns without named segments. Safe from any thread.
    void expose(const PathValues& values);

    struct Found {
        const Handler* handler;
        PathValues values;
    };
    // The route for the request (HEAD taken as GET), with its named segments.
    std::optional<Found> find(const standin::ReceivedRequest& request) const;

private:
    struct Route {
        std::string method;
        std::vector<std::string> segments;  // "{name}" for a named one
        Handler handler;
    };

    standin::Server& server_;
    standin::Handler entry_;
    std::vector<Route> routes_;
};

}  // namespace brisalune::demo
