#include "TalverinCore/DictateError.h"

#include <gtest/gtest.h>

#include <string>

namespace talverin::test {
namespace {

// The client and the dictation write the same words for every error, except for what a
// missing backend or consent is called: that difference must survive the shared text.
TEST(DictateError, ReadsTheSameInEveryLineExceptWhatNotConfiguredMeans) {
    struct Row {
        DictateError error;
        std::string client;    // as the cloud client writes it
        std::string dictation; // as the dictation's line writes it
    };
    const Row rows[] = {
        {DictateError::rejected("bad audio"), "rejected bad audio", "rejected bad audio"},
        {DictateError::server(503), "server 503", "server 503"},
        {DictateError::notConfigured(), "not configured", "no consent"},
        {DictateError::offline(), "offline", "offline"},
        {DictateError::timeout(), "timeout", "timeout"},
        {DictateError::limit(), "limit", "limit"},
        {DictateError::editFailed(), "edit failed", "edit failed"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(dictateErrorText(row.error, NotConfiguredMeaning::notConfigured), row.client);
        EXPECT_EQ(dictateErrorText(row.error, NotConfiguredMeaning::noConsent), row.dictation);
    }
}

} // namespace
} // namespace talverin::test
