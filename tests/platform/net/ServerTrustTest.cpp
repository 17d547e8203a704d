#include "platform/net/ServerTrust.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "platform/net/TLSSettings.h"
#include "services/peers/TestCA.h"

namespace {

std::vector<ns::Data> chainOf(const peers::ServerIdentity& identity) {
    BIO* bio = BIO_new_mem_buf(identity.certificatePEM.data(),
                               static_cast<int>(identity.certificatePEM.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    unsigned char* der = nullptr;
    int length = i2d_X509(cert, &der);
    ns::Data data(der, static_cast<size_t>(length));
    OPENSSL_free(der);
    X509_free(cert);
    return {data};
}

class ServerTrustTest : public testing::Test {
protected:
    void SetUp() override { net::TLSSettings::setExtraCAFile(ca_.caFile()); }
    void TearDown() override { net::TLSSettings::setExtraCAFile(""); }

    net::TrustResultType evaluate(const peers::ServerIdentity& identity, const std::string& host) {
        return net::ServerTrust(host, chainOf(identity)).evaluate().value();
    }

    peers::TestCA ca_;
};

TEST_F(ServerTrustTest, DefaultPolicyAcceptsATrustedChainForItsHost) {
    EXPECT_EQ(evaluate(ca_.localhost(), "127.0.0.1"), net::TrustResultType::Unspecified);
    EXPECT_EQ(evaluate(ca_.localhost(), "LOCALHOST"), net::TrustResultType::Unspecified);
}

TEST_F(ServerTrustTest, DefaultPolicyRefusesOtherHostsExpiryAndUnknownIssuers) {
    EXPECT_EQ(evaluate(ca_.localhost(), "other.example"),
              net::TrustResultType::RecoverableTrustFailure);
    EXPECT_EQ(evaluate(ca_.localhost(), "127.0.0.2"),
              net::TrustResultType::RecoverableTrustFailure);
    EXPECT_EQ(evaluate(ca_.issue({"localhost"}, {}, /*expired=*/true), "localhost"),
              net::TrustResultType::RecoverableTrustFailure);
    peers::TestCA stranger("Stranger CA");
    EXPECT_EQ(evaluate(stranger.localhost(), "localhost"),
              net::TrustResultType::RecoverableTrustFailure);
    net::TLSSettings::setExtraCAFile("");
    EXPECT_EQ(evaluate(ca_.localhost(), "localhost"),
              net::TrustResultType::RecoverableTrustFailure);
}

TEST_F(ServerTrustTest, EmptyOrUnreadableChainsCannotBeEvaluated) {
    EXPECT_FALSE(net::ServerTrust("localhost", {}).evaluate());
    EXPECT_FALSE(
        net::ServerTrust("localhost", {ns::Data::fromString("not a certificate")}).evaluate());
    auto chain = chainOf(ca_.localhost());
    chain.push_back(ns::Data::fromString("junk"));
    auto result = net::ServerTrust("localhost", chain).evaluate();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().domain(), net::kOSStatusErrorDomain);
}

}  // namespace
