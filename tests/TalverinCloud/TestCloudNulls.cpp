#include "TalverinCloud/Backend.h"

#include "OpusTestSupport.h"
#include "Runtime/VirtualWorld.h"
#include "TalverinCloud/ClipEncodingNull.h"
#include "TalverinCloud/Connectivity.h"
#include "TalverinCloud/HttpTransportNull.h"
#include "TalverinCloud/MemorySecrets.h"
#include "TalverinCloud/OggOpus.h"
#include "TalverinCloud/OpusFrameEncoderNull.h"
#include "TalverinCloud/PathMonitorNull.h"
#include "TalverinCloud/SecretStoreNull.h"
#include "TalverinCloud/StreamingOpus.h"
#include "fakes/HttpTransportFake.h"
#include "support/LogLines.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

class CloudNullsTest : public ::testing::Test {
protected:
    Backend::TokenReply tokenFrom(Backend& backend) {
        auto reply = backend.token();
        world.runUntilIdle();
        EXPECT_TRUE(reply.isReady());
        return reply.peek().value_or(Backend::TokenReply{BackendError::timeout()});
    }

    VirtualWorld world;
    test::LogLines log;
};

// Without an HTTP library every renewal fails at once, and the request path says why.
TEST_F(CloudNullsTest, NoTransportFailsEachRequestWithItsReason) {
    auto transport = std::make_shared<HttpTransportNull>("libcurl cannot start");
    EXPECT_EQ(transport->reason(), "libcurl cannot start");
    Backend backend("https://abc.example.co", "k", transport, std::make_shared<MemorySecrets>(),
                    [] { return true; });
    EXPECT_EQ(std::get<BackendError>(tokenFrom(backend)),
              BackendError::service("unavailable (libcurl cannot start)"));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Cloud: net: POST /auth/v1/signup "
                                                    "unavailable (libcurl cannot start) (0 ms)"});
}

// Without a keyring the account lives for the run: the cloud still works, and nothing is
// logged at every renewal.
TEST_F(CloudNullsTest, NoKeyringStillGivesTokens) {
    auto secrets = std::make_shared<SecretStoreNull>("no Secret Service on the session bus");
    const auto read = secrets->get("refreshToken");
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error(), SecretStoreError::unavailable);
    EXPECT_EQ(read.message(), "no Secret Service on the session bus");
    EXPECT_EQ(secrets->set("refreshToken", "r").error(), SecretStoreError::unavailable);
    EXPECT_EQ(secrets->remove("refreshToken").error(), SecretStoreError::unavailable);

    Backend backend("https://abc.example.co", "k", std::make_shared<test::HttpTransportFake>(),
                    secrets, [] { return true; });
    EXPECT_EQ(std::get<std::string>(tokenFrom(backend)), "access-1");
    EXPECT_TRUE(log.starting("Cloud: keychain: ").empty());
}

// A machine whose network cannot be watched counts as online: requests find out for
// themselves.
TEST_F(CloudNullsTest, NoNetworkMonitorCountsAsOnline) {
    auto monitor = std::make_unique<PathMonitorNull>("no network monitor");
    EXPECT_EQ(monitor->reason(), "no network monitor");
    Connectivity connectivity(std::move(monitor));
    connectivity.start();
    world.runUntilIdle();
    EXPECT_TRUE(connectivity.isOnline());
}

TEST_F(CloudNullsTest, NoClipEncoderKeepsNothing) {
    ClipEncodingNull encoding("no encoder");
    EXPECT_EQ(encoding.reason(), "no encoder");
    encoding.append(MicBuffer(test::speechLike(1600), 0, 0));
    EXPECT_TRUE(encoding.finish().empty());
    encoding.cancel();
    EXPECT_TRUE(encoding.finish().empty());
}

// Without the codec a clip still goes, as WAV.
TEST_F(CloudNullsTest, NoOpusEncoderSendsTheClipAsWav) {
    OpusFrameEncoderNull encoder("no libopus");
    EXPECT_EQ(encoder.encodeFrame(std::vector<float>(960)).error(), OpusFrameError::cannotEncode);
    const auto samples = test::speechLike(3200, 4);
    StreamingOpus stream(3, true, OpusFrameEncoderNull::maker("no libopus"));
    stream.append(std::span<const float>(samples));
    EXPECT_EQ(stream.finishClip(), (EncodedClip{OggOpus::wav(samples), "audio/wav", 0.2}));
}

} // namespace
} // namespace talverin
