#include "TalverinCore/CapturedClip.h"
#include "TalverinCore/DictateError.h"
#include "TalverinCore/DictationContext.h"
#include "TalverinCore/InsertOutcome.h"
#include "TalverinCore/KeyCaptureResult.h"
#include "TalverinCore/MicBuffer.h"
#include "TalverinCore/MicError.h"
#include "TalverinCore/PillMenuAction.h"
#include "TalverinCore/PillMetrics.h"
#include "TalverinCore/PillMicrophoneMenu.h"
#include "fakes/FakeElement.h"

#include <gtest/gtest.h>

namespace talverin {
namespace {

using test::FakeElement;

class OtherElement final : public ElementHandle {
public:
    bool sameElement(const ElementHandle&) const override { return false; }
};

TEST(ElementToken, TokensOfOneElementFetchedSeparatelyAreEqual) {
    auto first = FakeElement::token("entry");
    auto again = FakeElement::token("entry");
    ASSERT_NE(first.raw(), again.raw()) << "two handles, as two separate fetches give";
    EXPECT_EQ(first, again);
    EXPECT_NE(first, FakeElement::token("other entry"));
    EXPECT_NE(first, ElementToken(std::make_shared<OtherElement>()));

    ASSERT_NE(first.as<FakeElement>(), nullptr);
    EXPECT_EQ(first.as<FakeElement>()->name(), "entry");
    EXPECT_EQ(first.as<OtherElement>(), nullptr) << "a handle of another layer is no handle";
}

TEST(DictationContext, WindowFrameAndElementTokenTakePartInEquality) {
    DictationContext base{.appName = "Editor", .before = "Hello", .isEditable = true};
    EXPECT_EQ(base, base);

    DictationContext framed = base;
    framed.windowFrame = Rect{{0, 0}, {0, 0}};
    EXPECT_NE(base, framed) << "no frame differs from any frame, even an empty one";

    DictationContext tokened = base;
    tokened.elementToken = FakeElement::token("field");
    EXPECT_NE(base, tokened);

    DictationContext sameField = base;
    sameField.elementToken = FakeElement::token("field");
    EXPECT_EQ(tokened, sameField) << "tokens compare by element, not by handle";

    auto unknown = DictationContext::unknown();
    EXPECT_EQ(unknown, DictationContext{});
    EXPECT_FALSE(unknown.isEditable);
    EXPECT_FALSE(unknown.bundleID.has_value());
}

TEST(Records, PayloadCasesCompareTheirPayloads) {
    EXPECT_NE(PillMenuAction::microphone(std::nullopt), PillMenuAction::microphone("usb-1"));
    EXPECT_EQ(PillMenuAction::microphone("usb-1"), PillMenuAction::microphone("usb-1"));
    EXPECT_NE(PillMenuAction::microphone("usb-1"), PillMenuAction::microphone("usb-2"));
    EXPECT_NE(PillMenuAction::resetSpot(), PillMenuAction::openSettings());

    EXPECT_NE(InsertOutcome::refused(RefuseReason::empty),
              InsertOutcome::refused(RefuseReason::elementChanged));
    EXPECT_NE(InsertOutcome::inserted(), InsertOutcome::copiedOnly());

    EXPECT_NE(KeyCaptureResult::accepted(HoldKey::fn), KeyCaptureResult::accepted(HoldKey::f13));
    EXPECT_NE(KeyCaptureResult::rejected(KeyRejectReason::typing),
              KeyCaptureResult::rejected(KeyRejectReason::combo));
    EXPECT_EQ(KeyCaptureResult::cancelled(), KeyCaptureResult::cancelled());
    EXPECT_EQ(KeyCaptureResult::accepted(HoldKey::f14).key(), HoldKey::f14);

    EXPECT_NE(DictateError::rejected("quota"), DictateError::rejected("bad audio"));
    EXPECT_NE(DictateError::server(500), DictateError::server(503));
    EXPECT_NE(DictateError::offline(), DictateError::timeout());
    EXPECT_EQ(DictateError::server(502).status(), 502);
}

TEST(MicError, DescriptionsAreTheTextsTheLogQuotes) {
    EXPECT_EQ(MicError::device(-10851).description(), "device selection failed (-10851)");
    EXPECT_EQ(MicError::engine("pa_stream_connect_record: Connection refused").description(),
              "engine start failed (pa_stream_connect_record: Connection refused)");
    EXPECT_EQ(MicError::notAuthorized().description(), "microphone not authorized");
    EXPECT_EQ(MicError::noInput().description(), "no input device");
    EXPECT_NE(MicError::device(1), MicError::device(2));
}

TEST(CapturedClip, TheEmptyClipAndEquality) {
    auto empty = CapturedClip::empty();
    EXPECT_TRUE(empty.pcm16kMono().empty());
    EXPECT_FALSE(empty.speechDetected());
    EXPECT_EQ(empty.durationMs(), 0);

    CapturedClip clip({0.1f, 0.2f}, true, 1);
    EXPECT_EQ(clip, CapturedClip({0.1f, 0.2f}, true, 1));
    EXPECT_NE(clip, CapturedClip({0.1f, 0.3f}, true, 1));
    EXPECT_NE(clip, CapturedClip({0.1f, 0.2f}, false, 1));
}

// Blocks are handed on from the audio queue to several consumers; none of them may copy the
// audio itself.
TEST(MicBuffer, CopiesShareTheSamples) {
    MicBuffer buffer(std::vector<float>(1024, 0.5f), 0.5f, 1000.0);
    MicBuffer copy = buffer;
    EXPECT_EQ(copy.samples().data(), buffer.samples().data());
    EXPECT_EQ(copy.time(), 1000.0);
}

TEST(PillMicrophoneMenu, OffersNoDevicesAndSelectsNothingByDefault) {
    PillMicrophoneMenu menu;
    EXPECT_TRUE(menu.devices.empty());
    EXPECT_FALSE(menu.selectedID.has_value());
    PillMicrophoneMenu usb{{{"usb-1", "USB Mic"}}, "usb-1"};
    EXPECT_NE(menu, usb);
    EXPECT_EQ(usb, (PillMicrophoneMenu{{{"usb-1", "USB Mic"}}, "usb-1"}));
}

} // namespace
} // namespace talverin
