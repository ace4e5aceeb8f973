// The name check of the native TLS layer against the TLS peer's certificate
// with wildcard names (tests/peers/tlsserver.peer, +48): a wildcard stands
// for a whole leftmost label, never for part of one ("f*.example.com").
// The host is named in the URL and reached by address, as the update run
// does through its resolvers.
#include <gtest/gtest.h>

#include "e2e/RunFixture.h"
#include "http/cHttpSend.h"
#include "platform/File.h"
#include "platform/Tls.h"
#include "support/TestSupport.h"

TEST(TlsName, APartialWildcardNamesNoHost) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows build's name check is SChannel's";
#endif
  ASSERT_TRUE(TlsTrustCaFile(UpdateRoot() + "/../../tlsserver/ca.pem"));
  WriteWholeFile(UpdateRoot() + "/tlsname.txt", "named");
  const struct {
    const char* host;
    bool accepted;
  } cases[] = {
      {"files.whole.localhost", true},
      {"files.launcher.localhost", false},
      {"f.launcher.localhost", false},
  };
  for (const auto& c : cases) {
    THttpGetDocument document;
    const std::string url = std::string("https://") + c.host + ":" + std::to_string(PortBase() + 48) + "/tlsname.txt";
    const bool got = document.Get(url, "127.0.0.1");
    EXPECT_EQ(got, c.accepted) << c.host << ": " << document.ErrorText();
    if (c.accepted) {
      EXPECT_EQ(document.Body(), "named") << c.host;
    } else {
      EXPECT_NE(document.ErrorText().find(std::string("certificate refused (name mismatch) for host ") + c.host),
                std::string::npos)
          << c.host << ": " << document.ErrorText();
    }
  }
}
