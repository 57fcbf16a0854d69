// TLS verification is always on: a server whose certificate no authority vouches for is refused.

#include <httplib.h>  // its package turns on its TLS support

#include <brisalune/platform/http.hpp>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

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
};

TEST(HttpTls, RefusesAServerWithAnUntrustedCertificate) {
    SelfSigned identity;
    httplib::SSLServer server(identity.cert.get(), identity.key.get());
    ASSERT_TRUE(server.is_valid());
    server.Get(
        "/", [](const httplib::Request&, httplib::Response& response) { response.set_content("ok", "text/plain"); });
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });

    // The server itself answers a client that skips verification...
    httplib::SSLClient lenient("127.0.0.1", port);
    lenient.enable_server_certificate_verification(false);
    auto answer = lenient.Get("/");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "ok");

    // ...but never ours.
    Request request;
    request.url = "https://127.0.0.1:" + std::to_string(port) + "/";
    try {
        curlTransport()->perform(request);
        ADD_FAILURE() << "an untrusted certificate was accepted";
    } catch (const TransportError& error) {
        EXPECT_STREQ(error.what(), "An SSL error has occurred and a secure connection to the server cannot be made.");
    }
    server.stop();
    listener.join();
}

}  // namespace
}  // namespace brisalune::http
