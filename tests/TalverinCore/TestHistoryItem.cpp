#include "TalverinCore/HistoryItem.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

namespace talverin {
namespace {

const std::string golden =
    R"({"appName":"Notes","bundleID":"","clean":"Hi there.","date":"2026-03-05T14:07:09.250Z",)"
    R"("id":"1b4e28ba-2fa1-41d2-883f-0016d3cca427","inserted":false,"mode":"edit",)"
    R"("raw":"hi there"})";

HistoryItem goldenItem() {
    return HistoryItem{"1b4e28ba-2fa1-41d2-883f-0016d3cca427",
                       *Wire::date("2026-03-05T14:07:09.250Z"),
                       "Notes",
                       "",
                       "Hi there.",
                       "hi there",
                       false,
                       DictationMode::edit};
}

TEST(HistoryItem, WritesAllEightKeysAndReadsThemBack) {
    EXPECT_EQ(*Wire::encoder().encode(goldenItem()), golden);
    auto back = Wire::decoder().decode<HistoryItem>(golden);
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(*back, goldenItem());
    // A date without a fraction, or in another zone, is the same instant.
    auto offset = Wire::decoder().decode<HistoryItem>(std::regex_replace(
        golden, std::regex("2026-03-05T14:07:09.250Z"), "2026-03-05T17:07:09.250+03:00"));
    ASSERT_TRUE(offset.ok()) << offset.message();
    EXPECT_EQ(offset->date, goldenItem().date);
}

TEST(HistoryItem, EveryKeyIsRequiredAndTyped) {
    const std::string keys[] = {"id",    "date", "appName",  "bundleID",
                                "clean", "raw",  "inserted", "mode"};
    for (const std::string& key : keys) {
        SCOPED_TRACE(key);
        nlohmann::json object = nlohmann::json::parse(golden);
        object.erase(key);
        EXPECT_FALSE(Wire::decodeValue<HistoryItem>(object).ok()) << "missing";
        object[key] = nullptr;
        EXPECT_FALSE(Wire::decodeValue<HistoryItem>(object).ok()) << "null";
        // The number 1 is neither a text nor a flag.
        object[key] = 1;
        EXPECT_FALSE(Wire::decodeValue<HistoryItem>(object).ok()) << "wrong type";
    }
    nlohmann::json object = nlohmann::json::parse(golden);
    object["mode"] = "Edit";
    EXPECT_FALSE(Wire::decodeValue<HistoryItem>(object).ok()) << "unknown mode";
    object["mode"] = "verbatim";
    object["date"] = "2026-03-05";
    EXPECT_FALSE(Wire::decodeValue<HistoryItem>(object).ok()) << "a bare date";
}

TEST(HistoryItem, NewIDsAreFreshLowerCaseUUIDs) {
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = HistoryItem::newID();
        EXPECT_TRUE(std::regex_match(id, form)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

} // namespace
} // namespace talverin
