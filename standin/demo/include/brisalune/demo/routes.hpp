#pragma once

// Path patterns with named segments ("/v1/alerts/{alert}/ack"), looked up for every request the
// stand-in server's own exact routes do not take.

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

    // Called before the server's first request.
    void add(std::string method, std::string pattern, Handler handler);

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

    std::vector<Route> routes_;
};

}  // namespace brisalune::demo
