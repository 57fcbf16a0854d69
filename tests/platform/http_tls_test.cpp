// TLS verification is always on: a server whose certificate no authority vouches for is refused,
// and a secure exchange is never redirected to plain http.

#include <httplib.h>  // its package turns on its TLS support

#include <brisalune/platform/http.hpp>
#include <brisalune/standin/server.hpp>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <memory>
#include <thread>

namespace brisalune::http {
namespace {

struct SelfSigned {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{EVP_EC_gen("P-256"), &EVP_PKEY_free};
    std::unique_ptr<X509, decltype(&X509_free)> cert{X509_new(), &X509_free};

    SelfSigned() {
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
        X509_set_pubkey(cert.get(), key.get());
        X509_NAME* name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert.get(), name);
        X509_sign(cert.get(), key.get(), EVP_sha256());
    }

    // The certificate as its own authority, for a transport that trusts it.
    [[nodiscard]] std::string pem() const {
        std::unique_ptr<BIO, decltype(&BIO_free)> out{BIO_new(BIO_s_mem()), &BIO_free};
        PEM_write_bio_X509(out.get(), cert.get());
        char* data = nullptr;
        const long size = BIO_get_mem_data(out.get(), &data);
        return {data, static_cast<std::size_t>(size)};
    }
};

// A TLS server on loopback with the self-signed certificate, listening while it lives.
class TlsServer {
public:
    TlsServer() : server_(identity.cert.get(), identity.key.get()) { EXPECT_TRUE(server_.is_valid()); }
    ~TlsServer() {
        server_.stop();
        if (listener_.joinable()) listener_.join();
    }
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    httplib::SSLServer& routes() { return server_; }

    // Call once the routes are in place.
    void listen() {
        port_ = server_.bind_to_any_port("127.0.0.1");
        listener_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // stop() needs it
    }
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }

    SelfSigned identity;

private:
    httplib::SSLServer server_;
    std::thread listener_;
    int port_ = 0;
};

std::string failure(Transport& transport, const Request& request) try {
    transport.perform(request);
    ADD_FAILURE() << "no error";
    return {};
} catch (const TransportError& error) {
    return error.what();
}

TEST(HttpTls, RefusesAServerWithAnUntrustedCertificate) {
    TlsServer server;
    server.routes().Get(
        "/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
    server.listen();

    // The server itself answers a client that skips verification...
    httplib::SSLClient lenient("127.0.0.1", server.port());
    lenient.enable_server_certificate_verification(false);
    auto answer = lenient.Get("/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "ok");

    // ...but never ours.
    Request request;
    request.url = server.url("/");
    EXPECT_EQ(
        failure(*curlTransport(), request),
        "An SSL error has occurred and a secure connection to the server cannot be made.");
}

TEST(HttpTls, NoRedirectLeadsFromHttpsToHttp) {
    standin::Server plain;
    plain.otherwise([](const standin::ReceivedRequest&) { return standin::Reply{.headers = {}, .body = "landed"}; });
    TlsServer server;
    const auto redirect = [](int status, std::string location) {
        return [=](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_header("Location", location);
        };
    };
    server.routes().Post("/sign-in", redirect(307, plain.baseUrl() + "/sign-in"));
    server.routes().Get("/away", redirect(302, plain.baseUrl() + "/landing"));
    server.routes().Post("/moved", redirect(308, "/signed-in"));
    server.routes().Post("/signed-in", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.body, "text/plain");
    });
    server.listen();
    const auto transport = curlTransportTrusting(server.identity.pem());

    // Trusted, a secure redirect within the origin carries its body...
    Request signIn{.method = "POST", .url = server.url("/moved"), .headers = {}, .body = R"({"password":"secret"})"};
    EXPECT_EQ(transport->perform(signIn).body, R"({"password":"secret"})");

    // ...but none goes to plain http, with a body or without.
    const std::string downgrade =
        "The server redirected a secure connection to an insecure address; it was not followed.";
    signIn.url = server.url("/sign-in");
    EXPECT_EQ(failure(*transport, signIn), downgrade);
    EXPECT_EQ(failure(*transport, Request{.url = server.url("/away"), .headers = {}, .body = {}}), downgrade);
    EXPECT_TRUE(plain.requests().empty());
}

}  // namespace
}  // namespace brisalune::http
